#include "platform/what_if_backend.h"

#include "platform/name_case.h"
#include "platform/what_if_failure.h"
#include "platform/what_if_file_overlay.h"
#include "platform/what_if_registry_overlay.h"

namespace platform {

WhatIfBackend::WhatIfBackend(Backend& machine)
    : machine(machine),
      files(std::make_unique<FileOverlay>()),
      registry(std::make_unique<RegistryOverlay>()) {}

WhatIfBackend::~WhatIfBackend() = default;

void WhatIfBackend::noteChangedPath(const std::string& path, const std::string& key) {
  auto found = changedPathIndex.find(key);
  if (found != changedPathIndex.end()) {
    changedPaths[found->second].tag = tag;
    return;
  }
  changedPathIndex.emplace(key, changedPaths.size());
  changedPaths.push_back({path, tag});
}

void WhatIfBackend::noteChangedKey(const std::string& keyPath, const char* valueName) {
  std::string key = keyPath;
  if (valueName != nullptr) key += std::string("\n") + valueName;
  for (char& c : key) c = upperNameCase(c);
  auto found = changedKeyIndex.find(key);
  if (found != changedKeyIndex.end()) {
    changedKeys[found->second].tag = tag;
    return;
  }
  changedKeyIndex.emplace(key, changedKeys.size());
  ChangedKey changed;
  changed.keyPath = keyPath;
  changed.isValue = valueName != nullptr;
  changed.valueName = valueName != nullptr ? valueName : "";
  changed.tag = tag;
  changedKeys.push_back(changed);
}

Status WhatIfBackend::scheduleMoveAtRestart(const std::string& source, const char* destination,
                                            unsigned long flags) {
  // Only the systems that replace a file in one step have MoveFileExA.
  if (!machine.hasOneStepReplace()) return whatIfFailure(WhatIfFailure::kNotImplemented);
  RestartStep step;
  step.source = source;
  step.isDeletion = destination == nullptr;
  step.destination = destination != nullptr ? destination : "";
  step.flags = flags;
  step.tag = tag;
  restartSteps.push_back(step);
  return Status::success();
}

Status WhatIfBackend::startProcess(const std::string& program,
                                   const std::vector<std::string>& arguments) {
  // The program would have to be there when the run starts it, as the run
  // itself left the machine.
  if (!testPath(program).ok) return whatIfFailure(WhatIfFailure::kFileNotFound);
  startedPrograms.push_back({program, arguments, tag});
  return Status::success();
}

}  // namespace platform
