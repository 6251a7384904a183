#include "engine/paradox/field.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/engine_error.h"

namespace dalimor {
namespace {

uint64_t ReadBigEndian(const char* in, int width) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v = (v << 8) | static_cast<uint8_t>(in[i]);
  return v;
}

void WriteBigEndian(uint64_t v, int width, char* out) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>(v & 0xFF);
    v >>= 8;
  }
}

int FixedWidth(FieldType type) {
  switch (type) {
    case FieldType::kDate:
    case FieldType::kLong:
    case FieldType::kTime:
    case FieldType::kAutoInc:
      return 4;
    case FieldType::kShort:
      return 2;
    case FieldType::kMoney:
    case FieldType::kNumber:
    case FieldType::kTimestamp:
      return 8;
    case FieldType::kLogical:
      return 1;
    default:
      return 0;
  }
}

[[noreturn]] void ThrowValueError(std::string_view field, std::string_view what) {
  throw EngineError(EngineErrorKind::kGeneral,
                    std::string(what) + "\nField: " + std::string(field));
}

[[noreturn]] void ThrowMismatch(const FieldDef& def) {
  ThrowValueError(def.name, std::string("Type mismatch: a ") + FieldTypeLetter(def.type) +
                                " field cannot hold this value.");
}

// Whole numbers for the integer types; doubles must be integral.
int64_t IntegerOf(const FieldDef& def, const Value& value, int64_t min, int64_t max) {
  int64_t result = 0;
  if (const auto* i = std::get_if<int64_t>(&value)) {
    result = *i;
  } else if (const auto* d = std::get_if<double>(&value)) {
    if (!std::isfinite(*d) || std::trunc(*d) != *d || *d < static_cast<double>(min) ||
        *d > static_cast<double>(max))
      ThrowValueError(def.name, "Value out of range.");
    result = static_cast<int64_t>(*d);
  } else {
    ThrowMismatch(def);
  }
  if (result < min || result > max) ThrowValueError(def.name, "Value out of range.");
  return result;
}

double DoubleOf(const FieldDef& def, const Value& value) {
  double result = 0;
  if (const auto* i = std::get_if<int64_t>(&value)) {
    result = static_cast<double>(*i);
  } else if (const auto* d = std::get_if<double>(&value)) {
    result = *d;
  } else {
    ThrowMismatch(def);
  }
  if (!std::isfinite(result)) ThrowValueError(def.name, "Value out of range.");
  return result;
}

// The flipped integer encodings cannot hold the most negative value: it
// would be stored as all zeros, which is NULL.
constexpr int64_t kMinShort = -32767;
constexpr int64_t kMaxShort = 32767;
constexpr int64_t kMinLong = -2147483647;
constexpr int64_t kMaxLong = 2147483647;

}  // namespace

bool IsValidFieldName(std::string_view name) {
  std::u32string text;
  if (!DecodeUtf8(name, text) || text.empty() ||
      text.size() > static_cast<size_t>(kMaxFieldNameLength) || text.front() == U' ' ||
      text == U"#" || text.find(U"->") != std::u32string::npos)
    return false;
  constexpr std::u32string_view kPunctuation = U"!#$%&*+-./:;<=>?@\\^_`|~";
  for (const char32_t c : text) {
    const bool letter = (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') ||
                        (c >= 0xC0 && c <= 0x17F && c != 0xD7 && c != 0xF7);
    const bool digit = c >= U'0' && c <= U'9';
    if (!letter && !digit && c != U' ' && kPunctuation.find(c) == std::u32string_view::npos)
      return false;
  }
  return true;
}

bool IsKnownFieldType(uint8_t code) {
  switch (code) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x09:
    case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x10: case 0x14: case 0x15:
    case 0x16: case 0x17: case 0x18:
      return true;
    default:
      return false;
  }
}

bool IsBlobType(FieldType type) {
  switch (type) {
    case FieldType::kMemo:
    case FieldType::kBlob:
    case FieldType::kFormattedMemo:
    case FieldType::kOle:
    case FieldType::kGraphic:
      return true;
    default:
      return false;
  }
}

bool IsKeyableType(FieldType type) { return !IsBlobType(type); }

