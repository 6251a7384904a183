#include "tests/sqldiff/diff_case.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <utility>

#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/sql/paradox_catalog.h"
#include "engine/sql/query.h"
#include "tests/sqldiff/sqlite_db.h"
#include "util/calendar.h"

namespace dalimor::sqldiff {
namespace {

namespace fs = std::filesystem;

// mt19937_64 is specified to the bit, and the reductions below are our own,
// so a seed gives the same case with every standard library.
class Rng {
 public:
  explicit Rng(uint64_t seed) : engine_(seed) {}
  uint64_t Below(uint64_t n) { return engine_() % n; }
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Below(static_cast<uint64_t>(hi - lo + 1)));
  }
  bool Chance(int percent) { return Below(100) < static_cast<uint64_t>(percent); }
  template <class T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }
  // `count` distinct values from lo..hi, ascending.
  std::vector<int> Distinct(int count, int lo, int hi) {
    std::set<int> chosen;
    while (static_cast<int>(chosen.size()) < count) chosen.insert(Between(lo, hi));
    return {chosen.begin(), chosen.end()};
  }

 private:
  std::mt19937_64 engine_;
};

// Series as Kalmeo users write them, with case variants, Czech letters and
// apostrophes; the filter also asks for a series no document has.
const std::vector<std::string> kSeries = {"FP", "FV", "fp", "O'K", "Řč", "'", "Ž'a"};
const std::vector<std::string> kFilterSeries = {"FP", "FV", "fp", "O'K", "Řč", "'", "Ž'a", "ZZ"};
const std::vector<std::string> kOddNumbers = {"1'2", "č5", "A-1", "'", "Ž9"};
const std::vector<std::string> kWords = {"Příliš", "žluťoučký", "kůň",        "úpěl",    "ďábelské",
                                         "ódy",    "O'Brien",   "d'Artagnan", "faktura", "Řízení",
                                         "čtvrť",  "'",         "ŠÍŘE"};

const double kFirstDay = DateTimeFromDate(2010, 1, 1);
constexpr int kDays = 40;

std::vector<FieldDef> HeaderFields() {
  return {{"DoklSRada", FieldType::kAlpha, 6}, {"DoklSCislo", FieldType::kAlpha, 10},
          {"KdyUskutUP", FieldType::kDate, 0}, {"Castka", FieldType::kMoney, 0},
          {"Popis", FieldType::kAlpha, 40},    {"Zmeneno", FieldType::kTimestamp, 0}};
}

// Popis and Castka are also header columns, with other values, so that a
// copy that took the header's column instead of the item's shows.
std::vector<FieldDef> ItemFields(bool with_date) {
  std::vector<FieldDef> fields = {{"DoklSRada", FieldType::kAlpha, 6},
                                  {"DoklSCislo", FieldType::kAlpha, 10},
                                  {"Klic", FieldType::kLong, 0},
                                  {"Popis", FieldType::kAlpha, 40},
                                  {"Castka", FieldType::kNumber, 0}};
  if (with_date) fields.push_back({"KdyUskutUP", FieldType::kDate, 0});
  return fields;
}

std::vector<FieldDef> JournalFields() {
  return {{"DoklRada", FieldType::kAlpha, 6},   {"DoklCislo", FieldType::kAlpha, 10},
          {"Klic", FieldType::kLong, 0},        {"Poradi", FieldType::kShort, 0},
          {"KdyUcPripad", FieldType::kDate, 0}, {"Castka", FieldType::kMoney, 0},
          {"Text", FieldType::kAlpha, 40}};
}

Value RandomDate(Rng& rng) {
  if (rng.Chance(10)) return {};
  return Date{kFirstDay + rng.Between(0, kDays)};
}
Value RandomAmount(Rng& rng) {
  if (rng.Chance(10)) return {};
  return rng.Between(-50000, 500000) / 100.0;
}
Value RandomText(Rng& rng) {
  if (rng.Chance(15)) return {};
  std::string text = rng.Pick(kWords);
  for (int n = rng.Between(0, 2); n > 0; --n) text += " " + rng.Pick(kWords);
  return text;
}
Value RandomStamp(Rng& rng) {
  if (rng.Chance(30)) return {};
  return Timestamp{kFirstDay + rng.Between(0, kDays) + rng.Between(0, 86399) / 86400.0};
}

