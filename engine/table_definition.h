#pragma once
// Table definitions as callers write them: a field list "Name:Type[:Size],..."
// (Paradox type letters) and a key list of field names.

#include <string>
#include <string_view>
#include <vector>

#include "engine/paradox/secondary_index.h"
#include "engine/value.h"

namespace dalimor {

// Splits a list of names separated by "," or ";" (blanks around names are
// dropped, empty names skipped).
std::vector<std::string> SplitNameList(std::string_view list);

// The number of leading fields that the key names, in order.  Paradox keys
// are always the first fields of a table, so any other list is refused:
// throws EngineError (kInvalidDefinition) naming the first field that is not
// where it must be, or an unknown one.  Names compare without regard to case.
int LeadingKeyFieldCount(const std::vector<FieldDef>& fields, std::string_view key_list);

// Parses "Name:Type[:Size],..." with the type as its Paradox letter; sizes
// as FieldDef documents them (0 where omitted).  Throws EngineError
// (kInvalidDefinition) for a malformed entry or an unknown type letter.
std::vector<FieldDef> ParseFieldList(std::string_view text);

// Parses a secondary index: "Field" (an index over one field) or
// "Name:F1,F2[:ci][:unique]" (a named index; "ci" ignores letter case,
// "unique" refuses repeated values).  Throws EngineError
// (kInvalidDefinition) for anything else.
SecondaryIndexDef ParseIndexDefinition(std::string_view text);

// Parses secondary indexes separated by ";".
std::vector<SecondaryIndexDef> ParseIndexList(std::string_view text);

}  // namespace dalimor
