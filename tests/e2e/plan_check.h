// The dry run held against the run: tvpcheck --plan on a machine, then the
// installer, then the restart, and every planned line compared with what
// happened. Shared by the example patches and the generated ones.
#ifndef TESTS_E2E_PLAN_CHECK_H_
#define TESTS_E2E_PLAN_CHECK_H_

#include <map>
#include <string>
#include <utility>

#include "e2e/machine.h"

// Every file and directory below the machine's directories with its bytes
// and last-write time in nanoseconds; under Wine only the files at the top
// of the Windows directory, which is the prefix's and holds the system.
using Snapshot = std::map<std::string, std::pair<std::string, long long>>;
Snapshot snapshot(const Machine& machine);

// Plans the patch in the machine's patch directory, checks that the plan
// changed nothing, runs the installer and the restart, and adds a test
// failure for every planned line that did not happen and every change that
// was not planned. Returns the plan, for a trace. With removePatch, the run
// is the removal of that installed patch.
std::string expectPlanIsTheRun(Machine& machine, const std::string& removePatch = "");

// The machine as the removal of a patch must give it back: below the product
// root and the Windows directory, each file's bytes and, but for INI files,
// which every edit stamps anew and writes with CR LF line ends, its time;
// the registry's values. The product's ARCHIVE, what a restart leaves
// (WININIT.BAK) and the patch directory are left out.
Snapshot restorable(const Machine& machine);

// A test failure for every file that differs between the two.
void expectSame(const Snapshot& expected, const Snapshot& actual);

#endif  // TESTS_E2E_PLAN_CHECK_H_
