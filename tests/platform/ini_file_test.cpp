#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace dalimor {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;
using namespace std::string_literals;

// A fresh folder with "test.ini" in it.
class IniFileTest : public ::testing::Test {
 protected:
  IniFile WithContent(const std::string& bytes) {
    WriteFileBytes(path_, bytes);
    return IniFile(path_);
  }
  std::string Bytes() const { return ReadFileBytes(path_); }

  test::TempDir dir_;
  std::string path_ = dir_.File("test.ini");
};

class IniFileRead : public IniFileTest {};
class IniFileWrite : public IniFileTest {};
class IniFileNumbers : public IniFileTest {};
class IniFileErrors : public IniFileTest {};

struct ReadCase {
  const char* what;
  std::string file;
  const char* section;
  const char* key;
  std::string expected;  // "DEF" is the default passed in
};

const ReadCase kReadCases[] = {
    {"plain", "[S]\r\nk=v\r\n", "S", "k", "v"},
    {"names ignore ASCII case", "[Sekce]\r\nKlic=v\r\n", "SEKCE", "kLIC", "v"},
    {"names ignore Czech case", "[Pobo\xE8ka]\r\n\x9Eluv=1\r\n", "POBOČKA", "Žluv", "1"},
    {"value keeps its case", "[S]\r\nk=MiXeD\r\n", "s", "K", "MiXeD"},
    {"blanks around everything", " \t[ \tS\v ]\r\n \t k \v= \t v  v \t\v\r\n", "S", "k", "v  v"},
    {"spaces around parameters", "[S]\r\nk=v\r\n", "  S  ", " k ", "v"},
    {"tab in parameter", "[S]\r\nk=v\r\n", "\tS", "k", "DEF"},
    {"double quotes", "[S]\r\nk=\"  a  \"\r\n", "S", "k", "  a  "},
    {"single quotes", "[S]\r\nk='a'\r\n", "S", "k", "a"},
    {"mismatched quotes", "[S]\r\nk=\"a'\r\n", "S", "k", "\"a'"},
    {"one pair only", "[S]\r\nk=\"\"a\"\"\r\n", "S", "k", "\"a\""},
    {"lone quote", "[S]\r\nk=\"\r\n", "S", "k", "\""},
    {"opening quote only", "[S]\r\nk=\"abc\r\n", "S", "k", "\"abc"},
    {"quotes after trimming", "[S]\r\nk= 'x' \r\n", "S", "k", "x"},
    {"empty value", "[S]\r\nk=\r\n", "S", "k", ""},
    {"blank value", "[S]\r\nk= \t \r\n", "S", "k", ""},
    {"value with =", "[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
    {"key with space", "[S]\r\nmy key = v\r\n", "S", "my key", "v"},
    {"first ] ends the name", "[S]x]\r\nk=v\r\n", "S", "k", "v"},
    {"text after ] is not in the name", "[S]x]\r\nk=v\r\n", "S]x", "k", "DEF"},
    {"header without ]", "[S\r\nk=v\r\n", "S", "k", "v"},
    {"[ inside the name", "[a[b]\r\nk=v\r\n", "a[b", "k", "v"},
    {"; inside the name", "[a;b]\r\nk=v\r\n", "a;b", "k", "v"},
    {"comment", "[S]\r\n;k=v\r\n", "S", ";k", "DEF"},
    {"indented comment", "[S]\r\n  ;k=v\r\n", "S", "k", "DEF"},
    {"# is no comment", "[S]\r\n#k=v\r\n", "S", "#k", "v"},
    {"no inline comments", "[S]\r\nk=val ;x\r\n", "S", "k", "val ;x"},
    {"first duplicate key wins", "[S]\r\nk=1\r\nK=2\r\n", "S", "k", "1"},
    {"only the first section counts", "[S]\r\na=1\r\n[T]\r\n[s]\r\nb=2\r\n", "S", "b", "DEF"},
    {"before the first section", "k=v\r\n[S]\r\n", "S", "k", "DEF"},
    {"before the first section, empty name", "k=v\r\n[S]\r\n", "", "k", "DEF"},
    {"empty section name", "[]\r\nk=v\r\n", "", "k", "v"},
    {"empty key", "[S]\r\n=v\r\n", "S", "", "DEF"},
    {"line without =", "[S]\r\nk\r\n", "S", "k", "DEF"},
    {"missing section", "[S]\r\nk=v\r\n", "T", "k", "DEF"},
    {"missing key", "[S]\r\nk=v\r\n", "S", "j", "DEF"},
    {"lone CR", "[S]\rk=v\rj=w\r", "S", "j", "w"},
    {"lone LF", "[S]\nk=v\nj=w", "S", "j", "w"},
    {"LF CR is two breaks", "[S]\n\rk=v\n\r", "S", "k", "v"},
    {"UTF-8 BOM spoils line 1", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", "DEF"},
    {"UTF-8 BOM, later section", "\xEF\xBB\xBF[S]\r\n[T]\r\nk=v\r\n", "T", "k", "v"},
    {"NUL bytes before the first section", "\0\0x\0\r\n[S]\r\nk=v\r\n"s, "S", "k", "v"},
    {"NUL in a value", "[S]\r\nk=a\0b\r\n"s, "S", "k", "a\0b"s},
};

TEST_F(IniFileRead, FollowsTheProfileRules) {
  for (const ReadCase& c : kReadCases) {
    const IniFile ini = WithContent(c.file);
    EXPECT_EQ(ini.ReadString(c.section, c.key, "DEF"), c.expected) << c.what;
  }
}

// A value written and read back is what IniValueAsRead predicts.
TEST_F(IniFileRead, ValuesReadBackAsPredicted) {
  for (const std::string value : {"Pobočka Brno", "  Pobočka Brno ", "\tx\t", "\"quoted\"",
                                   "'a'", "\"half", "a\r\nb", "znak ∑", ""}) {
    IniFile ini(dir_.File("round.ini"));
    ini.WriteString("S", "k", value);
    EXPECT_EQ(ini.ReadString("S", "k", ""), IniValueAsRead(value)) << value;
  }
  EXPECT_EQ(IniValueAsRead("  Pobočka Brno "), "Pobočka Brno");
}

TEST_F(IniFileRead, CzechLettersMatchInEitherCase) {
  const IniFile ini =
      WithContent("[\xC1\xC8\xCF\xC9\xCC\xCD\xD2\xD3\xD8\x8A\x8D\xDA\xD9\xDD\x8E]\r\nk=1\r\n");
  EXPECT_EQ(ini.ReadString("áčďéěíňóřšťúůýž", "k", ""), "1");
  EXPECT_EQ(ini.ReadString("ÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ", "k", ""), "1");
  EXPECT_EQ(ini.ReadString("acdeeinorstuuyz", "k", "none"), "none");
}

TEST_F(IniFileRead, DefaultLosesTrailingSpacesOnly) {
  const IniFile ini(dir_.File("missing.ini"));
  EXPECT_EQ(ini.ReadString("S", "k", "one two  "), "one two");
  EXPECT_EQ(ini.ReadString("S", "k", "  x\t"), "  x\t");
  EXPECT_EQ(ini.ReadString("S", "k", ""), "");
}

TEST_F(IniFileRead, ValuesAreCutAt2047Characters) {
  const std::string long_value(3000, 'a');
  std::string cz;  // "č" is one character on disk, two bytes in UTF-8
  for (int i = 0; i < 2100; ++i) cz += "č";
  const IniFile ini =
      WithContent("[S]\r\nlong=" + long_value + "\r\nquoted=\"" + std::string(2046, 'b') +
                  "\"\r\ncz=" + std::string(2100, '\xE8') + "\r\nhuge=" + std::string(100000, 'h'));
  EXPECT_EQ(ini.ReadString("S", "long", ""), std::string(2047, 'a'));
  EXPECT_EQ(ini.ReadString("S", "quoted", ""), std::string(2046, 'b'));
  EXPECT_EQ(ini.ReadString("S", "cz", ""), cz.substr(0, 2 * 2047));
  EXPECT_EQ(ini.ReadString("S", "huge", ""), std::string(2047, 'h'));
}

TEST_F(IniFileRead, EnumeratesNamesInFileOrder) {
  const IniFile ini = WithContent(
      "x=0\r\n[A]\r\nb=1\r\n; c=2\r\nno equals\r\n  A = "
      "3\r\nb=4\r\n=5\r\n[B\r\nz=1\r\n[a]\r\nq=1\r\n[Empty]\r\n");
  EXPECT_EQ(ini.ReadSection("a"), (std::vector<std::string>{"b", "A", "b"}));
  EXPECT_EQ(ini.ReadSection("B"), (std::vector<std::string>{"z"}));
  EXPECT_TRUE(ini.ReadSection("nope").empty());
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B", "a", "Empty"}));
  EXPECT_TRUE(ini.SectionExists("A"));
  EXPECT_FALSE(ini.SectionExists("Empty"));  // as TIniFile: a section without keys does not exist
  EXPECT_FALSE(ini.SectionExists("nope"));
  EXPECT_TRUE(IniFile(dir_.File("missing.ini")).ReadSections().empty());
}

TEST_F(IniFileRead, ReadsCodePage1250) {
  const IniFile ini =
      WithContent("[Pobo\xE8ka Brno]\r\nN\xE1zev=\x8Elu\x9Dou\xE8k\xFD k\xF9\xF2\r\n");
  EXPECT_EQ(ini.ReadString("Pobočka Brno", "Název", ""), "Žluťoučký kůň");
  EXPECT_EQ(ini.ReadSection("Pobočka Brno"), (std::vector<std::string>{"Název"}));
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Pobočka Brno"}));
}

TEST_F(IniFileRead, SeesEveryChangeAtOnce) {
  IniFile writer(path_);
  const IniFile reader(path_);
  writer.WriteString("S", "k", "1");
  EXPECT_EQ(reader.ReadString("S", "k", ""), "1");
  WriteFileBytes(path_, "[S]\r\nk=2\r\n");
  EXPECT_EQ(reader.ReadString("S", "k", ""), "2");
  writer.WriteString("S", "k", "3");
  EXPECT_EQ(reader.ReadString("S", "k", ""), "3");
}

TEST_F(IniFileWrite, NewFileHasExactBytes) {
  IniFile ini(path_);
  ini.WriteString("Section", "key", "value");
  EXPECT_EQ(Bytes(), "[Section]\r\nkey=value\r\n");
}

TEST_F(IniFileWrite, NewSectionsFollowWithoutBlankLines) {
  IniFile ini(path_);
  ini.WriteString("App1", "key1", "a");
  ini.WriteString("App1", "key2", "b");
  ini.WriteString("App2", "key4", "c");
  ini.WriteString("App3", "key5", "d");
  EXPECT_EQ(Bytes(), "[App1]\r\nkey1=a\r\nkey2=b\r\n[App2]\r\nkey4=c\r\n[App3]\r\nkey5=d\r\n");
}

TEST_F(IniFileWrite, UpdatesAHandEditedFileInPlace) {
  const std::string before =
      "; window state\r\n"
      "\r\n"
      "[Main]\r\n"
      "  Left = 10\r\n"
      "Top=20 ; really\r\n"
      "\t\r\n"
      "; about the list\r\n"
      "[List]\n"
      "Columns =  a,b  \n"
      "[Main]\r\n"
      "Left=99\r\n";
  IniFile ini = WithContent(before);
  ini.WriteString("main", "LEFT", "15");
  std::string expected = before;
  expected.replace(expected.find("  Left = 10"), 11, "  Left =15");
  EXPECT_EQ(Bytes(), expected);

  ini.WriteString("Main", "Width", "640");
  expected.insert(expected.find("\t\r\n"), "Width=640\r\n");
  EXPECT_EQ(Bytes(), expected);

  ini.WriteString("List", "Sort", " 2 ");
  expected.insert(expected.find("[Main]\r\nLeft=99"), "Sort= 2 \r\n");
  EXPECT_EQ(Bytes(), expected);
  EXPECT_EQ(ini.ReadString("List", "Sort", ""), "2");
  EXPECT_EQ(ini.ReadString("List", "Columns", ""), "a,b");
}

TEST_F(IniFileWrite, NewKeyGoesAfterTheLastKeyOfItsSection) {
  struct Case {
    std::string before, after;
  } const cases[] = {
      {"[A]\r\na=1\r\n\r\n; about B\r\n[B]\r\nb=1\r\n",
       "[A]\r\na=1\r\nn=v\r\n\r\n; about B\r\n[B]\r\nb=1\r\n"},
      {"[A]\r\n[B]\r\n", "[A]\r\nn=v\r\n[B]\r\n"},
      {"[A]", "[A]\r\nn=v\r\n"},
      {"[A]\r\na=1", "[A]\r\na=1\r\nn=v\r\n"},
      {"[A]\r\nstray text\r\n;c\r\n", "[A]\r\nstray text\r\nn=v\r\n;c\r\n"},
      {"[a]\r\nx=1\r\n[A]\r\ny=1\r\n", "[a]\r\nx=1\r\nn=v\r\n[A]\r\ny=1\r\n"},
      {"[A]\r\n;n=old\r\n", "[A]\r\nn=v\r\n;n=old\r\n"},
  };
  for (const Case& c : cases) {
    IniFile ini = WithContent(c.before);
    ini.WriteString("A", "n", "v");
    EXPECT_EQ(Bytes(), c.after) << c.before;
  }
}

TEST_F(IniFileWrite, NewSectionGoesAtTheEnd) {
  struct Case {
    std::string before, after;
  } const cases[] = {
      {"", "[B]\r\nb=2\r\n"},
      {"[A]\r\na=1\r\n", "[A]\r\na=1\r\n[B]\r\nb=2\r\n"},
      {"[A]\na=1", "[A]\na=1\r\n[B]\r\nb=2\r\n"},
      {"[A]\r\na=1\r\n\r\n;end\r\n", "[A]\r\na=1\r\n\r\n;end\r\n[B]\r\nb=2\r\n"},
      {"b=1\r\n", "b=1\r\n[B]\r\nb=2\r\n"},
      {"\xEF\xBB\xBF[B]\r\nb=1\r\n", "\xEF\xBB\xBF[B]\r\nb=1\r\n[B]\r\nb=2\r\n"},
  };
  for (const Case& c : cases) {
    IniFile ini = WithContent(c.before);
    ini.WriteString("B", "b", "2");
    EXPECT_EQ(Bytes(), c.after) << c.before;
  }
}

TEST_F(IniFileWrite, KeepsOtherLineEndingsAndTheFileCasing) {
  IniFile ini = WithContent("[Sekce]\rKlic=1\rB=2\r");
  ini.WriteString("SEKCE", "KLIC", "3");
  EXPECT_EQ(Bytes(), "[Sekce]\rKlic=3\r\nB=2\r");
  ini.WriteString("sekce", "c", "4");
  EXPECT_EQ(Bytes(), "[Sekce]\rKlic=3\r\nB=2\rc=4\r\n");

  ini = WithContent("[S]\na=1\nb=2\n");
  ini.WriteString("S", "a", "x");
  EXPECT_EQ(Bytes(), "[S]\na=x\r\nb=2\n");
}

TEST_F(IniFileWrite, NamesLoseSpacesAndValuesStayVerbatim) {
  IniFile ini(path_);
  ini.WriteString("   sec   ", "  key  ", " value ");
  ini.WriteString("sec", "\tq", "\"x\"");
  EXPECT_EQ(Bytes(), "[sec]\r\nkey= value \r\n\tq=\"x\"\r\n");
  EXPECT_EQ(ini.ReadString("sec", "key", ""), "value");
  EXPECT_EQ(ini.ReadString("sec", "q", ""), "x");
}

TEST_F(IniFileWrite, WritesCodePage1250) {
  DALIMOR_SKIP_ON_WINDOWS("iconv is a Linux tool");
  IniFile ini(path_);
  ini.WriteString("Pobočka Brno", "Název", "Pobočka Brno");
  ini.WriteString("Pobočka Brno", "Jiné", "日本 €");
  EXPECT_EQ(Bytes(),
            "[\x50\x6F\x62\x6F\xE8\x6B\x61\x20\x42\x72\x6E\x6F]\r\n"
            "N\xE1zev=\x50\x6F\x62\x6F\xE8\x6B\x61\x20\x42\x72\x6E\x6F\r\n"
            "Jin\xE9=?? \x80\r\n");
  std::string output;
  ASSERT_EQ(test::RunCommand("iconv -f CP1250 -t UTF-8 '" + path_ + "'", &output), 0) << output;
  EXPECT_EQ(output, "[Pobočka Brno]\r\nNázev=Pobočka Brno\r\nJiné=?? €\r\n");
  EXPECT_EQ(ini.ReadString("POBOČKA BRNO", "název", ""), "Pobočka Brno");
}

TEST_F(IniFileWrite, EraseSectionKeepsCommentsAndOtherSections) {
  IniFile ini =
      WithContent("[A]\r\na=1\r\n; note\r\nloose\r\n\r\nb=2\r\n[B]\r\nc=3\r\n[a]\r\nd=4\r\n");
  ini.EraseSection("a");
  EXPECT_EQ(Bytes(), "; note\r\n\r\n[B]\r\nc=3\r\n[a]\r\nd=4\r\n");
  ini.EraseSection("missing");
  EXPECT_EQ(Bytes(), "; note\r\n\r\n[B]\r\nc=3\r\n[a]\r\nd=4\r\n");
  EXPECT_EQ(ini.ReadString("A", "d", ""), "4");  // the second [a] is now the first

  IniFile fresh(dir_.File("fresh.ini"));
  fresh.EraseSection("A");
  EXPECT_EQ(ReadFileBytes(fresh.path()), "");
}

TEST_F(IniFileWrite, DeleteKeyRemovesOnlyItsLine) {
  IniFile ini = WithContent("[S]\r\n k = 1\r\nk=2\r\nj=3\n[T]\r\nk=4");
  ini.DeleteKey("s", "K");
  EXPECT_EQ(Bytes(), "[S]\r\nk=2\r\nj=3\n[T]\r\nk=4");
  ini.DeleteKey("T", "k");
  EXPECT_EQ(Bytes(), "[S]\r\nk=2\r\nj=3\n[T]\r\n");
  ini.DeleteKey("T", "k");
  ini.DeleteKey("U", "k");
  EXPECT_EQ(Bytes(), "[S]\r\nk=2\r\nj=3\n[T]\r\n");
}

#ifndef _WIN32  // permission bits, symbolic links and pipes
TEST_F(IniFileWrite, ReplacesTheFileWholeAndKeepsItsMode) {
  WriteFileBytes(path_, "[S]\r\nk=1\r\n");
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  const std::string link = dir_.File("link.ini");
  std::filesystem::create_symlink(path_, link);

  IniFile(link).WriteString("S", "k", "2");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Bytes(), "[S]\r\nk=2\r\n");
  struct stat info {};
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"link.ini", "test.ini"}));  // no temporary left
}
#endif

