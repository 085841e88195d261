// A scratch machine for the engine's unit tests: a Windows directory (WIN)
// and a product root (ROOT) in a fresh temporary directory, which is also the
// patch directory beside the program, both TAVRO.INI profiles, a catalogue
// whose message n reads "Mn", a registry file of the stand-in, and a
// DataFile over an installation profile the test writes. The environment the
// stand-ins read and every fault hook come back as they were when the test
// ends.
#ifndef TESTS_SUPPORT_ENGINE_FIXTURE_H_
#define TESTS_SUPPORT_ENGINE_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/config_data.h"
#include "engine/data_file.h"
#include "messages/nls_class.h"
#include "profile/profile.h"
#include "support/environment_guard.h"
#include "support/fault_hooks.h"
#include "support/temp_dir.h"

class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  ~EngineTest() override;

  // Writes the installation profile and the TAVRO.INI files given, then
  // creates the run's objects over them as the run driver would.
  void start(const std::string& profileText, const std::string& rootIniText = "",
             const std::string& windowsIniText = "");

  // Carries out a section S holding `entries` with the archive directories
  // in place, and returns what the entries wrote to the log after the
  // section's own trace line.
  std::string runSection(const std::string& entries);

  // Output between beginCapture and endCapture lands in out and err.
  void beginCapture();
  void endCapture();

  // Bytes of a file below the temporary directory, "" when absent.
  std::string read(const std::string& relative) const;
  // A file below the product root as the installer names it.
  std::string inRoot(const std::string& tail) const { return rootDir + "\\" + tail; }

  EnvironmentGuard environment;
  FaultHooks hooks;
  TempDir temp;
  std::string windowsDir;
  std::string rootDir;
  ConfigData config;
  std::unique_ptr<NLSClass> messages;
  std::unique_ptr<Profile> windowsIni;
  std::unique_ptr<Profile> rootIni;
  std::unique_ptr<DataFile> dataFile;
  std::string out;
  std::string err;
};

#endif  // TESTS_SUPPORT_ENGINE_FIXTURE_H_