bool IsValidDescriptor(uint8_t type_code, uint8_t size_byte) {
  if (!IsKnownFieldType(type_code)) return false;
  const auto type = static_cast<FieldType>(type_code);
  switch (type) {
    case FieldType::kAlpha:
    case FieldType::kBytes:
      return size_byte >= 1;
    case FieldType::kMemo:
    case FieldType::kFormattedMemo:
    case FieldType::kBlob:
    case FieldType::kOle:
    case FieldType::kGraphic:
      // Formatted memos occur with an empty leader although Paradox's tools
      // ask for at least one byte.
      return size_byte >= kBlobTrailerSize && size_byte <= kBlobTrailerSize + kMaxBlobLeader;
    case FieldType::kBcd:
      return size_byte <= kMaxBcdDecimals;
    default:
      return size_byte == FixedWidth(type);
  }
}

int FieldRecordSize(FieldType type, int size_byte) {
  return type == FieldType::kBcd ? kBcdRecordSize : size_byte;
}

int FieldDefSize(FieldType type, int size_byte) {
  if (IsBlobType(type)) return size_byte - kBlobTrailerSize;
  if (type == FieldType::kAlpha || type == FieldType::kBytes || type == FieldType::kBcd)
    return size_byte;
  return 0;
}

uint8_t DescriptorSizeByte(const FieldDef& def) {
  if (IsBlobType(def.type)) return static_cast<uint8_t>(def.size + kBlobTrailerSize);
  if (def.type == FieldType::kAlpha || def.type == FieldType::kBytes ||
      def.type == FieldType::kBcd)
    return static_cast<uint8_t>(def.size);
  return static_cast<uint8_t>(FixedWidth(def.type));
}

std::string CheckFieldDef(const FieldDef& def) {
  if (!IsKnownFieldType(static_cast<uint8_t>(def.type))) return "unknown field type";
  switch (def.type) {
    case FieldType::kAlpha:
    case FieldType::kBytes:
      if (def.size < 1 || def.size > kMaxAlphaSize) return "size must be 1 to 255";
      return {};
    case FieldType::kMemo:
    case FieldType::kFormattedMemo:
      if (def.size < 1 || def.size > kMaxBlobLeader) return "size must be 1 to 240";
      return {};
    case FieldType::kBlob:
    case FieldType::kOle:
    case FieldType::kGraphic:
      if (def.size < 0 || def.size > kMaxBlobLeader) return "size must be 0 to 240";
      return {};
    case FieldType::kBcd:
      if (def.size < 0 || def.size > kMaxBcdDecimals) return "decimals must be 0 to 32";
      return {};
    default:
      if (def.size != 0 && def.size != FixedWidth(def.type))
        return "a fixed-size field takes no size";
      return {};
  }
}

