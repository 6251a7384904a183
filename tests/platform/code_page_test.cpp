#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace dalimor {
namespace {

constexpr CodePage kAll[] = {CodePage::k437,  CodePage::k850,  CodePage::k852,  CodePage::k866,
                             CodePage::k1250, CodePage::k1251, CodePage::k1252, CodePage::k1254};

// Every byte value against iconv's reading of it.  Bytes iconv calls invalid
// (undefined in the code page) come back empty with -c; we keep those as the
// C1 code point of the same value instead.
TEST(CodePage, EveryByteDecodesAsIconvDoes) {
  test::TempDir dir;
  for (const CodePage cp : kAll) {
    std::string input;
    std::vector<int> bytes;
    for (int b = 0; b < 256; ++b) {
      if (b == '\n') continue;
      input.push_back(static_cast<char>(b));
      input.push_back('\n');
      bytes.push_back(b);
    }
    test::WriteFileBytes(dir.path() / "in.txt", input);
    std::string output;
    const std::string command = "iconv -c -f CP" + std::to_string(static_cast<int>(cp)) +
                                " -t UTF-8 " + dir.File("in.txt");
    test::RunCommand(command + " 2>/dev/null", &output);
    std::vector<std::string> lines;
    std::stringstream stream(output);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), bytes.size()) << "code page " << static_cast<int>(cp);
    for (size_t i = 0; i < bytes.size(); ++i) {
      const int b = bytes[i];
      const std::string ours = ToUtf8(std::string(1, static_cast<char>(b)), cp);
      if (lines[i].empty() && b >= 0x80) {
        // Undefined here: the same-valued C1/Latin-1 code point.
        const char expected[] = {static_cast<char>(0xC0 | (b >> 6)),
                                 static_cast<char>(0x80 | (b & 0x3F)), 0};
        EXPECT_EQ(ours, expected) << "cp " << static_cast<int>(cp) << " byte " << b;
      } else {
        EXPECT_EQ(ours, lines[i]) << "cp " << static_cast<int>(cp) << " byte " << b;
      }
    }
  }
}

TEST(CodePage, EveryByteSurvivesARoundTrip) {
  for (const CodePage cp : kAll) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(FromUtf8(ToUtf8(all, cp), cp), all) << static_cast<int>(cp);
    EXPECT_TRUE(IsRepresentable(ToUtf8(all, cp), cp));
  }
}

TEST(CodePage, CzechTextHasItsKnownBytes) {
  EXPECT_EQ(FromUtf8("Pobočka Brno", CodePage::k1250), "Pobo\xE8ka Brno");
  EXPECT_EQ(FromUtf8("Příliš žluťoučký kůň", CodePage::k1250),
            "P\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2");
  EXPECT_EQ(FromUtf8("Příliš žluťoučký kůň", CodePage::k852),
            "P\xFD\xA1li\xE7 \xA7lu\x9Cou\x9Fk\xEC k\x85\xE5");
  EXPECT_EQ(ToUtf8("Centr\xE1la Praha", CodePage::k1250), "Centrála Praha");
}

TEST(CodePage, MissingCharactersAndBrokenUtf8BecomeQuestionMarks) {
  EXPECT_EQ(FromUtf8("a€b", CodePage::k852), "a?b");       // no euro sign in 852
  EXPECT_EQ(FromUtf8("Ωμέγα", CodePage::k1250), "?????");
  EXPECT_EQ(FromUtf8("😀", CodePage::k1250), "?");          // outside the BMP
  EXPECT_EQ(FromUtf8("a\xC3", CodePage::k1250), "a?");      // truncated sequence
  EXPECT_EQ(FromUtf8("\xC0\xAF", CodePage::k1250), "?");    // overlong "/"
  EXPECT_EQ(FromUtf8("\xED\xA0\x80", CodePage::k1250), "?");  // surrogate
  EXPECT_EQ(FromUtf8("\xFF\xFE", CodePage::k1250), "??");
  EXPECT_FALSE(IsRepresentable("a€b", CodePage::k852));
  EXPECT_TRUE(IsRepresentable("a€b", CodePage::k1250));
}

TEST(CodePage, NumbersNameKnownCodePagesOnly) {
  CodePage cp = CodePage::k437;
  EXPECT_TRUE(CodePageFromNumber(1250, cp));
  EXPECT_EQ(cp, CodePage::k1250);
  EXPECT_FALSE(CodePageFromNumber(936, cp));
  EXPECT_FALSE(CodePageFromNumber(0, cp));
}

}  // namespace
}  // namespace dalimor
