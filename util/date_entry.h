#pragma once
// Completion of the dates typed into the date boxes: short and relative forms
// ("5.12", "051209", "+10", "*") become the full form dd.mm.yyyy.

#include <string>
#include <string_view>

#include "util/clock.h"

namespace dalimor {

// Completes a typed date in place.  Returns true when the text is accepted:
// it is then replaced by "dd.mm.yyyy" (an empty text stays empty).  Returns
// false when it is rejected; the text is then left in an unspecified state and
// must not be used.  "Today" comes from the clock.  Relative day counts
// ("+1,5") stop at `decimal_separator`.  Never throws.
bool CompleteDateText(std::string& text, const Clock& clock, char decimal_separator = ',');

// True when the text converts to a 32-bit whole number: optional leading
// blanks, an optional sign, decimal digits and nothing after them.
bool IsIntegerText(std::string_view text);

// The whole number of a text for which IsIntegerText holds; 0 otherwise.
int IntegerFromText(std::string_view text);

// Year 1000..2099, month 1..12 and day within that month of that year.
bool IsValidDateParts(int year, int month, int day);

// The year of the clock's today.
int CurrentYear(const Clock& clock);

// Every occurrence of `search` replaced, case-sensitively, left to right and
// without overlaps.  An empty `search` leaves the text as it is.
std::string ReplaceAllText(std::string_view text, std::string_view search,
                           std::string_view replacement);

}  // namespace dalimor
