// dump, schema, create, import and sql: the table engine seen from outside.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>

#include "cli/cli.h"
#include "cli/csv.h"
#include "engine/engine_error.h"
#include "engine/paradox/file.h"
#include "engine/paradox/table.h"
#include "engine/sql/paradox_catalog.h"
#include "engine/sql/query.h"
#include "engine/table_definition.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

// The value of "--name VALUE" in args (removed from them), or empty.
std::string TakeOption(std::vector<std::string>& args, const std::string& name) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
    std::string value = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i + 2));
    return value;
  }
  return "";
}

void RequireArgs(const std::vector<std::string>& args, size_t count, const char* usage) {
  if (args.size() != count) throw UsageError{std::string("usage: dalimor-cli ") + usage};
}

std::vector<std::string> RowFields(const Record& record, const std::vector<FieldDef>& fields) {
  std::vector<std::string> out;
  out.reserve(record.size());
  for (size_t i = 0; i < record.size(); ++i) out.push_back(CsvField(record[i], fields[i].type));
  return out;
}

std::vector<std::string> Names(const std::vector<FieldDef>& fields) {
  std::vector<std::string> names;
  for (const FieldDef& f : fields) names.push_back(f.name);
  return names;
}

// Every "--name VALUE" in args (removed from them), in order.
std::vector<std::string> TakeRepeatedOption(std::vector<std::string>& args,
                                            const std::string& name) {
  std::vector<std::string> values;
  for (std::string v = TakeOption(args, name); !v.empty(); v = TakeOption(args, name))
    values.push_back(v);
  return values;
}

// An index as "--index" gives it; a malformed one is a wrong command line.
SecondaryIndexDef IndexOption(const std::string& text) {
  try {
    return ParseIndexDefinition(text);
  } catch (const EngineError& e) {
    throw UsageError{std::string("--index: ") + e.what()};
  }
}

}  // namespace

int DumpCommand(const std::vector<std::string>& args, std::ostream& out) {
  RequireArgs(args, 1, "dump TABLE");
  const auto table = ParadoxTable::Open(args[0], OpenMode::kReadOnly);
  WriteCsvRow(out, Names(table->fields()));
  for (auto p = table->First(); p; p = table->Next(*p))
    WriteCsvRow(out, RowFields(table->Read(*p), table->fields()));
  return kExitOk;
}

int SchemaCommand(const std::vector<std::string>& args, std::ostream& out) {
  RequireArgs(args, 1, "schema TABLE");
  const auto table = ParadoxTable::Open(args[0], OpenMode::kReadOnly);
  std::string keys;
  for (size_t i = 0; i < table->fields().size(); ++i) {
    const FieldDef& f = table->fields()[i];
    out << f.name << '\t' << FieldTypeLetter(f.type) << '\t' << f.size << '\n';
    if (static_cast<int>(i) < table->key_field_count()) keys += (keys.empty() ? "" : ",") + f.name;
  }
  out << "key:" << keys << '\n';
  for (const std::string& x : FindSecondaryIndexFiles(table->path()))
    out << "index:" << Utf8FromPath(PathFromUtf8(x).filename()) << '\n';
  return kExitOk;
}

int CreateCommand(const std::vector<std::string>& args_in, std::ostream&) {
  std::vector<std::string> args = args_in;
  const std::string fields_text = TakeOption(args, "--fields");
  const std::string key_text = TakeOption(args, "--key");
  std::vector<SecondaryIndexDef> indexes;
  for (const std::string& index : TakeRepeatedOption(args, "--index"))
    indexes.push_back(IndexOption(index));
  if (args.size() != 1 || fields_text.empty())
    throw UsageError{
        "usage: dalimor-cli create TABLE --fields \"Name:Type[:Size],...\" [--key \"F1,F2\"] "
        "[--index \"Field\" | --index \"Name:F1,F2[:ci][:unique]\"]..."};
  const std::vector<FieldDef> fields = ParseFieldList(fields_text);
  const auto table = ParadoxTable::Create(args[0], fields, LeadingKeyFieldCount(fields, key_text));
  try {
    for (const SecondaryIndexDef& def : indexes) table->AddSecondaryIndex(def);
    table->Close();
  } catch (...) {
    // No half-made table stays behind.
    const std::string path = table->path();
    table->Close();
    for (const std::string& x : FindSecondaryIndexFiles(path)) RemoveSecondaryIndexFiles(x);
    const std::filesystem::path db = PathFromUtf8(path);
    const std::string dir = db.parent_path().empty() ? "." : Utf8FromPath(db.parent_path());
    for (const char* ext : {".PX", ".MB", ".DB"}) {
      const std::string file = FindFileNoCase(dir, Utf8FromPath(db.stem()) + ext);
      std::error_code ec;
      if (!file.empty()) std::filesystem::remove(PathFromUtf8(file), ec);
    }
    throw;
  }
  return kExitOk;
}