std::string DocumentNumber(Rng& rng, int scale) {
  char buffer[16];
  if (scale > 1) {
    std::snprintf(buffer, sizeof buffer, "%06d", rng.Between(1, 30 * scale));
    return buffer;
  }
  if (rng.Chance(15)) return rng.Pick(kOddNumbers);
  std::snprintf(buffer, sizeof buffer, "%04d", rng.Between(1, 40));
  return buffer;
}

// A filter bound: none (0, or a date on or before 30 December 1899), or a day
// in or around the data's range, now and then with a time of day.
double RandomBound(Rng& rng) {
  const int choice = rng.Between(0, 9);
  if (choice <= 2) return 0;
  if (choice == 3) return -rng.Between(1, 1000);
  return kFirstDay + rng.Between(-3, kDays + 3) + (rng.Chance(30) ? 0.5 : 0);
}

struct DocumentKey {
  std::string series;
  std::string number;
  auto operator<=>(const DocumentKey&) const = default;
};

std::vector<DocumentKey> RandomDocuments(Rng& rng, int scale, int most) {
  const int wanted = scale > 1 ? most * scale : (rng.Chance(10) ? 0 : rng.Between(1, most));
  std::vector<std::string> series = kSeries;
  std::shuffle(series.begin(), series.end(), std::mt19937_64(rng.Below(1u << 30)));
  series.resize(static_cast<size_t>(rng.Between(1, 3)));
  std::set<DocumentKey> keys;
  for (int tries = 0; static_cast<int>(keys.size()) < wanted && tries < wanted * 10; ++tries)
    keys.insert({rng.Pick(series), DocumentNumber(rng, scale)});
  std::vector<DocumentKey> result(keys.begin(), keys.end());
  std::shuffle(result.begin(), result.end(), std::mt19937_64(rng.Below(1u << 30)));
  return result;
}

Record HeaderRow(Rng& rng, const DocumentKey& key) {
  return {key.series,        key.number,      RandomDate(rng),
          RandomAmount(rng), RandomText(rng), RandomStamp(rng)};
}

void GenerateHeadersAndItems(DiffCase& c, Rng& rng, int scale, bool disjoint, bool item_date) {
  TableData source_heads{"", HeaderFields(), 2, {}};
  TableData target_heads{"", HeaderFields(), 2, {}};
  TableData source_items{"Spfp.DB", ItemFields(item_date), 3, {}};
  TableData target_items{"Spfp.DB", ItemFields(item_date), 3, {}};
  for (const DocumentKey& key : RandomDocuments(rng, scale, 14)) {
    const bool source_head = rng.Chance(80);
    const bool target_head = disjoint ? !source_head && rng.Chance(50) : rng.Chance(50);
    if (source_head) source_heads.rows.push_back(HeaderRow(rng, key));
    if (target_head) target_heads.rows.push_back(HeaderRow(rng, key));
    const auto add_items = [&](TableData& table, int count, int lo, int hi) {
      for (const int klic : rng.Distinct(count, lo, hi)) {
        Record row{key.series, key.number, int64_t{klic}, RandomText(rng), RandomAmount(rng)};
        if (item_date) row.push_back(RandomDate(rng));
        table.rows.push_back(std::move(row));
      }
    };
    add_items(source_items, rng.Chance(25) ? 0 : rng.Between(1, 3), 1, 6);
    add_items(target_items, rng.Chance(60) ? 0 : rng.Between(1, 3), disjoint ? 7 : 1,
              disjoint ? 12 : 6);
  }
  if (c.kind == TableKind::kHeaders) {
    source_heads.file = target_heads.file = "Svfh.DB";
    c.source = std::move(source_heads);
    c.target = std::move(target_heads);
    return;
  }
  source_heads.file = target_heads.file = "SPFH.DB";
  c.source = std::move(source_items);
  c.target = std::move(target_items);
  c.source_master = std::move(source_heads);
  c.target_master = std::move(target_heads);
}