struct IntegerCase {
  const char* stored;  // nullptr: no such key
  int expected;        // with 77 as the default
};

const IntegerCase kIntegerCases[] = {
    {"0x1F", 31},
    {"0X1f", 31},
    {"$1F", 31},
    {"x1F", 31},
    {"-5", -5},
    {"+5", 5},
    {"5abc", 77},
    {"", 77},
    {nullptr, 77},
    {"0", 0},
    {"007", 7},
    {"\" 7\"", 7},
    {"\"7 \"", 77},
    {"2147483647", 2147483647},
    {"2147483648", 77},
    {"-2147483648", -2147483647 - 1},
    {"-2147483649", 77},
    {"$FFFFFFFF", -1},
    {"$7fffffff", 2147483647},
    {"$100000000", 77},
    {"$000000001F", 31},
    {"-$10", -16},
    {"-0x10", -16},
    {"0x", 77},
    {"$", 77},
    {"-", 77},
    {"+", 77},
    {"1e3", 77},
    {"5.0", 77},
    {"1 000", 77},
    {"true", 77},
    {"$G", 77},
    {"--1", 77},
};

TEST_F(IniFileNumbers, ReadIntegerIsLenientLikeTIniFile) {
  for (const IntegerCase& c : kIntegerCases) {
    const IniFile ini =
        WithContent(c.stored ? "[S]\r\nk=" + std::string(c.stored) + "\r\n" : "[S]\r\n");
    EXPECT_EQ(ini.ReadInteger("S", "k", 77), c.expected) << (c.stored ? c.stored : "(missing)");
  }
}

