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
// was not planned. Returns the plan, for a trace.
std::string expectPlanIsTheRun(Machine& machine);

#endif  // TESTS_E2E_PLAN_CHECK_H_