bool IsAllZero(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

void EncodeFlippedInt(int64_t value, int width, char* out) {
  const int bits = width * 8;
  const uint64_t mask = bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
  uint64_t v = static_cast<uint64_t>(value) & mask;
  v ^= uint64_t{1} << (bits - 1);
  WriteBigEndian(v, width, out);
}

int64_t DecodeFlippedInt(const char* in, int width) {
  const int bits = width * 8;
  uint64_t v = ReadBigEndian(in, width);
  v ^= uint64_t{1} << (bits - 1);
  // Sign-extend from `bits`.
  const uint64_t sign = uint64_t{1} << (bits - 1);
  if (v & sign) v |= ~((sign << 1) - 1);
  return static_cast<int64_t>(v);
}

void EncodeFlippedDouble(double value, char* out) {
  if (value == 0) value = 0.0;  // -0.0 is stored as zero
  uint64_t bits = std::bit_cast<uint64_t>(value);
  constexpr uint64_t kTop = uint64_t{1} << 63;
  bits = (bits & kTop) ? ~bits : (bits | kTop);
  WriteBigEndian(bits, 8, out);
}

double DecodeFlippedDouble(const char* in) {
  uint64_t bits = ReadBigEndian(in, 8);
  constexpr uint64_t kTop = uint64_t{1} << 63;
  bits = (bits & kTop) ? (bits & ~kTop) : ~bits;
  return std::bit_cast<double>(bits);
}

bool EncodeBcd(double value, int decimals, char* out) {
  if (!std::isfinite(value) || decimals < 0 || decimals > kMaxBcdDecimals) return false;
  char text[400];
  const auto result =
      std::to_chars(text, text + sizeof(text), std::fabs(value), std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return false;
  const std::string_view digits(text, static_cast<size_t>(result.ptr - text));
  const size_t point = digits.find('.');
  std::string_view whole = digits.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : digits.substr(point + 1);
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  if (whole == "0") whole = {};
  const int whole_room = kBcdDigits - decimals;
  if (static_cast<int>(whole.size()) > whole_room) return false;

  // 32 digit nibbles; the last `decimals` of them are the fraction.
  uint8_t nibbles[kBcdDigits] = {};
  for (size_t i = 0; i < whole.size(); ++i)
    nibbles[static_cast<size_t>(whole_room) - whole.size() + i] = static_cast<uint8_t>(whole[i] - '0');
  for (size_t i = 0; i < fraction.size() && static_cast<int>(i) < decimals; ++i)
    nibbles[static_cast<size_t>(whole_room) + i] = static_cast<uint8_t>(fraction[i] - '0');

  bool any_digit = false;
  for (uint8_t n : nibbles) any_digit = any_digit || n != 0;
  const bool negative = value < 0 && any_digit;
  out[0] = static_cast<char>((negative ? 0x40 : 0xC0) + decimals);
  for (int i = 0; i < kBcdDigits; ++i) {
    const uint8_t n = negative ? (nibbles[i] ^ 0x0F) : nibbles[i];
    char& byte = out[1 + i / 2];
    if (i % 2 == 0)
      byte = static_cast<char>(n << 4);
    else
      byte = static_cast<char>(static_cast<uint8_t>(byte) | n);
  }
  return true;
}

bool DecodeBcd(const char* in, int decimals, double& out) {
  const auto head = static_cast<uint8_t>(in[0]);
  if ((head & 0x40) == 0) return false;
  const bool negative = (head & 0x80) == 0;
  if (decimals < 0 || decimals > kMaxBcdDecimals) decimals = head & 0x3F;
  if (decimals > kMaxBcdDecimals) decimals = kMaxBcdDecimals;
  std::string text;
  if (negative) text.push_back('-');
  for (int i = 0; i < kBcdDigits; ++i) {
    if (i == kBcdDigits - decimals) text.push_back('.');
    const auto byte = static_cast<uint8_t>(in[1 + i / 2]);
    uint8_t n = i % 2 == 0 ? (byte >> 4) : (byte & 0x0F);
    if (negative) n ^= 0x0F;
    if (n > 9) n = 9;  // damaged nibble: keep the value readable
    text.push_back(static_cast<char>('0' + n));
  }
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc()) return false;
  out = value;
  return true;
}

Value DecodeFieldValue(FieldType type, const char* bytes, int width, CodePage code_page) {
  const auto n = static_cast<size_t>(width);
  switch (type) {
    case FieldType::kAlpha: {
      const size_t len = strnlen(bytes, n);
      if (len == 0) return {};
      return ToUtf8(std::string_view(bytes, len), code_page);
    }
    case FieldType::kBytes:
      if (IsAllZero(bytes, n)) return {};
      return Bytes{std::string(bytes, n)};
    case FieldType::kBcd: {
      double v = 0;
      if (!DecodeBcd(bytes, -1, v)) return {};
      return v;
    }
    default:
      break;
  }
  if (IsBlobType(type) || IsAllZero(bytes, n)) return {};
  switch (type) {
    case FieldType::kDate:
      return Date{static_cast<double>(DateTimeDaysFromParadoxDays(DecodeFlippedInt(bytes, 4)))};
    case FieldType::kShort:
      return DecodeFlippedInt(bytes, 2);
    case FieldType::kLong:
    case FieldType::kAutoInc:
      return DecodeFlippedInt(bytes, 4);
    case FieldType::kTime:
      return Time{DecodeFlippedInt(bytes, 4)};
    case FieldType::kMoney:
    case FieldType::kNumber:
      return DecodeFlippedDouble(bytes);
    case FieldType::kTimestamp:
      return Timestamp{DecodeFlippedDouble(bytes) / kMillisecondsPerDay -
                       static_cast<double>(kParadoxDayOfDateTimeZero)};
    case FieldType::kLogical:
      return (static_cast<uint8_t>(bytes[0]) & 0x7F) != 0;
    default:
      return {};
  }
}

std::string TextToCodePage(std::string_view utf8, CodePage code_page, std::string_view field_name) {
  if (!IsRepresentable(utf8, code_page))
    ThrowValueError(field_name, "The text contains characters that code page " +
                                    std::to_string(static_cast<int>(code_page)) +
                                    " cannot represent.");
  return FromUtf8(utf8, code_page);
}

void EncodeFieldValue(const FieldDef& def, int width, const Value& value, CodePage code_page,
                      char* out) {
  const auto n = static_cast<size_t>(width);
  std::memset(out, 0, n);
  if (IsNull(value)) return;
  switch (def.type) {
    case FieldType::kAlpha: {
      std::string bytes;
      if (const auto* s = std::get_if<std::string>(&value))
        bytes = TextToCodePage(*s, code_page, def.name);
      else if (const auto* b = std::get_if<Bytes>(&value))
        bytes = b->data;
      else
        ThrowMismatch(def);
      std::memcpy(out, bytes.data(), std::min(bytes.size(), n));
      return;
    }
    case FieldType::kBytes: {
      const auto* b = std::get_if<Bytes>(&value);
      if (!b) ThrowMismatch(def);
      std::memcpy(out, b->data.data(), std::min(b->data.size(), n));
      return;
    }
    case FieldType::kShort:
      EncodeFlippedInt(IntegerOf(def, value, kMinShort, kMaxShort), 2, out);
      return;
    case FieldType::kLong:
    case FieldType::kAutoInc:
      EncodeFlippedInt(IntegerOf(def, value, kMinLong, kMaxLong), 4, out);
      return;
    case FieldType::kMoney:
    case FieldType::kNumber:
      EncodeFlippedDouble(DoubleOf(def, value), out);
      return;
    case FieldType::kBcd:
      if (!EncodeBcd(DoubleOf(def, value), def.size, out))
        ThrowValueError(def.name, "Value out of range.");
      return;
    case FieldType::kLogical: {
      const auto* b = std::get_if<bool>(&value);
      if (!b) ThrowMismatch(def);
      out[0] = static_cast<char>(*b ? 0x81 : 0x80);
      return;
    }
    case FieldType::kDate: {
      double days = 0;
      if (const auto* d = std::get_if<Date>(&value))
        days = d->value;
      else if (const auto* t = std::get_if<Timestamp>(&value))
        days = t->value;
      else
        ThrowMismatch(def);
      if (!std::isfinite(days)) ThrowValueError(def.name, "Value out of range.");
      const double paradox_days =
          std::floor(days) + static_cast<double>(kParadoxDayOfDateTimeZero);
      if (paradox_days < static_cast<double>(kMinLong) ||
          paradox_days > static_cast<double>(kMaxLong) || paradox_days == 0)
        ThrowValueError(def.name, "Value out of range.");
      EncodeFlippedInt(static_cast<int64_t>(paradox_days), 4, out);
      return;
    }
    case FieldType::kTime: {
      const auto* t = std::get_if<Time>(&value);
      if (!t) ThrowMismatch(def);
      if (t->milliseconds < 0 || t->milliseconds > kMaxLong)
        ThrowValueError(def.name, "Value out of range.");
      EncodeFlippedInt(t->milliseconds, 4, out);
      return;
    }
    case FieldType::kTimestamp: {
      double date_time = 0;
      if (const auto* t = std::get_if<Timestamp>(&value))
        date_time = t->value;
      else if (const auto* d = std::get_if<Date>(&value))
        date_time = d->value;
      else
        ThrowMismatch(def);
      const double ms = std::round(
          (date_time + static_cast<double>(kParadoxDayOfDateTimeZero)) * kMillisecondsPerDay);
      if (!std::isfinite(ms)) ThrowValueError(def.name, "Value out of range.");
      EncodeFlippedDouble(ms, out);
      return;
    }
    default:
      // Blob fields are written by the table together with their .MB part.
      ThrowMismatch(def);
  }
}

}  // namespace dalimor
