#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace dalimor {
namespace {

constexpr CodePage kAll[] = {
    CodePage::k437,  CodePage::k737,  CodePage::k850,  CodePage::k852,  CodePage::k857,
    CodePage::k860,  CodePage::k861,  CodePage::k862,  CodePage::k863,  CodePage::k865,
    CodePage::k866,  CodePage::k869,  CodePage::k874,  CodePage::k1250, CodePage::k1251,
    CodePage::k1252, CodePage::k1253, CodePage::k1254, CodePage::k1255, CodePage::k1256,
    CodePage::k1257};

std::string IconvName(CodePage cp) { return "CP" + std::to_string(static_cast<int>(cp)); }

// iconv's conversion of each line on its own: `lines` joined by newlines go
// in, the output comes back split at newlines.  With -c, what iconv cannot
// convert is left out, so such a line comes back empty.
std::vector<std::string> IconvLines(const test::TempDir& dir, const std::string& from,
                                    const std::string& to, const std::vector<std::string>& lines) {
  std::string input;
  for (const std::string& line : lines) input += line + "\n";
  test::WriteFileBytes(dir.path() / "in.txt", input);
  std::filesystem::remove(dir.path() / "out.txt");
  test::RunCommand("iconv -c -f " + from + " -t " + to + " -o " + dir.File("out.txt") + " " +
                   dir.File("in.txt"));
  std::vector<std::string> out;
  std::stringstream stream(test::ReadFileBytes(dir.path() / "out.txt"));
  for (std::string line; std::getline(stream, line);) out.push_back(line);
  return out;
}

std::string Utf8Of(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

// iconv's reading of every byte but the newline, one per line; empty for
// bytes the code page leaves undefined.
std::vector<std::string> IconvDecodedBytes(const test::TempDir& dir, CodePage cp,
                                           std::vector<int>& bytes) {
  std::vector<std::string> lines;
  bytes.clear();
  for (int b = 0; b < 256; ++b) {
    if (b == '\n') continue;
    lines.emplace_back(1, static_cast<char>(b));
    bytes.push_back(b);
  }
  return IconvLines(dir, IconvName(cp), "UTF-8", lines);
}

// Every byte value against iconv's reading of it.  Bytes iconv calls invalid
// (undefined in the code page) we keep as the C1/Latin-1 code point of the
// same value instead, or, where the code page already has that character at
// another byte, as U+F700 plus the value.
TEST(CodePage, EveryByteDecodesAsIconvDoes) {
  DALIMOR_SKIP_ON_WINDOWS("iconv is a Linux tool");
  test::TempDir dir;
  for (const CodePage cp : kAll) {
    std::vector<int> bytes;
    const std::vector<std::string> lines = IconvDecodedBytes(dir, cp, bytes);
    ASSERT_EQ(lines.size(), bytes.size()) << "code page " << static_cast<int>(cp);
    for (size_t i = 0; i < bytes.size(); ++i) {
      const int b = bytes[i];
      const std::string ours = ToUtf8(std::string(1, static_cast<char>(b)), cp);
      if (lines[i].empty() && b >= 0x80) {
        const std::string same_value = Utf8Of(static_cast<char32_t>(b));
        const bool taken = std::find(lines.begin(), lines.end(), same_value) != lines.end();
        EXPECT_EQ(ours, taken ? Utf8Of(static_cast<char32_t>(0xF700 + b)) : same_value)
            << "cp " << static_cast<int>(cp) << " byte " << b;
      } else {
        EXPECT_EQ(ours, lines[i]) << "cp " << static_cast<int>(cp) << " byte " << b;
      }
    }
  }
}

// Every character of the Basic Multilingual Plane against iconv's encoding
// of it: what iconv writes as one byte we write as that byte, and what it
// cannot write we write as "?" -- except the stand-ins of undefined bytes,
// which go back to their byte.  1255 has precomposed Hebrew letters that
// iconv writes as a letter and a point (two bytes); we do not decompose and
// write "?".
TEST(CodePage, EveryCharacterEncodesAsIconvDoes) {
  DALIMOR_SKIP_ON_WINDOWS("iconv is a Linux tool");
  test::TempDir dir;
  std::vector<std::string> characters;
  for (char32_t c = 0x80; c <= 0xFFFF; ++c)
    if (c < 0xD800 || c > 0xDFFF) characters.push_back(Utf8Of(c));
  for (const CodePage cp : kAll) {
    std::vector<int> bytes;
    const std::vector<std::string> decoded = IconvDecodedBytes(dir, cp, bytes);
    const std::vector<std::string> lines = IconvLines(dir, "UTF-8", IconvName(cp), characters);
    ASSERT_EQ(lines.size(), characters.size()) << "code page " << static_cast<int>(cp);
    int failures = 0;
    for (size_t i = 0; i < characters.size() && failures < 10; ++i) {
      const std::string ours = FromUtf8(characters[i], cp);
      bool ok;
      if (lines[i].size() == 1) {
        ok = ours == lines[i];
      } else if (ours == "?") {
        ok = true;
      } else {
        // A byte iconv leaves undefined, whose stand-in this character is.
        const auto at = std::find(bytes.begin(), bytes.end(), static_cast<uint8_t>(ours[0]));
        ok = ours.size() == 1 && lines[i].empty() && at != bytes.end() &&
             decoded[static_cast<size_t>(at - bytes.begin())].empty() &&
             ToUtf8(ours, cp) == characters[i];
      }
      if (!ok) {
        ++failures;
        ADD_FAILURE() << "cp " << static_cast<int>(cp) << " character " << characters[i]
                      << ": iconv wrote " << lines[i].size() << " bytes";
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
  for (const CodePage known : kAll) {
    CodePage cp = CodePage::k437;
    EXPECT_TRUE(CodePageFromNumber(static_cast<int>(known), cp)) << static_cast<int>(known);
    EXPECT_EQ(cp, known);
  }
  CodePage cp = CodePage::k437;
  // Double-byte (936), non-ASCII lower half (864), not a code page (0, 9999).
  for (const int unknown : {936, 864, 1258, 855, 0, 9999, -1}) {
    EXPECT_FALSE(CodePageFromNumber(unknown, cp)) << unknown;
    EXPECT_EQ(cp, CodePage::k437) << unknown;
  }
}

}  // namespace
}  // namespace dalimor
