#include "engine/data_file.h"

#include <string>

#include "base/decimal_number.h"
#include "config/config_data.h"
#include "engine/condition_line.h"
#include "engine/entry_line.h"
#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "profile/profile.h"

namespace {

void traceCondition(NLSClass* messages, const ConditionLine& condition) {
  messages->print(condition.isRegistry ? "Testing Registry Condition\n" : "Testing Condition\n");
  messages->print("\tbranch : %s\n", orNull(fieldText(condition.branch)));
  messages->print("\tOS     : %s\n", orNull(fieldText(condition.os)));
  messages->print("\tforce  : %s\n", orNull(fieldText(condition.mode)));
  messages->print("\tsection: %s\n", orNull(fieldText(condition.fourth)));
  if (condition.isRegistry) {
    messages->print("\tpath   : %s\n", orNull(fieldText(condition.path)));
  }
  messages->print("\tkey    : %s\n", orNull(fieldText(condition.key)));
  messages->print("\trange s: %s\n", orNull(fieldText(condition.start)));
  messages->print("\trange e: %s\n", orNull(fieldText(condition.end)));
}

// The error line of a registry condition whose value cannot be had.
void reportLookupFailure(NLSClass* messages, ConditionLookup lookup,
                         const ConditionLine& condition) {
  const char* path = orNull(isFilled(condition.path) ? fieldText(condition.path) : nullptr);
  if (lookup == ConditionLookup::kKeyNotOpened) {
    messages->printError(kMessageKeyNotOpened, ":\n\t%s\\%s", condition.fourth->c_str(), path);
  } else {
    messages->printError(kMessageValueNotRead, ":\n\t%s\\%s\\%s", condition.fourth->c_str(), path,
                         orNull(isFilled(condition.key) ? fieldText(condition.key) : nullptr));
  }
}

}  // namespace

bool DataFile::testCondition(std::string& line) {
  ConditionLine condition = parseConditionLine(line);
  bool tracing = config->isDebug();
  if (tracing) traceCondition(messages, condition);
  if (!isFilled(condition.fourth) || !isFilled(condition.os) ||
      (!condition.isRegistry && !isFilled(condition.key))) {
    return false;
  }
  line = *condition.branch;

  int osNumber = 0;
  bool osIsNumber = readDecimalNumber(condition.os->c_str(), &osNumber);
  if (tracing) {
    messages->print("Testing OS\n");
    messages->print("\tDatafile:  %d\n", osNumber);
    messages->print("\tDetection: %d\n", config->getPlatform());
  }
  if (!osIsNumber || config->getPlatform() != osNumber) return false;
  if (tracing) messages->print("Testing Condition\n");

  std::string value;
  ConditionLookup lookup = lookUpConditionValue(condition, config->getRootIni(), &value);
  if (lookup != ConditionLookup::kFound) {
    reportLookupFailure(messages, lookup, condition);
    return false;
  }
  if (value.empty()) return false;
  trimBlanks(value);
  if (tracing) messages->print("\tTest Val: %s\n", value.c_str());
  return conditionValueHolds(value, condition);
}
