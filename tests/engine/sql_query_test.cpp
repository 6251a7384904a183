#include "engine/sql/query.h"

#include <gtest/gtest.h>

#include <map>

#include "engine/engine_error.h"
#include "engine/sql/error.h"
#include "engine/sql/memory_table.h"
#include "engine/sql/parser.h"

namespace dalimor {
namespace {

// A memory table that records how it is used: scans, and whether a scan
// began while another scan of the same catalog was running.
class RecordingTable : public SqlTable {
 public:
  RecordingTable(std::shared_ptr<MemorySqlTable> inner, int& active_scans, bool& nested)
      : inner_(std::move(inner)), active_scans_(active_scans), nested_(nested) {}
  const std::vector<FieldDef>& Fields() const override { return inner_->Fields(); }
  void Scan(const std::function<bool(const Record&, uint64_t)>& visit) override {
    ++scans;
    if (active_scans_ > 0) nested_ = true;
    ++active_scans_;
    inner_->Scan(visit);
    --active_scans_;
  }
  void InsertAll(std::vector<Record> rows) override {
    if (active_scans_ > 0) nested_ = true;
    inner_->InsertAll(std::move(rows));
  }
  void DeleteAll(const std::vector<uint64_t>& ids) override {
    if (active_scans_ > 0) nested_ = true;
    inner_->DeleteAll(ids);
  }
  int scans = 0;

 private:
  std::shared_ptr<MemorySqlTable> inner_;
  int& active_scans_;
  bool& nested_;
};

class RecordingCatalog : public SqlCatalog {
 public:
  void Add(const std::string& path, std::shared_ptr<MemorySqlTable> table) {
    tables[path] = std::make_shared<RecordingTable>(std::move(table), active_scans, nested);
  }
  std::shared_ptr<SqlTable> Open(const std::string& path, bool for_write) override {
    opens.push_back((for_write ? "write " : "read ") + path);
    const auto it = tables.find(path);
    if (it == tables.end()) throw EngineError(EngineErrorKind::kFileNotFound, "Table does not exist.");
    return it->second;
  }
  std::map<std::string, std::shared_ptr<RecordingTable>> tables;
  std::vector<std::string> opens;
  int active_scans = 0;
  bool nested = false;
};

std::shared_ptr<MemorySqlTable> Numbers(int count, int key_count = 1) {
  auto table = std::make_shared<MemorySqlTable>(
      std::vector<FieldDef>{{"Id", FieldType::kLong, 0}, {"Name", FieldType::kAlpha, 10}},
      key_count);
  std::vector<Record> rows;
  for (int i = 1; i <= count; ++i)
    rows.push_back({Value(int64_t{i}), Value("n" + std::to_string(i))});
  table->InsertAll(std::move(rows));
  return table;
}

TEST(SqlQuery, WalksAResultByPositionAndName) {
  MemorySqlCatalog catalog;
  catalog.Add("T", Numbers(3));
  SqlQuery query(catalog);
  query.SetText("SELECT Name, Id FROM 'T' WHERE Id >= 2");
  query.Open();
  ASSERT_TRUE(query.is_open());
  ASSERT_EQ(query.FieldCount(), 2u);
  EXPECT_EQ(query.Fields()[0].name, "Name");
  EXPECT_EQ(query.Fields()[0].type, FieldType::kAlpha);
  EXPECT_EQ(query.Fields()[0].size, 10);
  EXPECT_EQ(query.FieldIndex("ID"), 1);
  EXPECT_EQ(query.FieldIndex("Nothing"), -1);
  EXPECT_EQ(query.RecordCount(), 2u);
  query.First();
  EXPECT_EQ(query.FieldByName("name"), Value("n2"));
  query.Next();
  EXPECT_EQ(query.FieldValue(1), Value(int64_t{3}));
  query.Next();
  EXPECT_TRUE(query.Eof());
  query.Next();
  EXPECT_TRUE(query.Eof());
  EXPECT_THROW(query.FieldValue(0), EngineError);
  query.First();
  EXPECT_FALSE(query.Eof());
  try {
    query.FieldByName("Nothing");
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kFieldNotFound);
  }
  EXPECT_THROW(query.FieldValue(2), EngineError);
}

TEST(SqlQuery, SettingTheTextClosesTheResult) {
  MemorySqlCatalog catalog;
  catalog.Add("T", Numbers(1));
  SqlQuery query(catalog);
  query.SetText("SELECT * FROM 'T'");
  query.Open();
  query.SetText("SELECT Id FROM 'T'");
  EXPECT_FALSE(query.is_open());
  EXPECT_TRUE(query.Fields().empty());
  EXPECT_THROW(query.RecordCount(), EngineError);
}

TEST(SqlQuery, OpenRefusesStatementsWithoutRowsAndExecSqlRunsThem) {
  MemorySqlCatalog catalog;
  auto table = Numbers(3);
  catalog.Add("T", table);
  SqlQuery query(catalog);
  query.SetText("DELETE FROM 'T' WHERE Id = 2");
  try {
    query.Open();
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kSql);
  }
  EXPECT_FALSE(query.is_open());
  EXPECT_EQ(table->RowCount(), 3u);
  EXPECT_EQ(query.ExecSql(), 1u);
  EXPECT_EQ(table->RowCount(), 2u);
  query.SetText("SELECT * FROM 'T'");
  EXPECT_EQ(query.ExecSql(), 2u);
}

