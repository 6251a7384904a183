// Runs the SQL test files under tests/engine/sql/<capability>/*.test, one
// GoogleTest test per file (suite "Sql" + capability, test = file name).
// The file format is described in docs/sql_tests.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/sql/lexer.h"
#include "engine/sql/memory_table.h"
#include "engine/sql/query.h"
#include "engine/sql/value_ops.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

fs::path SqlTestFolder() { return fs::path(__FILE__).parent_path() / "sql"; }

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// A cell of a row line: its text, and whether it was written in quotes.
struct Cell {
  std::string text;
  bool quoted = false;
};

// Splits a row line at "|" outside single quotes; '' inside quotes is one '.
bool SplitCells(const std::string& line, std::vector<Cell>& cells, std::string& error) {
  cells.clear();
  size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    Cell cell;
    if (i < line.size() && line[i] == '\'') {
      cell.quoted = true;
      ++i;
      for (;;) {
        if (i >= line.size()) {
          error = "unterminated quote";
          return false;
        }
        if (line[i] == '\'') {
          if (i + 1 < line.size() && line[i + 1] == '\'') {
            cell.text.push_back('\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        cell.text.push_back(line[i++]);
      }
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    } else {
      const size_t bar = line.find('|', i);
      cell.text = Trim(line.substr(i, bar == std::string::npos ? std::string::npos : bar - i));
      i = bar == std::string::npos ? line.size() : bar;
    }
    cells.push_back(std::move(cell));
    if (i >= line.size()) return true;
    if (line[i] != '|') {
      error = "text after a quoted cell";
      return false;
    }
    ++i;
  }
}

// "Name T" or "Name T<size>"; the name may hold blanks, the type is the last word.
bool ParseColumnDef(const std::string& text, FieldDef& def) {
  const std::string column = Trim(text);
  const size_t blank = column.find_last_of(' ');
  if (blank == std::string::npos) return false;
  def.name = Trim(column.substr(0, blank));
  const std::string type = column.substr(blank + 1);
  if (def.name.empty() || !FieldTypeFromLetter(type[0], def.type)) return false;
  if (type.size() > 1 && type.find_first_not_of("0123456789", 1) != std::string::npos) return false;
  def.size = type.size() > 1 ? std::stoi(type.substr(1)) : 0;
  return true;
}

bool ParseCell(const Cell& cell, const FieldDef& field, Value& out) {
  if (!cell.quoted && cell.text == "NULL") {
    out = Value();
    return true;
  }
  const std::string& t = cell.text;
  switch (SqlTypeOfField(field.type)) {
    case SqlType::kString: out = t; return true;
    case SqlType::kInteger:
    case SqlType::kFloat: {
      Value v;
      if (!ParseSqlNumber(t, v)) return false;
      if (SqlTypeOfField(field.type) == SqlType::kInteger) {
        if (!std::holds_alternative<int64_t>(v)) return false;
        out = v;
      } else {
        out = std::holds_alternative<int64_t>(v) ? static_cast<double>(std::get<int64_t>(v))
                                                  : std::get<double>(v);
      }
      return true;
    }
    case SqlType::kDate: return ParseSqlDate(t, false, out);
    case SqlType::kTimestamp: return ParseSqlDate(t, true, out);
    case SqlType::kTime: {
      int h = 0, m = 0, s = 0;
      char c1 = 0, c2 = 0;
      std::istringstream in(t);
      if (!(in >> h >> c1 >> m >> c2 >> s) || c1 != ':' || c2 != ':') return false;
      out = Time{((h * 60 + m) * 60 + s) * int64_t{1000}};
      return true;
    }
    case SqlType::kBool:
      if (SqlNamesEqual(t, "TRUE")) out = true;
      else if (SqlNamesEqual(t, "FALSE")) out = false;
      else return false;
      return true;
    case SqlType::kBytes: {
      std::string hex = t.rfind("0x", 0) == 0 ? t.substr(2) : t;
      if (hex.size() % 2) return false;
      std::string bytes;
      for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
      out = Bytes{bytes};
      return true;
    }
    case SqlType::kNull: return false;
  }
  return false;
}

std::string Show(const Value& v) {
  if (IsNull(v)) return "NULL";
  if (std::holds_alternative<std::string>(v)) return "'" + std::get<std::string>(v) + "'";
  return SqlValueText(v);
}

std::string ShowRow(const Record& r) {
  std::string s;
  for (size_t i = 0; i < r.size(); ++i) s += (i ? " | " : "") + Show(r[i]);
  return s;
}

bool SameValue(const Value& a, const Value& b) {
  if (IsNull(a) || IsNull(b)) return IsNull(a) && IsNull(b);
  return a.index() == b.index() && CompareSqlValues(a, b) == 0;
}

std::string KindName(EngineErrorKind kind) {
  switch (kind) {
    case EngineErrorKind::kGeneral: return "kGeneral";
    case EngineErrorKind::kFileNotFound: return "kFileNotFound";
    case EngineErrorKind::kCorrupt: return "kCorrupt";
    case EngineErrorKind::kKeyViolation: return "kKeyViolation";
    case EngineErrorKind::kFieldNotFound: return "kFieldNotFound";
    case EngineErrorKind::kTableBusy: return "kTableBusy";
    case EngineErrorKind::kDirectoryControlled: return "kDirectoryControlled";
    case EngineErrorKind::kInvalidDefinition: return "kInvalidDefinition";
    case EngineErrorKind::kUnsupported: return "kUnsupported";
    case EngineErrorKind::kSql: return "kSql";
    case EngineErrorKind::kIo: return "kIo";
  }
  return "?";
}

// Path text of a "table" or "contents" line: the rest of the line in quotes.
bool QuotedPath(const std::string& rest, std::string& path, std::string& after) {
  if (rest.empty() || rest[0] != '\'') return false;
  const size_t end = rest.find('\'', 1);
  if (end == std::string::npos) return false;
  path = rest.substr(1, end - 1);
  after = Trim(rest.substr(end + 1));
  return true;
}

class SqlTestFile {
 public:
  explicit SqlTestFile(const fs::path& path) : path_(path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    // Test files are LF text; a CR before the LF is dropped so that a file
    // saved with CR LF still reads the same.
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(line);
    }
  }

  void Run() {
    if (lines_.empty()) {
      ADD_FAILURE() << path_.string() << ": empty or missing";
      return;
    }
    while (index_ < lines_.size()) {
      const std::string line = lines_[index_];
      const std::string trimmed = Trim(line);
      if (trimmed.empty() || trimmed[0] == '#') {
        ++index_;
        continue;
      }
      const auto words = Words(trimmed);
      const size_t start = index_++;
      if (words[0] == "table") {
        ReadTable(start, Trim(trimmed.substr(5)));
      } else if (words[0] == "contents") {
        CheckContents(start, Trim(trimmed.substr(8)));
      } else if (words[0] == "statement" || words[0] == "query" || words[0] == "explain") {
        RunStatement(start, words);
      } else {
        Fail(start, "unknown record '" + words[0] + "'");
        return;
      }
      if (::testing::Test::HasFatalFailure()) return;
    }
  }

 private:
  std::string Where(size_t line) const {
    return path_.filename().string() + ":" + std::to_string(line + 1);
  }
  void Fail(size_t line, const std::string& message) {
    ADD_FAILURE_AT(path_.string().c_str(), static_cast<int>(line + 1)) << message;
  }

  // Lines up to the next blank line (or the end).
  std::vector<std::string> Block() {
    std::vector<std::string> block;
    while (index_ < lines_.size() && !Trim(lines_[index_]).empty()) block.push_back(lines_[index_++]);
    return block;
  }

  bool ParseRows(size_t at, const std::vector<std::string>& lines,
                 const std::vector<FieldDef>& fields, std::vector<Record>& rows) {
    for (size_t i = 0; i < lines.size(); ++i) {
      std::vector<Cell> cells;
      std::string error;
      if (!SplitCells(lines[i], cells, error)) {
        Fail(at + i, error);
        return false;
      }
      if (cells.size() != fields.size()) {
        Fail(at + i, "row has " + std::to_string(cells.size()) + " cells, expected " +
                         std::to_string(fields.size()));
        return false;
      }
      Record row(fields.size());
      for (size_t c = 0; c < cells.size(); ++c) {
        if (!ParseCell(cells[c], fields[c], row[c])) {
          Fail(at + i, "cannot read '" + cells[c].text + "' as field " + fields[c].name);
          return false;
        }
      }
      rows.push_back(std::move(row));
    }
    return true;
  }

  void ReadTable(size_t start, const std::string& rest) {
    std::string path, after;
    if (!QuotedPath(rest, path, after)) return Fail(start, "table needs a quoted path");
    int key_count = 0;
    const auto options = Words(after);
    if (options.size() == 2 && options[0] == "key") {
      key_count = std::stoi(options[1]);
    } else if (!options.empty()) {
      return Fail(start, "unknown table option");
    }
    std::vector<std::string> block = Block();
    if (block.empty()) return Fail(start, "table without columns");
    std::vector<Cell> columns;
    std::string error;
    if (!SplitCells(block[0], columns, error)) return Fail(start + 1, error);
    std::vector<FieldDef> fields;
    for (const Cell& column : columns) {
      FieldDef def;
      if (!ParseColumnDef(column.text, def)) return Fail(start + 1, "bad column '" + column.text + "'");
      fields.push_back(def);
    }
    std::vector<Record> rows;
    if (!ParseRows(start + 2, {block.begin() + 1, block.end()}, fields, rows)) return;
    auto table = std::make_shared<MemorySqlTable>(fields, key_count);
    try {
      table->InsertAll(std::move(rows));
    } catch (const EngineError& e) {
      return Fail(start, std::string("table rows refused: ") + e.what());
    }
    catalog_.Add(path, table);
  }

  void CompareRows(size_t at, const std::vector<Record>& expected,
                   const std::vector<Record>& actual) {
    std::string got;
    for (const Record& r : actual) got += "\n  " + ShowRow(r);
    std::string want;
    for (const Record& r : expected) want += "\n  " + ShowRow(r);
    bool same = expected.size() == actual.size();
    for (size_t i = 0; same && i < expected.size(); ++i) {
      same = expected[i].size() == actual[i].size();
      for (size_t c = 0; same && c < expected[i].size(); ++c)
        same = SameValue(expected[i][c], actual[i][c]);
    }
    if (!same) Fail(at, "rows differ; expected:" + want + "\nactual:" + got);
  }

  void CheckContents(size_t start, const std::string& rest) {
    std::string path, after;
    if (!QuotedPath(rest, path, after)) return Fail(start, "contents needs a quoted path");
    const auto table = catalog_.Find(path);
    if (!table) return Fail(start, "no table " + path);
    const std::vector<std::string> block = Block();
    std::vector<Record> expected;
    if (!ParseRows(start + 1, block, table->Fields(), expected)) return;
    CompareRows(start, expected, table->Rows());
  }

  // The statement text of a statement, query or explain record: its lines
  // up to "----", joined by the line break the record names.
  bool ReadText(size_t start, const std::vector<std::string>& words, std::string& text) {
    std::string line_break = "\n";
    long length = -1;
    for (size_t i = 1; i < words.size(); ++i) {
      if (words[i] == "lf") line_break = "\n";
      else if (words[i] == "cr") line_break = "\r";
      else if (words[i] == "crlf") line_break = "\r\n";
      else if (words[i] == "length" && i + 1 < words.size()) length = std::stol(words[++i]);
      else {
        Fail(start, "unknown option '" + words[i] + "'");
        return false;
      }
    }
    std::vector<std::string> body;
    while (index_ < lines_.size() && lines_[index_] != "----") {
      std::string line = lines_[index_++];
      if (line.rfind("@repeat ", 0) == 0) {
        std::istringstream in(line.substr(8));
        size_t count = 0;
        in >> count;
        std::string piece;
        std::getline(in, piece);
        if (!piece.empty() && piece[0] == ' ') piece.erase(0, 1);
        std::string repeated;
        repeated.reserve(piece.size() * count);
        for (size_t i = 0; i < count; ++i) repeated += piece;
        line = std::move(repeated);
      }
      body.push_back(std::move(line));
    }
    if (index_ >= lines_.size()) {
      Fail(start, "statement without ----");
      return false;
    }
    ++index_;  // the ---- line
    for (size_t i = 0; i < body.size(); ++i) text += (i ? line_break : "") + body[i];
    if (length >= 0 && text.size() != static_cast<size_t>(length)) {
      Fail(start, "statement text has " + std::to_string(text.size()) + " bytes, the record says " +
                      std::to_string(length) + " (were blanks at line ends lost?)");
      return false;
    }
    return true;
  }

  void CheckError(size_t at, const std::vector<std::string>& expect, const EngineError& e) {
    const auto first = Words(expect[0]);
    if (first.size() != 2) return Fail(at, "error line needs a kind");
    if (KindName(e.kind()) != first[1]) {
      return Fail(at, "error kind " + KindName(e.kind()) + ", expected " + first[1] +
                          "; message:\n" + e.what());
    }
    for (size_t i = 1; i < expect.size(); ++i) {
      if (std::string(e.what()).find(expect[i]) == std::string::npos)
        Fail(at, "message lacks '" + expect[i] + "'; message:\n" + e.what());
    }
  }

  void RunStatement(size_t start, const std::vector<std::string>& words) {
    std::string text;
    if (!ReadText(start, words, text)) return;
    const size_t expect_at = index_;
    const std::vector<std::string> expect = Block();
    const bool expects_error = !expect.empty() && expect[0].rfind("error", 0) == 0;
    SqlQuery query(catalog_);
    query.SetText(text);
    try {
      if (words[0] == "statement") {
        const uint64_t count = query.ExecSql();
        if (expects_error) return Fail(start, "statement succeeded, an error was expected");
        const auto ok = Words(expect.empty() ? "" : expect[0]);
        if (ok.empty() || ok[0] != "ok") return Fail(expect_at, "expected 'ok [count]' or 'error'");
        if (ok.size() > 1 && std::to_string(count) != ok[1])
          Fail(start, "affected " + std::to_string(count) + " rows, expected " + ok[1]);
      } else if (words[0] == "explain") {
        const std::string plan = query.Explain();
        if (expects_error) return Fail(start, "explain succeeded, an error was expected");
        for (const std::string& line : expect)
          if (plan.find(Trim(line)) == std::string::npos)
            Fail(expect_at, "plan lacks '" + Trim(line) + "'; plan:\n" + plan);
      } else {
        RunQuery(start, expect_at, expect, query, expects_error);
      }
    } catch (const EngineError& e) {
      if (!expects_error) return Fail(start, std::string("unexpected error:\n") + e.what());
      CheckError(expect_at, expect, e);
    }
  }

  void RunQuery(size_t start, size_t expect_at, const std::vector<std::string>& expect,
                SqlQuery& query, bool expects_error) {
    query.Open();
    const uint64_t count = query.RecordCount();
    std::vector<Record> actual;
    for (query.First(); !query.Eof(); query.Next()) {
      Record row;
      for (size_t i = 0; i < query.FieldCount(); ++i) row.push_back(query.FieldValue(i));
      actual.push_back(std::move(row));
    }
    if (expects_error) return Fail(start, "query succeeded, an error was expected");
    if (count != actual.size())
      Fail(start, "record count " + std::to_string(count) + " but " +
                      std::to_string(actual.size()) + " rows");
    size_t first_row = 0;
    if (!expect.empty() && expect[0].rfind("columns ", 0) == 0) {
      first_row = 1;
      std::vector<Cell> columns;
      std::string error;
      if (!SplitCells(expect[0].substr(8), columns, error)) return Fail(expect_at, error);
      std::string want, got;
      for (const Cell& c : columns) want += (want.empty() ? "" : " | ") + c.text;
      for (const FieldDef& f : query.Fields()) {
        std::string letter(1, FieldTypeLetter(f.type));
        got += (got.empty() ? "" : " | ") + f.name + " " + letter +
               (f.size ? std::to_string(f.size) : "");
      }
      if (want != got) Fail(expect_at, "columns '" + got + "', expected '" + want + "'");
    }
    std::vector<Record> expected;
    if (!ParseRows(expect_at + first_row, {expect.begin() + static_cast<long>(first_row), expect.end()},
                   query.Fields(), expected))
      return;
    CompareRows(start, expected, actual);
  }

  fs::path path_;
  std::vector<std::string> lines_;
  size_t index_ = 0;
  MemorySqlCatalog catalog_;
};

class SqlFileTest : public ::testing::Test {
 public:
  explicit SqlFileTest(fs::path path) : path_(std::move(path)) {}
  void TestBody() override { SqlTestFile(path_).Run(); }

 private:
  fs::path path_;
};

std::string SuiteName(const std::string& folder) {
  std::string name = "Sql";
  bool upper = true;
  for (char c : folder) {
    if (c == '_' || c == '-') {
      upper = true;
      continue;
    }
    name.push_back(upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    upper = false;
  }
  return name;
}

const bool kRegistered = [] {
  const fs::path root = SqlTestFolder();
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(root, ec))
    if (entry.is_regular_file() && entry.path().extension() == ".test") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    ::testing::RegisterTest("SqlFiles", "FolderFound", nullptr, nullptr, __FILE__, __LINE__,
                            [root]() -> ::testing::Test* {
                              return new SqlFileTest(root / "missing.test");
                            });
  }
  for (const fs::path& file : files) {
    const std::string suite = SuiteName(file.parent_path().filename().string());
    const std::string name = file.stem().string();
    ::testing::RegisterTest(suite.c_str(), name.c_str(), nullptr, nullptr, file.string().c_str(),
                            1, [file]() -> ::testing::Test* { return new SqlFileTest(file); });
  }
  return true;
}();

}  // namespace
}  // namespace dalimor
