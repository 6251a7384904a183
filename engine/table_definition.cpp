#include "engine/table_definition.h"

#include "engine/engine_error.h"
#include "util/ascii.h"
#include "util/date_entry.h"

namespace dalimor {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

[[noreturn]] void Invalid(const std::string& message) {
  throw EngineError(EngineErrorKind::kInvalidDefinition, message);
}

}  // namespace

std::vector<std::string> SplitNameList(std::string_view list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(",;", start);
    if (end == std::string_view::npos) end = list.size();
    const std::string_view name = Trim(list.substr(start, end - start));
    if (!name.empty()) names.emplace_back(name);
    start = end + 1;
  }
  return names;
}

int LeadingKeyFieldCount(const std::vector<FieldDef>& fields, std::string_view key_list) {
  const std::vector<std::string> names = SplitNameList(key_list);
  for (size_t i = 0; i < names.size(); ++i) {
    bool known = false;
    for (const FieldDef& f : fields) known = known || EqualsIgnoringAsciiCase(f.name, names[i]);
    if (!known) Invalid("Invalid field name: the key field '" + names[i] + "' is not in the table.");
    if (i >= fields.size() || !EqualsIgnoringAsciiCase(fields[i].name, names[i]))
      Invalid("The key field '" + names[i] + "' must be field " + std::to_string(i + 1) +
              " of the table: Paradox keys are the leading fields, in order.");
  }
  return static_cast<int>(names.size());
}

std::vector<FieldDef> ParseFieldList(std::string_view text) {
  std::vector<FieldDef> fields;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view entry = Trim(text.substr(start, end - start));
    start = end + 1;
    if (entry.empty()) continue;
    const size_t colon = entry.find(':');
    if (colon == std::string_view::npos) Invalid("Field definition without a type: " + std::string(entry));
    FieldDef def;
    def.name = std::string(Trim(entry.substr(0, colon)));
    std::string_view rest = entry.substr(colon + 1);
    const size_t colon2 = rest.find(':');
    const std::string_view type = Trim(rest.substr(0, colon2));
    if (type.size() != 1 || !FieldTypeFromLetter(type[0], def.type))
      Invalid("Unknown field type '" + std::string(type) + "' of field " + def.name);
    if (colon2 != std::string_view::npos) {
      const std::string_view size = Trim(rest.substr(colon2 + 1));
      if (!IsIntegerText(size) || IntegerFromText(size) < 0)
        Invalid("Invalid size '" + std::string(size) + "' of field " + def.name);
      def.size = IntegerFromText(size);
    }
    fields.push_back(std::move(def));
  }
  if (fields.empty()) Invalid("No fields defined.");
  return fields;
}

namespace {

std::vector<std::string> SplitAt(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

SecondaryIndexDef ParseIndexDefinition(std::string_view text) {
  auto bad = [&]() {
    throw EngineError(
        EngineErrorKind::kInvalidDefinition,
        "An index is given as \"Field\" or \"Name:Field1,Field2[:ci][:unique]\", not \"" +
            std::string(text) + "\".");
  };
  const std::vector<std::string> parts = SplitAt(text, ':');
  SecondaryIndexDef def;
  if (parts.size() == 1) {
    if (parts[0].empty() || parts[0].find(',') != std::string::npos) bad();
    def.fields.push_back(parts[0]);
    return def;
  }
  def.name = parts[0];
  def.fields = SplitAt(parts[1], ',');
  if (def.name.empty()) bad();
  for (const std::string& f : def.fields)
    if (f.empty()) bad();
  for (size_t i = 2; i < parts.size(); ++i) {
    if (parts[i] == "ci")
      def.case_insensitive = true;
    else if (parts[i] == "unique")
      def.unique = true;
    else
      bad();
  }
  return def;
}

std::vector<SecondaryIndexDef> ParseIndexList(std::string_view text) {
  std::vector<SecondaryIndexDef> out;
  if (text.empty()) return out;
  for (const std::string& index : SplitAt(text, ';')) out.push_back(ParseIndexDefinition(index));
  return out;
}

}  // namespace dalimor