TEST(SqlQuery, SyntaxErrorsCarryTokenAndPosition) {
  MemorySqlCatalog catalog;
  SqlQuery query(catalog);
  query.SetText("SELECT Id\r\nFROM 'T'\rWHERE Id = = 1");
  try {
    query.Open();
    ADD_FAILURE() << "no error";
  } catch (const SqlError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kSql);
    EXPECT_EQ(e.token(), "=");
    EXPECT_EQ(e.position().line, 3);
    EXPECT_EQ(e.position().column, 12);
    EXPECT_EQ(e.position().offset, 31u);
  }
}

TEST(SqlQuery, OpensEachTableOnceAndTheTargetFirstForWriting) {
  RecordingCatalog catalog;
  catalog.Add("S", Numbers(5));
  catalog.Add("T", Numbers(2));
  SqlQuery query(catalog);
  query.SetText(
      "INSERT INTO 'T' (Id, Name) SELECT Id, Name FROM 'S' s WHERE NOT EXISTS "
      "(SELECT * FROM 'T' t WHERE t.Id = s.Id) AND Id IN (SELECT Id FROM 'S')");
  EXPECT_EQ(query.ExecSql(), 3u);
  EXPECT_EQ(catalog.opens, (std::vector<std::string>{"write T", "read S"}));
}

// However the statement is shaped, every table is read once per run and no
// scan starts while another runs: sub-selects and joined tables are read
// before the outermost table streams.
TEST(SqlQuery, ReadsEveryTableOnceAndNeverScansInsideAScan) {
  const char* statements[] = {
      "SELECT a.Id FROM 'A' a LEFT OUTER JOIN 'B' b ON a.Id = b.Id WHERE NOT EXISTS "
      "(SELECT * FROM 'C' c WHERE c.Id = a.Id)",
      "SELECT a.Id FROM 'A' a WHERE EXISTS (SELECT * FROM 'B' b WHERE b.Id > a.Id) AND "
      "a.Id IN (SELECT MAX(Id) FROM 'C' c WHERE c.Name = a.Name)",
      "DELETE FROM 'A' WHERE Id IN (SELECT b.Id FROM 'B' b LEFT OUTER JOIN 'C' c ON c.Id = b.Id "
      "WHERE NOT EXISTS (SELECT * FROM 'A' x WHERE x.Id = c.Id + 100))",
      "INSERT INTO 'A' SELECT Id + 1000, Name FROM 'B' b WHERE EXISTS (SELECT * FROM 'C' c "
      "WHERE c.Id = b.Id AND EXISTS (SELECT * FROM 'A' x WHERE x.Id = b.Id))",
  };
  for (const char* text : statements) {
    RecordingCatalog catalog;
    catalog.Add("A", Numbers(50));
    catalog.Add("B", Numbers(40));
    catalog.Add("C", Numbers(30));
    SqlQuery query(catalog);
    query.SetText(text);
    query.ExecSql();
    EXPECT_FALSE(catalog.nested) << text;
    int scans = 0;
    for (const auto& [path, table] : catalog.tables) scans += table->scans;
    // One scan per table reference of the statement.
    const std::string s = text;
    int references = 0;
    for (size_t p = s.find(" '"); p != std::string::npos; p = s.find(" '", p + 1)) ++references;
    if (s.rfind("INSERT", 0) == 0 || s.rfind("DELETE", 0) == 0) --references;  // the target
    if (s.rfind("DELETE", 0) == 0) ++references;  // which DELETE scans
    EXPECT_EQ(scans, references) << text;
  }
}

