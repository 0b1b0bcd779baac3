#include "platform/IniFile.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "ScratchFolder.h"

namespace ospry {
namespace {

using testutil::TScratchFolder;

std::string Content(const std::string& path) {
  std::string out;
  ReadWholeFile(path, out);
  return out;
}

void Put(const std::string& path, const std::string& text) {
  ASSERT_TRUE(WriteWholeFile(path, text.data(), static_cast<std::int64_t>(text.size())));
}

TEST(IniFile, MissingFileOrKeyGivesTheDefault) {
  TScratchFolder scratch;
  TIniFile ini(scratch / "missing.ini");
  EXPECT_EQ(ini.ReadString("General", "Keepdays", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("General", "Keepdays", 30), 30);
  EXPECT_FALSE(FileExists(ini.Path()));  // reading creates nothing
  Put(ini.Path(), "[General]\nOther=1\n[Next]\nKeepdays=5\n");
  EXPECT_EQ(ini.ReadInteger("General", "Keepdays", 30), 30);  // key in another section
}

TEST(IniFile, NamesMatchWithoutCaseAndBlanksAreTrimmed) {
  TScratchFolder scratch;
  TIniFile ini(scratch / "a.ini");
  Put(ini.Path(), "; comment=1\r\n[ DEBUG ]\r\n  logLevel = 2 \r\nlogFile=DEBUG.log\r\nlogLevel=9\r\n");
  EXPECT_EQ(ini.ReadInteger("debug", "LOGLEVEL", 0), 2);  // the first of equal keys
  EXPECT_EQ(ini.ReadString("Debug", "logfile", ""), "DEBUG.log");
  EXPECT_EQ(ini.ReadString("", "; comment", "none"), "none");
}

TEST(IniFile, WritingKeepsEverythingElse) {
  TScratchFolder scratch;
  TIniFile ini(scratch / "a.ini");
  Put(ini.Path(),
      "; kept comment\r\n[Other]\r\nx = 1\r\nunknown line\r\n\r\n[General]\r\nKeepDays=7\r\n\r\n[Tail]\r\ny=2");
  ASSERT_TRUE(ini.WriteInteger("general", "keepdays", 30));  // replaced, spelling kept
  ASSERT_TRUE(ini.WriteString("Other", "added", "v"));       // after the section's last line
  ASSERT_TRUE(ini.WriteString("New", "k", "a b"));           // a new section at the end
  EXPECT_EQ(Content(ini.Path()),
            "; kept comment\r\n[Other]\r\nx = 1\r\nunknown line\r\nadded=v\r\n\r\n"
            "[General]\r\nKeepDays=30\r\n\r\n[Tail]\r\ny=2\r\n\r\n[New]\r\nk=a b\r\n");
  EXPECT_EQ(ini.ReadInteger("GENERAL", "KeepDays", 0), 30);
  EXPECT_EQ(ini.ReadString("new", "K", ""), "a b");
}

TEST(IniFile, WriteCreatesAMissingFile) {
  TScratchFolder scratch;
  TIniFile ini(scratch / "new.ini");
  ASSERT_TRUE(ini.WriteString("DEBUG", "logLevel", "0"));
  ASSERT_TRUE(ini.WriteString("DEBUG", "logFile", "DEBUG.log"));
  EXPECT_EQ(Content(ini.Path()), "[DEBUG]\nlogLevel=0\nlogFile=DEBUG.log\n");
  TIniFile inMissingFolder(scratch / "no/such/folder.ini");
  EXPECT_FALSE(inMissingFolder.WriteString("a", "b", "c"));
}

TEST(IniFile, RefusesWritesThatWouldBreakTheFile) {
  TScratchFolder scratch;
  TIniFile ini(scratch / "a.ini");
  Put(ini.Path(), "[a]\nk=1\n");
  EXPECT_FALSE(ini.WriteString("a", "k", "1\n[b]"));
  EXPECT_FALSE(ini.WriteString("a", "k=x", "1"));
  EXPECT_FALSE(ini.WriteString("a]", "k", "1"));
  EXPECT_FALSE(ini.WriteString("a", "", "1"));
  EXPECT_FALSE(ini.WriteValues({{"a", "ok", "1"}, {"a", "bad", "x\ny"}}));
  EXPECT_EQ(Content(ini.Path()), "[a]\nk=1\n");  // all or nothing
  // An oversized file reads as empty and is never rewritten.
  ASSERT_EQ(::truncate(ini.Path().c_str(), 5 << 20), 0);
  EXPECT_EQ(ini.ReadInteger("a", "k", 7), 7);
  EXPECT_FALSE(ini.WriteString("a", "k", "2"));
  EXPECT_EQ(FileSize(ini.Path()), 5 << 20);
}

TEST(IniFile, IntegersParseStrictly) {
  TScratchFolder scratch;
  TIniFile ini(scratch / "a.ini");
  struct TCase {
    const char* text;
    int expected;
  };
  const TCase cases[] = {{"42", 42},          {"-7", -7},         {"+3", 3},
                         {"0x1F", 31},        {"$10", 16},        {"010", 10},
                         {"2147483647", 2147483647},              {"-2147483648", -2147483647 - 1},
                         {"2147483648", -99}, {"99999999999999999999", -99},
                         {"12abc", -99},      {"", -99},          {"-", -99},
                         {"0x", -99},         {"1 2", -99}};
  for (const TCase& c : cases) {
    ASSERT_TRUE(ini.WriteString("n", "v", c.text));
    EXPECT_EQ(ini.ReadInteger("n", "v", -99), c.expected) << c.text;
  }
}

}  // namespace
}  // namespace ospry