TEST_F(IniFileNumbers, ReadBoolComparesTheNumberWithZero) {
  const IniFile ini =
      WithContent("[S]\r\none=1\r\nzero=0\r\ntwo=2\r\nminus=-1\r\nword=true\r\nempty=\r\n");
  for (const bool fallback : {false, true}) {
    EXPECT_TRUE(ini.ReadBool("S", "one", fallback));
    EXPECT_FALSE(ini.ReadBool("S", "zero", fallback));
    EXPECT_TRUE(ini.ReadBool("S", "two", fallback));
    EXPECT_TRUE(ini.ReadBool("S", "minus", fallback));
    EXPECT_EQ(ini.ReadBool("S", "word", fallback), fallback);
    EXPECT_EQ(ini.ReadBool("S", "empty", fallback), fallback);
    EXPECT_EQ(ini.ReadBool("S", "missing", fallback), fallback);
  }
}

TEST_F(IniFileNumbers, WritesDecimalAndOneOrZero) {
  IniFile ini(path_);
  ini.WriteInteger("S", "n", -42);
  ini.WriteBool("S", "yes", true);
  ini.WriteBool("S", "no", false);
  ini.WriteInteger("S", "n", 2147483647);
  EXPECT_EQ(Bytes(), "[S]\r\nn=2147483647\r\nyes=1\r\nno=0\r\n");
}

