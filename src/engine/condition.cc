#include "engine/data_file.h"

#include <string>

#include "config/config_data.h"
#include "engine/condition_line.h"
#include "engine/entry_line.h"
#include "messages/nls_class.h"
#include "profile/profile.h"

bool DataFile::testCondition(std::string& line) {
  ConditionLine condition = parseConditionLine(line);
  const EntryField& fourth = condition.fourth;

  bool tracing = config->isDebug();
  if (tracing) {
    messages->print(condition.isRegistry ? "Testing Registry Condition\n" : "Testing Condition\n");
    messages->print("\tbranch : %s\n", orNull(fieldText(condition.branch)));
    messages->print("\tOS     : %s\n", orNull(fieldText(condition.os)));
    messages->print("\tforce  : %s\n", orNull(fieldText(condition.mode)));
    messages->print("\tsection: %s\n", orNull(fieldText(fourth)));
    if (condition.isRegistry) {
      messages->print("\tpath   : %s\n", orNull(fieldText(condition.path)));
    }
    messages->print("\tkey    : %s\n", orNull(fieldText(condition.key)));
    messages->print("\trange s: %s\n", orNull(fieldText(condition.start)));
    messages->print("\trange e: %s\n", orNull(fieldText(condition.end)));
  }

  if (!isFilled(fourth) || !isFilled(condition.os) ||
      (!condition.isRegistry && !isFilled(condition.key))) {
    return false;
  }
  line = *condition.branch;

  int osNumber = 0;
  bool osIsNumber = readConditionNumber(condition.os->c_str(), &osNumber);
  if (tracing) {
    messages->print("Testing OS\n");
    messages->print("\tDatafile:  %d\n", osNumber);
    messages->print("\tDetection: %d\n", config->getPlatform());
  }
  if (!osIsNumber || config->getPlatform() != osNumber) {
    return false;
  }
  if (tracing) {
    messages->print("Testing Condition\n");
  }

  std::string value;
  switch (lookUpConditionValue(condition, config->getRootIni(), &value)) {
    case ConditionLookup::kKeyNotOpened:
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\n", kBel, messages->getMessage(19),
                        fourth->c_str(),
                        orNull(isFilled(condition.path) ? fieldText(condition.path) : nullptr));
      return false;
    case ConditionLookup::kValueNotRead:
      messages->printTo(stderr, "\n%c%s:\n\t%s\\%s\\%s\n", kBel, messages->getMessage(27),
                        fourth->c_str(),
                        orNull(isFilled(condition.path) ? fieldText(condition.path) : nullptr),
                        orNull(isFilled(condition.key) ? fieldText(condition.key) : nullptr));
      return false;
    case ConditionLookup::kFound:
      break;
  }

  if (value.empty()) {
    return false;
  }
  trimBlanks(value);
  if (tracing) {
    messages->print("\tTest Val: %s\n", value.c_str());
  }
  return conditionValueHolds(value, condition);
}