int ImportCommand(const std::vector<std::string>& args, std::ostream&) {
  RequireArgs(args, 2, "import TABLE FILE.csv");
  std::ifstream in(PathFromUtf8(args[1]), std::ios::binary);
  if (!in) throw EngineError(EngineErrorKind::kFileNotFound, "Cannot open file \"" + args[1] + "\".");
  auto table = ParadoxTable::Open(args[0], OpenMode::kExclusive);
  const std::vector<FieldDef> defs = table->fields();

  std::vector<std::string> header;
  if (!ReadCsvRecord(in, header)) return kExitOk;
  std::vector<int> columns;  // CSV column -> field index
  for (const std::string& name : header) {
    const int index = table->FieldIndex(name);
    if (index < 0)
      throw EngineError(EngineErrorKind::kFieldNotFound,
                        "line 1: Field '" + name + "' not found in table.");
    columns.push_back(index);
  }

  std::vector<Record> rows;
  std::vector<size_t> lines;
  std::vector<std::string> fields;
  size_t line = 1;
  while (true) {
    ++line;
    try {
      if (!ReadCsvRecord(in, fields)) break;
    } catch (const std::runtime_error& e) {
      throw EngineError(EngineErrorKind::kGeneral, "line " + std::to_string(line) + ": " + e.what());
    }
    if (fields.size() == 1 && fields[0].empty()) continue;  // blank line
    if (fields.size() != columns.size())
      throw EngineError(EngineErrorKind::kGeneral,
                        "line " + std::to_string(line) + ": " + std::to_string(fields.size()) +
                            " values for " + std::to_string(columns.size()) + " columns.");
    Record record(defs.size());
    for (size_t c = 0; c < columns.size(); ++c) {
      const FieldDef& def = defs[static_cast<size_t>(columns[c])];
      const auto value = ParseCsvField(fields[c], def.type);
      if (!value)
        throw EngineError(EngineErrorKind::kGeneral, "line " + std::to_string(line) + ": '" +
                                                         fields[c] + "' is not a valid value for field " +
                                                         def.name + ".");
      record[static_cast<size_t>(columns[c])] = *value;
    }
    rows.push_back(std::move(record));
    lines.push_back(line);
  }

  // Key violations are found before anything is written, so that the line
  // can be named and nothing is inserted.
  if (const int key_fields = table->key_field_count(); key_fields > 0) {
    std::set<std::string> seen;
    for (size_t r = 0; r < rows.size(); ++r) {
      const Record key(rows[r].begin(), rows[r].begin() + key_fields);
      const std::string text = [&] {
        std::string t;
        for (size_t i = 0; i < key.size(); ++i) t += CsvField(key[i], defs[i].type) + '\x1f';
        return t;
      }();
      if (!seen.insert(text).second || table->Find(key))
        throw EngineError(EngineErrorKind::kKeyViolation,
                          "line " + std::to_string(lines[r]) + ": Key violation.");
    }
  }
  ParadoxSqlTable sql_table(std::move(table));
  try {
    sql_table.InsertAll(std::move(rows));
  } catch (const EngineError& e) {
    throw EngineError(e.kind(), std::string("nothing was inserted: ") + e.what());
  }
  return kExitOk;
}

int SqlCommand(const std::vector<std::string>& args, std::ostream& out) {
  RequireArgs(args, 1, "sql \"STATEMENT\"");
  ParadoxSqlCatalog catalog;
  SqlQuery query(catalog);
  query.SetText(args[0]);
  size_t start = args[0].find_first_not_of(" \t\r\n(");
  const std::string head = args[0].substr(start == std::string::npos ? 0 : start, 6);
  std::string upper;
  for (const char c : head) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  if (upper != "SELECT") {
    query.ExecSql();
    return kExitOk;
  }
  query.Open();
  WriteCsvRow(out, Names(query.Fields()));
  for (query.First(); !query.Eof(); query.Next()) {
    std::vector<std::string> row;
    for (size_t i = 0; i < query.FieldCount(); ++i)
      row.push_back(CsvField(query.FieldValue(i), query.Fields()[i].type));
    WriteCsvRow(out, row);
  }
  return kExitOk;
}

}  // namespace dalimor
