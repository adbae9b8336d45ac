// Private profile reading and writing: the Windows profile service's rules
// on VTR.INI-style files, and byte-for-byte preservation of what a write
// does not touch.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/platform/temp_dir.h"

namespace {

using vtr::test::TempDir;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("VTR422_PROFILE_DIR", dir_.path().c_str(), 1); }
  void TearDown() override { unsetenv("VTR422_PROFILE_DIR"); }

  std::string PathOf(const char* name) const { return dir_.path() + "/" + name; }
  void Put(const std::string& content, const char* name = "VTR.INI") const {
    std::ofstream(PathOf(name), std::ios::binary) << content;
  }
  std::string Get() const { return vtr::test::ReadAll(PathOf("VTR.INI")); }

  TempDir dir_;
};

struct ReadCase {
  const char* name;
  std::string file;
  const char* section;
  const char* key;
  INT expected;  // the default is 7
};

TEST_F(ProfileTest, ReadsValuesAsTheProfileServiceDoes) {
  const std::string longJunk(100000, 'z');
  const ReadCase cases[] = {
      {"names ignore case", "[VideoTape1]\npreroll=5\n", "videotape1", "PREROLL", 5},
      {"blanks around key and value", "[a]\n  \tX  =   42  \n", "a", "X", 42},
      {"blanks inside header", "[ a ]\nX=1\n", "a", "X", 1},
      {"plus sign", "[a]\nX=+8\n", "a", "X", 8},
      {"double quotes", "[a]\nX=\"77\"\n", "a", "X", 77},
      {"single quotes", "[a]\nX='-3'\n", "a", "X", -3},
      {"unmatched quotes are text", "[a]\nX=\"77'\n", "a", "X", 0},
      {"stops at first non-digit", "[a]\nX=12abc\n", "a", "X", 12},
      {"not a number", "[a]\nX=abc\n", "a", "X", 0},
      {"blank value", "[a]\nX=   \n", "a", "X", 7},
      {"empty quoted value", "[a]\nX=\"\"\n", "a", "X", 7},
      {"absent key", "[a]\nY=1\n", "a", "X", 7},
      {"absent section", "[b]\nX=1\n", "a", "X", 7},
      {"key of another section", "[b]\nX=1\n[a]\nY=2\n", "a", "X", 7},
      {"key before any header", "X=1\n[a]\n", "a", "X", 7},
      {"first key wins", "[a]\nX=1\nx=2\n", "a", "X", 1},
      {"first section wins", "[a]\nX=1\n[A]\nX=2\n", "a", "X", 1},
      {"only the first section is searched", "[a]\nX=1\n[A]\nY=2\n", "a", "Y", 7},
      {"line without equals is no key", "[a]\nX\nX=5\n", "a", "X", 5},
      {"header without bracket is no header", "[a]\n[b\nX=3\n", "a", "X", 3},
      {"no section from broken header", "[a]\n[b\nX=3\n", "b", "X", 7},
      {"comment line", "[a]\n;X=4\n", "a", "X", 7},
      {"CRLF line ends", "[a]\r\nX=9\r\n", "a", "X", 9},
      {"last line unterminated", "[a]\nX=11", "a", "X", 11},
      {"NUL inside value", std::string("[a]\nX=1\0002\n", 10), "a", "X", 1},
      {"binary file", std::string("\0\1\2[\0]\377\376=\0", 10), "a", "X", 7},
      {"over-long line before key", "[a]\n" + longJunk + "\nX=5\n", "a", "X", 5},
      {"over-long value", "[a]\nX=5" + longJunk + "\n", "a", "X", 5},
      {"overflow wraps like a 32-bit atoi", "[a]\nX=4294967297\n", "a", "X", 1},
      {"UTF-8 byte-order mark before the first header", "\xEF\xBB\xBF[videotape]\r\nComPort=5\r\n",
       "videotape", "ComPort", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put(c.file);
    EXPECT_EQ(static_cast<INT>(GetPrivateProfileIntA(c.section, c.key, 7, "VTR.INI")), c.expected);
  }
}

struct WriteCase {
  const char* name;
  std::string before;  // empty: no file
  const char* section;
  std::vector<ProfileKeyValue> pairs;  // one write (WritePrivateProfileStringA is a write of one)
  std::string after;
};

TEST_F(ProfileTest, WritesChangeOnlyTheirLine) {
  // clang-format off
  const WriteCase cases[] = {
      {"creates the file", "", "videotape", {{"ComPort", "2"}}, "[videotape]\nComPort=2\n"},
      {"replaces in place, keeping spelling and indent",
       "[VideoTape]\n; tuned by hand\n  preRoll = 5\nOther=x\n\n[b]\nk=1\n", "videotape",
       {{"PreRoll", "300"}}, "[VideoTape]\n; tuned by hand\n  preRoll=300\nOther=x\n\n[b]\nk=1\n"},
      {"new key after the section's last key", "[a]\nx=1\n\n; about b\n[b]\n", "a", {{"y", "2"}},
       "[a]\nx=1\ny=2\n\n; about b\n[b]\n"},
      {"new key goes before a trailing comment", "[a]\nx=1\n; note = later\n", "a", {{"y", "2"}},
       "[a]\nx=1\ny=2\n; note = later\n"},
      {"new key in a header-only section", "[a]\n[b]\n", "a", {{"k", "1"}}, "[a]\nk=1\n[b]\n"},
      {"unterminated last line gets its end", "[a]\nx=1", "b", {{"k", "v"}},
       "[a]\nx=1\n[b]\nk=v\n"},
      {"CRLF file stays CRLF", "[a]\r\nx=1\r\n", "a", {{"y", "-4"}}, "[a]\r\nx=1\r\ny=-4\r\n"},
      {"CRLF file, new section", "[a]\r\nx=1\r\n", "b", {{"k", "0"}},
       "[a]\r\nx=1\r\n[b]\r\nk=0\r\n"},
      {"first of duplicate keys replaced", "[a]\nx=1\nX=2\n", "a", {{"X", "3"}}, "[a]\nx=3\nX=2\n"},
      {"unknown keys and other sections untouched", "[other]\nFoo = bar \n[a]\nZ=z\n", "a",
       {{"ComPort", "4"}}, "[other]\nFoo = bar \n[a]\nZ=z\nComPort=4\n"},
      {"byte-order mark kept, its section found", "\xEF\xBB\xBF[videotape]\r\nVTRID=19\r\n",
       "videotape", {{"VTRID", "56"}}, "\xEF\xBB\xBF[videotape]\r\nVTRID=56\r\n"},
      {"a batch in order: new section, replaced and added keys", "[a]\nx=1\n", "b",
       {{"k", "1"}, {"m", " 2 "}, {"K", "3"}}, "[a]\nx=1\n[b]\nk=3\nm=2\n"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(PathOf("VTR.INI"));
    if (!c.before.empty()) Put(c.before);
    ASSERT_EQ(WritePrivateProfileKeys(c.section, c.pairs.data(), c.pairs.size(), "VTR.INI"), TRUE);
    EXPECT_EQ(Get(), c.after);
  }
}

// A write with a null argument, or one that cannot take the lock beside the
// file (its place is taken by a directory), fails and changes nothing.
TEST_F(ProfileTest, FailedWritesKeepTheOldFile) {
  Put("[a]\nx=1\n");
  EXPECT_EQ(WritePrivateProfileStringA(nullptr, "x", "2", "VTR.INI"), FALSE);
  EXPECT_EQ(WritePrivateProfileStringA("a", nullptr, "2", "VTR.INI"), FALSE);
  EXPECT_EQ(WritePrivateProfileStringA("a", "x", nullptr, "VTR.INI"), FALSE);
  const ProfileKeyValue oneBad[] = {{"x", "2"}, {"y", nullptr}};
  EXPECT_EQ(WritePrivateProfileKeys("a", oneBad, 2, "VTR.INI"), FALSE);  // nothing of it
  ASSERT_TRUE(std::filesystem::create_directory(PathOf(".VTR.INI.lock")));
  EXPECT_EQ(WritePrivateProfileStringA("a", "x", "2", "VTR.INI"), FALSE);
  EXPECT_EQ(Get(), "[a]\nx=1\n");
  EXPECT_EQ(GetPrivateProfileIntA(nullptr, "x", 5, "VTR.INI"), 5u);
  EXPECT_EQ(static_cast<INT>(GetPrivateProfileIntA("a", "x", -1, "absent.ini")), -1);
}

TEST_F(ProfileTest, BareNamesLiveInTheProfileDirectory) {
  // VTR422_PROFILE_DIR wins and is created on first write.
  const std::string nested = dir_.path() + "/deep/er";
  setenv("VTR422_PROFILE_DIR", nested.c_str(), 1);
  ASSERT_EQ(WritePrivateProfileStringA("a", "k", "1", "VTR.INI"), TRUE);
  EXPECT_TRUE(std::filesystem::exists(nested + "/VTR.INI"));

  // Without it, $XDG_CONFIG_HOME/vtr422.
  unsetenv("VTR422_PROFILE_DIR");
  setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
  ASSERT_EQ(WritePrivateProfileStringA("a", "k", "2", "VTR.INI"), TRUE);
  EXPECT_EQ(GetPrivateProfileIntA("a", "k", 0, "VTR.INI"), 2u);
  EXPECT_TRUE(std::filesystem::exists(dir_.path() + "/vtr422/VTR.INI"));
  unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
