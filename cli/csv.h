#pragma once
// The CSV form of table rows used by "dalimor-cli dump", "import" and "sql":
// RFC 4180 (CR LF line ends, fields with "," '"' CR or LF quoted, quotes
// doubled), UTF-8.  Values: text as stored; integers in decimal; numbers in
// the shortest round-trip form with "."; dates dd.mm.yyyy; times hh:mm:ss;
// timestamps dd.mm.yyyy hh:mm:ss[.zzz]; logicals true/false; binary values
// as lower-case hex; NULL as an empty field.

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/value.h"

namespace dalimor {

std::string CsvField(const Value& value, FieldType type);
void WriteCsvRow(std::ostream& out, const std::vector<std::string>& fields);

// Parses the text of one field back into a value of the field's type;
// nullopt when it does not read as one.  An empty text is NULL.
std::optional<Value> ParseCsvField(const std::string& text, FieldType type);

// Reads one record (fields may span lines inside quotes).  False at the end
// of the input; throws std::runtime_error for an unterminated quote.
bool ReadCsvRecord(std::istream& in, std::vector<std::string>& fields);

}  // namespace dalimor