#ifndef _WIN32  // permission bits, symbolic links and pipes
TEST_F(IniFileErrors, FailedWritesThrowUnableToWrite) {
  const std::string folder = dir_.File("folder.ini");
  std::filesystem::create_directory(folder);
  const std::string read_only = dir_.File("readonly.ini");
  WriteFileBytes(read_only, "[S]\r\nk=1\r\n");
  ASSERT_EQ(chmod(read_only.c_str(), 0444), 0);
  const std::string locked_folder = dir_.File("locked");
  std::filesystem::create_directory(locked_folder);
  ASSERT_EQ(chmod(locked_folder.c_str(), 0555), 0);

  for (const std::string& path :
       {dir_.File("no/such/folder.ini"), folder, read_only, locked_folder + "/new.ini"}) {
    IniFile ini(path);
    const std::string message = "Unable to write to " + path;
    try {
      ini.WriteString("S", "k", "2");
      ADD_FAILURE() << "no exception for " << path;
    } catch (const IniFileError& error) {
      EXPECT_EQ(std::string(error.what()), message);
    }
    EXPECT_THROW(ini.WriteInteger("S", "k", 2), IniFileError) << path;
    EXPECT_THROW(ini.WriteBool("S", "k", true), IniFileError) << path;
    EXPECT_THROW(ini.EraseSection("S"), IniFileError) << path;
    EXPECT_NO_THROW(ini.DeleteKey("S", "k")) << path;
    EXPECT_EQ(ini.ReadString("S", "nothing", "d"), "d") << path;
  }
  EXPECT_EQ(ReadFileBytes(read_only), "[S]\r\nk=1\r\n");
  EXPECT_FALSE(std::filesystem::exists(locked_folder + "/new.ini"));
  EXPECT_TRUE(std::filesystem::is_empty(locked_folder));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(IniFile(folder).ReadSections().empty());
}
#endif

