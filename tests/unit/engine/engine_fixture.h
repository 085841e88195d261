// A scratch machine for the engine's unit tests: a Windows directory and a
// product root in a fresh temporary directory, both TAVRO.INI profiles, a
// catalogue whose message n reads "Mn", a registry file of the stand-in, and
// a DataFile over an installation profile the test writes.
#ifndef TESTS_UNIT_ENGINE_ENGINE_FIXTURE_H_
#define TESTS_UNIT_ENGINE_ENGINE_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/config_data.h"
#include "engine/data_file.h"
#include "messages/nls_class.h"
#include "profile/profile.h"
#include "support/temp_dir.h"

class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  ~EngineTest() override;

  // Writes the installation profile and the TAVRO.INI files given, then
  // creates the run's objects over them as the run driver would.
  void start(const std::string& profileText, const std::string& rootIniText = "",
             const std::string& windowsIniText = "");

  // Output between beginCapture and endCapture lands in out and err.
  void beginCapture();
  void endCapture();

  // Bytes of a file below the temporary directory, "" when absent.
  std::string read(const std::string& relative) const;

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

#endif  // TESTS_UNIT_ENGINE_ENGINE_FIXTURE_H_
