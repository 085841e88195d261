#include "config/config_data.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ConfigDataTest, TextsAreCutAt259Characters) {
  ConfigData config;
  std::string text(300, 'p');
  config.setRebootProgram(text);
  config.setProgramDir(text.substr(0, 259));
  EXPECT_EQ(config.getRebootProgram(), text.substr(0, 259));
  EXPECT_EQ(config.getProgramDir(), text.substr(0, 259));
}

TEST(ConfigDataTest, FlagsCountOnlyWhenExactlyOne) {
  ConfigData config;
  EXPECT_TRUE(config.isBackup());
  EXPECT_FALSE(config.isInteractive() || config.isForce() || config.isRebootNeeded());
  for (int value : {2, -1, 0}) {
    config.setInteractive(value);
    config.setRebootNeeded(value);
    config.setDebug(value);
    config.setDeferred(value);
    config.setForce(value);
    config.setBackup(value);
    EXPECT_FALSE(config.isInteractive() || config.isRebootNeeded() || config.isDebug() ||
                 config.isDeferred() || config.isForce() || config.isBackup())
        << value;
    EXPECT_EQ(config.getRebootNeeded(), value);
  }
  config.setInteractive(1);
  config.setRebootNeeded(1);
  config.setDebug(1);
  config.setDeferred(1);
  config.setForce(1);
  config.setBackup(1);
  EXPECT_TRUE(config.isInteractive() && config.isRebootNeeded() && config.isDebug() &&
              config.isDeferred() && config.isForce() && config.isBackup());
}

}  // namespace