// An INI file in a folder other people write (the transfer folder's
// "export.ini"): a link reads as no file and is never written through, and
// a pipe never makes a read wait, whichever way links are taken.
#ifndef _WIN32  // permission bits, symbolic links and pipes
TEST_F(IniFileErrors, RefusedLinksAndPipesNeitherLeadElsewhereNorBlock) {
  const std::string target = dir_.File("company.ini");
  WriteFileBytes(target, "[LastSend]\r\nCompanyName=Centr\xE1la\r\n");
  const std::string link = dir_.File("export.ini");
  std::filesystem::create_symlink(target, link);
  const std::string dangling = dir_.File("dangling.ini");
  std::filesystem::create_symlink(dir_.File("created.ini"), dangling);
  const std::string pipe = dir_.File("pipe.ini");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);

  for (const std::string& path : {link, dangling, pipe}) {
    IniFile ini(path, IniLinks::kRefuse);
    EXPECT_EQ(ini.links(), IniLinks::kRefuse);
    EXPECT_EQ(ini.ReadString("LastSend", "CompanyName", "d"), "d") << path;
    EXPECT_TRUE(ini.ReadSections().empty()) << path;
    EXPECT_THROW(ini.WriteString("LastSend", "CompanyName", "x"), IniFileError) << path;
    EXPECT_THROW(ini.EraseSection("LastSend"), IniFileError) << path;
    EXPECT_NO_THROW(ini.DeleteKey("LastSend", "CompanyName")) << path;
  }
  EXPECT_EQ(ReadFileBytes(target), "[LastSend]\r\nCompanyName=Centr\xE1la\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("created.ini")));

  // Followed as the profile functions follow it, a pipe still reads as empty.
  EXPECT_EQ(IniFile(pipe).ReadString("S", "k", "d"), "d");
  EXPECT_THROW(IniFile(pipe).WriteString("S", "k", "v"), IniFileError);
  EXPECT_EQ(IniFile(link).ReadString("LastSend", "CompanyName", ""), "Centrála");

  // A plain file is read and written as ever.
  IniFile plain(dir_.File("plain.ini"), IniLinks::kRefuse);
  plain.WriteString("S", "k", "v");
  EXPECT_EQ(plain.ReadString("S", "k", ""), "v");
}
#endif

