#include "engine/value.h"

namespace dalimor {
namespace {

struct Letter {
  FieldType type;
  char letter;
};

constexpr Letter kLetters[] = {
    {FieldType::kAlpha, 'A'},    {FieldType::kDate, 'D'},          {FieldType::kShort, 'S'},
    {FieldType::kLong, 'I'},     {FieldType::kMoney, '$'},         {FieldType::kNumber, 'N'},
    {FieldType::kLogical, 'L'},  {FieldType::kMemo, 'M'},          {FieldType::kBlob, 'B'},
    {FieldType::kFormattedMemo, 'F'}, {FieldType::kOle, 'O'},      {FieldType::kGraphic, 'G'},
    {FieldType::kTime, 'T'},     {FieldType::kTimestamp, '@'},     {FieldType::kAutoInc, '+'},
    {FieldType::kBcd, '#'},      {FieldType::kBytes, 'Y'},
};

}  // namespace

char FieldTypeLetter(FieldType type) {
  for (const Letter& l : kLetters)
    if (l.type == type) return l.letter;
  return '?';
}

bool FieldTypeFromLetter(char letter, FieldType& out) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  for (const Letter& l : kLetters) {
    if (l.letter == letter) {
      out = l.type;
      return true;
    }
  }
  return false;
}

}  // namespace dalimor