void GenerateJournal(DiffCase& c, Rng& rng, int scale, bool disjoint) {
  c.source = {"Cdenik.DB", JournalFields(), 4, {}};
  c.target = {"Cdenik.DB", JournalFields(), 4, {}};
  const auto row = [&rng](const DocumentKey& key, int klic, int poradi) {
    return Record{key.series,      key.number,        int64_t{klic},  int64_t{poradi},
                  RandomDate(rng), RandomAmount(rng), RandomText(rng)};
  };
  for (const DocumentKey& key : RandomDocuments(rng, scale, 8)) {
    for (const int klic : rng.Distinct(rng.Between(1, 3), 1, 5)) {
      for (const int poradi : rng.Distinct(rng.Between(1, 3), 1, 4)) {
        const bool in_source = rng.Chance(70);
        const bool in_target = disjoint ? !in_source && rng.Chance(50) : rng.Chance(40);
        if (in_source) c.source.rows.push_back(row(key, klic, poradi));
        if (in_target) c.target.rows.push_back(row(key, klic, poradi));
      }
    }
  }
}

std::vector<std::string> SplitKeys(const std::string& keys) {
  std::vector<std::string> names;
  std::stringstream stream(keys);
  for (std::string name; std::getline(stream, name, ',');) names.push_back(name);
  return names;
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool HasField(const std::vector<FieldDef>& fields, const std::string& name) {
  return std::any_of(fields.begin(), fields.end(),
                     [&](const FieldDef& f) { return SameName(f.name, name); });
}

std::string SourceFolder(const fs::path& folder) {
  return (folder / "firma").string() + "/";
}
std::string TargetFolder(const fs::path& folder) {
  return (folder / "dáv'ka").string() + "/";
}

bool DeletesFirst(Operation op) {
  return op == Operation::kOverwrite || op == Operation::kDeleteOnly;
}
bool Inserts(Operation op) {
  return op != Operation::kDeleteOnly;
}

std::vector<std::string> SortedRowTexts(const std::vector<Record>& rows) {
  std::vector<std::string> texts;
  texts.reserve(rows.size());
  for (const Record& row : rows) texts.push_back(RowText(row));
  std::sort(texts.begin(), texts.end());
  return texts;
}

// --- The SQLite side, written from the meaning of the statements ---

std::string Quote(const std::string& text) {
  std::string result = "'";
  for (const char ch : text) {
    result.push_back(ch);
    if (ch == '\'') result.push_back('\'');
  }
  return result + "'";
}

std::string DayNumber(double date_time) {
  return std::to_string(static_cast<int64_t>(std::floor(date_time)));
}

struct Scope {
  std::string alias;  // empty: the DELETE's own table, named bare
  const std::vector<FieldDef>* fields;
};

// An unqualified name means the first table in scope that has the field:
// the rows' table, then the joined headers, then the enclosing statement.
// A name none has stays bare, and SQLite fails on it as it should.
std::string Resolve(const std::string& name, const std::vector<Scope>& scopes) {
  for (const Scope& scope : scopes)
    if (HasField(*scope.fields, name)) return scope.alias.empty() ? name : scope.alias + "." + name;
  return name;
}

std::string FilterWhere(const DiffCase& c, const std::vector<Scope>& scopes, bool guard) {
  const TransferFilter& f = c.filter;
  std::vector<std::string> terms;
  if (f.date_from > 0)
    terms.push_back(Resolve(f.date_field, scopes) + " >= " + DayNumber(f.date_from));
  if (f.date_to > 0) terms.push_back(Resolve(f.date_field, scopes) + " <= " + DayNumber(f.date_to));
  if (!f.number_from.empty())
    terms.push_back(Resolve(f.number_field, scopes) + " >= " + Quote(f.number_from));
  if (!f.number_to.empty())
    terms.push_back(Resolve(f.number_field, scopes) + " <= " + Quote(f.number_to));
  if (guard) {
    std::string match;
    for (const std::string& key : SplitKeys(c.step.document_keys))
      match += (match.empty() ? "" : " AND ") + ("tD." + key + " = tE." + key);
    terms.push_back("NOT EXISTS (SELECT 1 FROM tgt_main tD WHERE " + match + ")");
  }
  if (!f.series.empty()) terms.push_back(Resolve(f.series_field, scopes) + " = " + Quote(f.series));
  std::string where;
  for (const std::string& term : terms) where += (where.empty() ? " WHERE " : " AND ") + term;
  return where;
}

std::string SqliteJoin(const DiffCase& c, const std::string& master) {
  if (!c.join) return "";
  return " LEFT JOIN " + master +
         " tM ON tE.DoklSRada = tM.DoklSRada AND tE.DoklSCislo = tM.DoklSCislo";
}

std::string SqliteCompositeKey(const DiffCase& c, const std::string& prefix) {
  std::string key;
  bool first = true;
  for (const std::string& name : SplitKeys(c.step.document_keys)) {
    const bool number = SameName(name, "Klic") || SameName(name, "Poradi");
    const std::string column = prefix + name;
    if (!first) key += " || ' +@@+ ' || ";
    key += !first && number ? "CAST(" + column + " AS TEXT)" : column;
    first = false;
  }
  return key;
}

std::string SqliteDelete(const DiffCase& c) {
  const std::string master = c.delete_joins_target_master ? "tgt_master" : "src_master";
  std::vector<Scope> scopes = {{"tE", &c.source.fields}};
  if (c.join)
    scopes.push_back(
        {"tM", &(c.delete_joins_target_master ? c.target_master : c.source_master)->fields});
  scopes.push_back({"", &c.target.fields});
  return "DELETE FROM tgt_main WHERE " + SqliteCompositeKey(c, "") + " IN (SELECT " +
         SqliteCompositeKey(c, "tE.") + " FROM src_main tE" + SqliteJoin(c, master) +
         FilterWhere(c, scopes, false) + ")";
}

std::string SqliteInsert(const DiffCase& c, bool guard) {
  std::string columns, selected;
  for (const FieldDef& f : c.source.fields) {
    if (c.step.omit_zmeneno && f.name == "Zmeneno") continue;
    columns += (columns.empty() ? "" : ", ") + f.name;
    selected += (selected.empty() ? "" : ", ") + ("tE." + f.name);
  }
  std::vector<Scope> scopes = {{"tE", &c.source.fields}};
  if (c.join) scopes.push_back({"tM", &c.source_master->fields});
  return "INSERT INTO tgt_main (" + columns + ") SELECT " + selected + " FROM src_main tE" +
         SqliteJoin(c, "src_master") + FilterWhere(c, scopes, guard);
}

void WriteTable(const std::string& path, TableData& table) {
  {
    auto written = ParadoxTable::Create(path, table.fields, table.key_count);
    written->set_auto_flush(false);
    for (const Record& row : table.rows) written->Insert(row);
    written->Close();
  }
  table.rows = ParadoxTable::Open(path, OpenMode::kReadOnly)->ReadAll();
}

}  // namespace