// The parser's precedence: OR below AND below NOT below comparisons below
// "+"; chains are flat.
std::string Shape(const AstExpr& e) {
  std::string children;
  for (const auto& c : e.children) children += " " + Shape(*c);
  switch (e.kind) {
    case AstExpr::Kind::kLiteral: return "lit";
    case AstExpr::Kind::kNull: return "null";
    case AstExpr::Kind::kColumn: return e.qualifier.empty() ? e.name : e.qualifier + "." + e.name;
    case AstExpr::Kind::kAdd: return "(+" + children + ")";
    case AstExpr::Kind::kNegate: return "(-" + children + ")";
    case AstExpr::Kind::kCompare: return "(cmp" + children + ")";
    case AstExpr::Kind::kAnd: return "(and" + children + ")";
    case AstExpr::Kind::kOr: return "(or" + children + ")";
    case AstExpr::Kind::kNot: return "(not" + children + ")";
    case AstExpr::Kind::kIsNull: return std::string(e.negated ? "(notnull" : "(isnull") + children + ")";
    case AstExpr::Kind::kCast: return "(cast" + children + ")";
    case AstExpr::Kind::kAggregate: return "(agg" + children + ")";
    case AstExpr::Kind::kExists: return "(exists)";
    case AstExpr::Kind::kInSelect: return std::string(e.negated ? "(notin" : "(in") + children + ")";
    case AstExpr::Kind::kInList: return std::string(e.negated ? "(notinlist" : "(inlist") + children + ")";
  }
  return "?";
}

TEST(ParseSql, BindsOperatorsByPrecedence) {
  const struct {
    const char* where;
    const char* shape;
  } cases[] = {
      {"a = 1 OR b = 2 AND c = 3", "(or (cmp a lit) (and (cmp b lit) (cmp c lit)))"},
      {"(a = 1 OR b = 2) AND c = 3", "(and (or (cmp a lit) (cmp b lit)) (cmp c lit))"},
      {"a = 1 OR b = 2 OR c = 3 OR d = 4", "(or (cmp a lit) (cmp b lit) (cmp c lit) (cmp d lit))"},
      {"NOT a = 1 AND b = 2", "(and (not (cmp a lit)) (cmp b lit))"},
      {"NOT NOT a IS NULL", "(not (not (isnull a)))"},
      {"a + b + 'x' = c", "(cmp (+ a b lit) c)"},
      {"-a + 1 >= t.b", "(cmp (+ (- a) lit) t.b)"},
      {"a NOT IN (1, 2) OR b IS NOT NULL", "(or (notinlist a lit lit) (notnull b))"},
      {"NOT EXISTS (SELECT * FROM 'x') AND a IN (SELECT b FROM 'y')",
       "(and (not (exists)) (in a))"},
      {"((a = 1))", "(cmp a lit)"},
  };
  for (const auto& c : cases) {
    const AstStatement s = ParseSql(std::string("SELECT * FROM 't' WHERE ") + c.where);
    EXPECT_EQ(Shape(*s.select->where), c.shape) << c.where;
  }
}

}  // namespace
}  // namespace dalimor
