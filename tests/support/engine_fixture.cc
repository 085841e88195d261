#include "support/engine_fixture.h"

#include <filesystem>

EngineTest::EngineTest() {
  windowsDir = temp.file("WIN");
  rootDir = temp.file("ROOT");
  std::filesystem::create_directories(windowsDir);
  std::filesystem::create_directories(rootDir);
  environment.set("WINDIR", windowsDir);
  environment.set("TVPAT_REGISTRY", temp.file("REGISTRY.REG"));
  std::string catalogue;
  for (int n = 1; n <= 45; ++n) catalogue += "M" + std::to_string(n) + "\n";
  temp.write("TVPAT32.MSG", catalogue);
  messages = std::make_unique<NLSClass>(temp.file("TVPAT32.MSG"));
  messages->load();
  config.setWindowsDir(windowsDir);
  config.setRootDir(rootDir);
  config.setProgramDir(temp.getPath());
  config.setPlatform(kPlatformWindowsNt);
  config.setInteractive(1);
}

EngineTest::~EngineTest() {
  // The data file writes its profiles back as it goes: without faults, and
  // while the environment still names this machine.
  hooks.clear();
  dataFile.reset();
}

void EngineTest::start(const std::string& profileText, const std::string& rootIniText,
                       const std::string& windowsIniText) {
  // Profiles of an earlier start write their edits back when they go, so
  // they must go before the files are written afresh.
  dataFile.reset();
  windowsIni.reset();
  rootIni.reset();
  temp.write("TVPAT32.DAT", profileText);
  if (!rootIniText.empty()) temp.write("ROOT/TAVRO.INI", rootIniText);
  if (!windowsIniText.empty()) temp.write("WIN/TAVRO.INI", windowsIniText);
  windowsIni = std::make_unique<Profile>(windowsDir + "/TAVRO.INI");
  rootIni = std::make_unique<Profile>(rootDir + "/TAVRO.INI");
  config.setWindowsIni(windowsIni.get());
  config.setRootIni(rootIni.get());
  dataFile = std::make_unique<DataFile>(temp.file("TVPAT32.DAT"), &config, messages.get());
}

std::string EngineTest::runSection(const std::string& entries) {
  std::filesystem::create_directories(temp.file("ROOT/ARCHIVE/TEMP"));
  messages->openLog(temp.file("run.log"), 0);
  beginCapture();
  start("[S]\r\n" + entries);
  dataFile->processSection("S");
  // The data file goes before the log closes: what it prints as it goes
  // belongs to the run.
  dataFile.reset();
  endCapture();
  messages->openLog("", 0);
  std::string log = read("run.log");
  const std::string sectionLine = "Processing section: S\n";
  std::size_t begin = log.find(sectionLine);
  return begin == std::string::npos ? log : log.substr(begin + sectionLine.size());
}

void EngineTest::beginCapture() {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
}

void EngineTest::endCapture() {
  out = ::testing::internal::GetCapturedStdout();
  err = ::testing::internal::GetCapturedStderr();
}

std::string EngineTest::read(const std::string& relative) const {
  return temp.read(relative).value_or("");
}