// Garbage of every kind reads without harm, and a key written into it reads
// back while the keys that were there keep their values.
TEST_F(IniFileErrors, GarbageNeverHurts) {
  std::vector<std::string> files = {"\0\0\0\0"s,
                                    "[",
                                    "]",
                                    "=",
                                    "[]=",
                                    "\r\r\n\n\r",
                                    "[S\0]\r\nk\0=v\0"s,
                                    std::string(100000, '['),
                                    "[S]\r\n" + std::string(100000, '=')};
  std::string all_bytes;
  for (int b = 0; b < 256; ++b) all_bytes.push_back(static_cast<char>(b));
  files.push_back(all_bytes);
  std::mt19937 random(2011);
  for (int i = 0; i < 50; ++i) {
    std::string bytes(random() % 300, '\0');
    for (char& c : bytes) c = "[]=;\r\n \tSk\"'\xE8\0"[random() % 14];
    files.push_back(bytes);
  }
  for (const std::string& file : files) {
    IniFile ini = WithContent(file);
    std::vector<std::pair<std::string, std::string>> before;
    for (const std::string& section : ini.ReadSections())
      for (const std::string& key : ini.ReadSection(section))
        before.emplace_back(section + "\n" + key, ini.ReadString(section, key, "\x01"));
    ini.WriteString("Written", "Key", "value");
    EXPECT_EQ(ini.ReadString("Written", "Key", ""), "value");
    for (const auto& [where, value] : before) {
      const size_t split = where.find('\n');
      const std::string section = where.substr(0, split), key = where.substr(split + 1);
      if (section == "Written" && key == "Key") continue;
      EXPECT_EQ(ini.ReadString(section, key, "\x01"), value);
    }
  }
}

}  // namespace
}  // namespace dalimor
