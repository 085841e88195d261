// Fuzzes the run journal as a later run reads it: arbitrary bytes after a
// valid identity. Whatever the records hold, every undo step read must come
// back the same when a run writes it again, and reading must never fail.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fileops/run_journal.h"
#include "support/fuzz_check.h"
#include "support/temp_dir.h"

namespace {

const TempDir& scratch() {
  static TempDir directory;
  return directory;
}

void check(bool condition, const char* what) { fuzzCheck(condition, "fuzz_journal", what); }

bool sameStep(const RunJournal::UndoStep& a, const RunJournal::UndoStep& b) {
  return a.kind == b.kind && a.path == b.path && a.other == b.other && a.key == b.key &&
         a.present == b.present && a.value == b.value && a.type == b.type && a.size == b.size &&
         a.time == b.time;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const RunJournal::Identity identity = {"FIX12", "0123456789abcdef", 2};
  scratch().write("TVRUN.JNL",
                  "TVPAT32 RUN JOURNAL 1\r\nPatch=FIX12\r\nProfile=0123456789abcdef\r\nKind=2\r\n" +
                      std::string(reinterpret_cast<const char*>(data), size));
  RunJournal journal(scratch().file("TVRUN.JNL"));
  check(journal.read(identity) == RunJournal::Standing::kSame, "its own journal not the same");
  const std::vector<RunJournal::UndoStep> steps = journal.getUndoSteps();
  journal.isFilledIn(scratch().file("HELP.INI"));

  // The steps, written by a run of another patch and read back.
  scratch().write("AGAIN.JNL", "");
  {
    RunJournal again(scratch().file("AGAIN.JNL"));
    again.read({"FIX13", "", 2});
    check(again.recordUndo(steps), "steps read could not be written again");
  }
  RunJournal reread(scratch().file("AGAIN.JNL"));
  reread.read({"FIX13", "", 2});
  check(reread.getUndoSteps().size() == steps.size(), "steps lost on the way back");
  for (std::size_t i = 0; i < steps.size() && i < reread.getUndoSteps().size(); ++i) {
    check(sameStep(steps[i], reread.getUndoSteps()[i]), "a step came back changed");
  }
  return 0;
}