const char* KindName(TableKind kind) {
  switch (kind) {
    case TableKind::kHeaders:
      return "headers";
    case TableKind::kItems:
      return "items";
    case TableKind::kJournal:
      return "journal";
  }
  return "?";
}

const char* OperationName(Operation operation) {
  switch (operation) {
    case Operation::kOverwrite:
      return "overwrite (DELETE, then INSERT without guard)";
    case Operation::kGuardedInsert:
      return "guarded INSERT";
    case Operation::kPlainInsert:
      return "INSERT without guard";
    case Operation::kDeleteOnly:
      return "DELETE";
  }
  return "?";
}

DiffCase GenerateCase(TableKind kind, uint64_t seed, int scale) {
  Rng rng(seed);
  DiffCase c;
  c.seed = seed;
  c.kind = kind;
  c.operation = static_cast<Operation>(rng.Below(4));
  // Disjoint cases keep the rows of both sides apart where a plain INSERT
  // would hit a key violation, so that unguarded copies get to run too.
  const bool disjoint = rng.Chance(c.operation == Operation::kPlainInsert ? 50 : 10);
  TransferFilter& f = c.filter;
  f.date_from = RandomBound(rng);
  f.date_to = RandomBound(rng);
  // Mostly a range that holds something.
  if (f.date_from > 0 && f.date_to > 0 && f.date_to < f.date_from && rng.Chance(80))
    std::swap(f.date_from, f.date_to);
  if (kind == TableKind::kJournal) {
    GenerateJournal(c, rng, scale, disjoint);
    c.step.table = "Cdenik.DB";
    c.step.document_keys = rng.Pick(std::vector<std::string>{"DoklRada,DoklCislo,Klic,Poradi",
                                                             "DoklRada,DoklCislo,klic,PORADI"});
    f.date_field = "KdyUcPripad";
    f.number_field = "DoklCislo";
    f.series_field = "DoklRada";
  } else {
    const bool item_date = kind == TableKind::kItems && rng.Chance(25);
    GenerateHeadersAndItems(c, rng, scale, disjoint, item_date);
    f.date_field = "KdyUskutUP";
    f.number_field = "DoklSCislo";
    f.series_field = "DoklSRada";
    c.step.document_keys = "DoklSRada,DoklSCislo";
    if (kind == TableKind::kHeaders) {
      c.step.table = "Svfh.DB";
      c.step.omit_zmeneno = rng.Chance(50);
    } else {
      // The files are SPFH.DB and Spfp.DB; statements name them in any case.
      c.step.table = rng.Chance(50) ? "SPFP.DB" : "Spfp.DB";
      c.join = rng.Chance(80);
      c.delete_joins_target_master = rng.Chance(75);
      if (c.join) {
        c.step.master_table = rng.Chance(50) ? "SPFH.DB" : "spfh.db";
        c.step.join_condition = "(tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)";
      }
    }
  }
  c.step.creation_keys = c.step.document_keys;
  if (rng.Chance(15)) {
    if (rng.Chance(70)) f.number_from = DocumentNumber(rng, scale);
    if (rng.Chance(70)) f.number_to = DocumentNumber(rng, scale);
  }
  if (!rng.Chance(40)) {
    // Mostly a series the source has; else any, perhaps one nobody has.
    if (!c.source.rows.empty() && rng.Chance(70))
      f.series = std::get<std::string>(c.source.rows[rng.Below(c.source.rows.size())][0]);
    else
      f.series = rng.Pick(kFilterSeries);
  }
  return c;
}

