#include <gtest/gtest.h>

#include <string>

#include "support/engine_fixture.h"

namespace {

using SectionTest = EngineTest;

TEST_F(SectionTest, MissingSectionIsReported) {
  start("[Patch]\r\n[Main]\r\n");
  config.setDebug(1);
  beginCapture();
  dataFile->processSection("Nope");
  endCapture();
  EXPECT_EQ("Processing section: Nope\n", out);
  EXPECT_EQ("\n\aM18\n", err);
}

TEST_F(SectionTest, SkipsBlanksAndCommentsAndReportsUnknownLinesOnce) {
  start(
      "[Main]\r\n"
      "\r\n  ; a comment\r\n// another\r\n \t \r\n"
      " ini1=TAVRO,OUT.INI,S,First,1 \r\n"
      "INI1 =TAVRO,OUT.INI,S,Bad,1\r\n"
      "INI2=TAVRO,OUT.INI,S,Second,2\r\n"
      "[Next]\r\nINI3=TAVRO,OUT.INI,S,Third,3\r\n");
  beginCapture();
  dataFile->processSection("main");
  endCapture();
  EXPECT_EQ("", out);
  EXPECT_EQ("\n\aM18\n", err);
  EXPECT_EQ("[S]\r\nFirst=1\r\nSecond=2\r\n", read("ROOT/OUT.INI"));
}

TEST_F(SectionTest, IniValueIsSubstitutedAndWrittenWhole) {
  // A value far longer than an entry line once the directories are in.
  std::string tail(300, 'v');
  start("[Main]\r\nINI=WINDOWS,OUT.INI,Paths,Driver,\\\\TAVRO\\\\W.DRV;\\\\windows\\\\" + tail +
        "\r\nINI=WINDOWS,OUT.INI,Paths,Empty,\r\n");
  config.setDebug(1);
  beginCapture();
  dataFile->processSection("Main");
  endCapture();
  std::string value = rootDir + "\\W.DRV;" + windowsDir + "\\" + tail;
  EXPECT_EQ("[Paths]\r\nDriver=" + value + "\r\nEmpty=\r\n", read("WIN/OUT.INI"));
  EXPECT_NE(std::string::npos, out.find("\tINI\n\t\tfilename : " + windowsDir +
                                        "\\OUT.INI\n\t\tsection  : Paths\n"
                                        "\t\tkey      : Driver\n\t\tvalue    : " +
                                        value + "\n"));
}

TEST_F(SectionTest, ShortIniEntriesDeleteAKeyOrASection) {
  temp.write("ROOT/OUT.INI", "[A]\r\nk=1\r\nm=2\r\n\r\n[B]\r\nx=1\r\n");
  start("[Main]\r\nINI=TAVRO,OUT.INI,A,k\r\nINI=TAVRO,OUT.INI,B\r\n");
  config.setDebug(1);
  beginCapture();
  dataFile->processSection("Main");
  endCapture();
  EXPECT_EQ("[A]\r\nm=2\r\n\r\n", read("ROOT/OUT.INI"));
  EXPECT_NE(std::string::npos, out.find("\t\tkey      : (null)\n\t\tvalue    : (null)\n"));
}

TEST_F(SectionTest, UnusableIniEntriesChangeNothing) {
  start(
      "[Main]\r\n"
      "INI=TAVRO,OUT.INI,,k,v\r\n"
      "INI=TAVRO,,S,k,v\r\n"
      "INI=TAVRO\r\n"
      "INI=SYSTEM,OUT.INI,S,k,v\r\n"
      "INI=,OUT.INI,S,k,v\r\n");
  beginCapture();
  dataFile->processSection("Main");
  endCapture();
  std::string five;
  for (int i = 0; i < 5; ++i) five += "\n\aM18\n";
  EXPECT_EQ(five, err);
  EXPECT_FALSE(temp.exists("ROOT/OUT.INI"));
  EXPECT_FALSE(temp.exists("OUT.INI"));
}

TEST_F(SectionTest, RegistryLineIsHandedOnWhole) {
  start("[Main]\r\nreg1=HKCU,Software\\\\Vendor,Version,1.0\r\n");
  config.setDebug(1);
  beginCapture();
  dataFile->processSection("Main");
  endCapture();
  EXPECT_EQ(
      "Processing section: Main\n\tRegistry\nEntered processRegistry\n\tsection: HKCU\n"
      "\tpath:    Software\\Vendor\n\tkey:     Version\n\tvalue:   1.0\n"
      "Creating/Changing a registry key\n",
      out);
  EXPECT_EQ("", err);
}

}  // namespace
