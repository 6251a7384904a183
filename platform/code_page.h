#pragma once
// Single-byte code pages of the files Dalimor reads and writes.  Inside the
// program all text is UTF-8; conversion happens only at file boundaries:
// Paradox alpha and memo fields in the table's code page (1250 for the Czech
// driver), INI files and "exportinfo.txt" in 1250, zip entry names in 852.

#include <string>
#include <string_view>

namespace dalimor {

// The Windows / DOS code page numbers we have tables for: single-byte code
// pages whose lower half is ASCII.
enum class CodePage {
  k437 = 437,    // DOS US, the Paradox default
  k737 = 737,    // DOS Greek
  k850 = 850,    // DOS Western Europe
  k852 = 852,    // DOS Central Europe (the Czech OEM code page)
  k857 = 857,    // DOS Turkish
  k860 = 860,    // DOS Portuguese
  k861 = 861,    // DOS Icelandic
  k862 = 862,    // DOS Hebrew
  k863 = 863,    // DOS Canadian French
  k865 = 865,    // DOS Nordic
  k866 = 866,    // DOS Cyrillic
  k869 = 869,    // DOS Modern Greek
  k874 = 874,    // Windows Thai
  k1250 = 1250,  // Windows Central Europe (the Czech ANSI code page)
  k1251 = 1251,  // Windows Cyrillic
  k1252 = 1252,  // Windows Western Europe
  k1253 = 1253,  // Windows Greek
  k1254 = 1254,  // Windows Turkish
  k1255 = 1255,  // Windows Hebrew
  k1256 = 1256,  // Windows Arabic
  k1257 = 1257,  // Windows Baltic
};

// True when `number` (as stored in a Paradox header, say) names a code page
// we can convert; `out` then receives it.
bool CodePageFromNumber(int number, CodePage& out);

// Bytes in the code page to UTF-8.  Byte values the code page leaves
// undefined become the code points U+0080..U+00FF of the same value, as
// Windows does, so that they survive a round trip (U+F700 plus the value
// where the code page already uses that code point: 857's D5, E7 and F2).
// Never throws.
std::string ToUtf8(std::string_view bytes, CodePage code_page);

// UTF-8 to bytes in the code page.  Characters the code page lacks, and
// malformed UTF-8 sequences, become "?".  Never throws.
std::string FromUtf8(std::string_view utf8, CodePage code_page);

// Strict UTF-8 decoding (no overlong forms, surrogates or values beyond
// U+10FFFF) into code points.  False, with `out` unspecified, when the bytes
// are not UTF-8.
bool DecodeUtf8(std::string_view bytes, std::u32string& out);

// Appends the UTF-8 bytes of a code point of the Basic Multilingual Plane.
void AppendUtf8(std::string& out, uint32_t cp);

// True when every character of the UTF-8 text exists in the code page.
bool IsRepresentable(std::string_view utf8, CodePage code_page);

}  // namespace dalimor