void WriteParadoxTables(DiffCase& c, const fs::path& folder) {
  fs::create_directories(SourceFolder(folder));
  fs::create_directories(TargetFolder(folder));
  WriteTable(SourceFolder(folder) + c.source.file, c.source);
  WriteTable(TargetFolder(folder) + c.target.file, c.target);
  if (c.source_master) WriteTable(SourceFolder(folder) + c.source_master->file, *c.source_master);
  if (c.target_master) WriteTable(TargetFolder(folder) + c.target_master->file, *c.target_master);
}

SideRun RunOurs(const DiffCase& c, const fs::path& folder) {
  const std::string source = SourceFolder(folder);
  const std::string target = TargetFolder(folder);
  ParadoxSqlCatalog catalog;
  SideRun run;
  const auto execute = [&](const std::string& statement) {
    run.statements.push_back(statement);
    Outcome outcome;
    try {
      SqlQuery query(catalog);
      query.SetText(statement);
      outcome.rows = query.ExecSql();
      outcome.ok = true;
    } catch (const EngineError& e) {
      outcome.key_violation = e.kind() == EngineErrorKind::kKeyViolation;
      outcome.message = e.what();
      outcome.unknown_column =
          e.kind() == EngineErrorKind::kSql && outcome.message.rfind("Invalid field name.", 0) == 0;
    }
    run.outcomes.push_back(outcome);
    run.target_rows.push_back(
        SortedRowTexts(ParadoxTable::Open(target + c.target.file, OpenMode::kReadOnly)->ReadAll()));
  };
  if (DeletesFirst(c.operation)) {
    const std::string master =
        c.join ? (c.delete_joins_target_master ? target : source) + c.step.master_table : "";
    execute(BuildDeleteStatement(target + c.step.table, source + c.step.table, c.step.document_keys,
                                 c.filter, c.join ? c.step.join_condition : "", master));
  }
  if (Inserts(c.operation)) {
    // The column list as the transfer reads it: the result columns of
    // SELECT * over the source table.
    std::string columns;
    {
      SqlQuery query(catalog);
      query.SetText(SelectAllStatement(source + c.step.table));
      query.Open();
      for (const FieldDef& f : query.Fields()) {
        if (c.step.omit_zmeneno && f.name == "Zmeneno") continue;
        columns += (columns.empty() ? "" : ", ") + f.name;
      }
    }
    execute(BuildInsertStatement(source, target, c.step, c.filter,
                                 c.operation == Operation::kGuardedInsert, columns));
  }
  return run;
}

SideRun RunSqlite(const DiffCase& c) {
  SqliteDb db(":memory:");
  const auto load = [&db](const std::string& name, const TableData& table) {
    db.CreateTable(name, table.fields, table.key_count);
    db.InsertRows(name, table.fields, table.rows);
  };
  load("src_main", c.source);
  load("tgt_main", c.target);
  if (c.source_master) load("src_master", *c.source_master);
  if (c.target_master) load("tgt_master", *c.target_master);
  SideRun run;
  const auto execute = [&](const std::string& statement) {
    run.statements.push_back(statement);
    const SqliteOutcome result = db.Exec(statement);
    Outcome outcome;
    outcome.ok = result.ok;
    outcome.rows = result.changes;
    outcome.key_violation = result.code == 19;  // SQLITE_CONSTRAINT
    outcome.message = result.message;
    outcome.unknown_column = outcome.message.rfind("no such column", 0) == 0;
    run.outcomes.push_back(outcome);
    run.target_rows.push_back(SortedRowTexts(db.ReadRows("tgt_main", c.target.fields)));
  };
  if (DeletesFirst(c.operation)) execute(SqliteDelete(c));
  if (Inserts(c.operation)) execute(SqliteInsert(c, c.operation == Operation::kGuardedInsert));
  return run;
}

std::string RowText(const Record& row) {
  std::string text;
  for (const Value& v : row) {
    if (!text.empty()) text += " | ";
    char buffer[40];
    if (IsNull(v)) {
      text += "NULL";
    } else if (const auto* n = std::get_if<int64_t>(&v)) {
      text += std::to_string(*n);
    } else if (const auto* d = std::get_if<double>(&v)) {
      std::snprintf(buffer, sizeof buffer, "%.17g", *d);
      text += buffer;
    } else if (const auto* s = std::get_if<std::string>(&v)) {
      text += "\"" + *s + "\"";
    } else if (const auto* date = std::get_if<Date>(&v)) {
      std::snprintf(buffer, sizeof buffer, "D%.17g", date->value);
      text += buffer;
    } else if (const auto* stamp = std::get_if<Timestamp>(&v)) {
      std::snprintf(buffer, sizeof buffer, "T%.17g", stamp->value);
      text += buffer;
    } else {
      text += "?";
    }
  }
  return text;
}

std::string Describe(const DiffCase& c) {
  std::ostringstream out;
  const TransferFilter& f = c.filter;
  out << "kind " << KindName(c.kind) << ", " << OperationName(c.operation) << ", join "
      << (c.join ? "on" : "off");
  if (c.kind == TableKind::kItems)
    out << ", DELETE joins the " << (c.delete_joins_target_master ? "target's" : "source's")
        << " headers";
  out << ", omit Zmeneno " << (c.step.omit_zmeneno ? "on" : "off") << "\nfilter: date "
      << f.date_field << " from " << f.date_from << " to " << f.date_to << " (day " << kFirstDay
      << " = 1 Jan 2010), number " << f.number_field << " from '" << f.number_from << "' to '"
      << f.number_to << "', series " << f.series_field << " = '" << f.series << "'\n";
  const auto table = [&out](const char* what, const TableData& t) {
    out << what << " " << t.file << " (";
    for (size_t i = 0; i < t.fields.size(); ++i) out << (i ? ", " : "") << t.fields[i].name;
    out << "), " << t.rows.size() << " rows:\n";
    for (const Record& row : t.rows) out << "  " << RowText(row) << "\n";
  };
  table("source", c.source);
  table("target", c.target);
  if (c.source_master) table("source headers", *c.source_master);
  if (c.target_master) table("target headers", *c.target_master);
  return out.str();
}

}  // namespace dalimor::sqldiff
