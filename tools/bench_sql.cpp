// Local SQL benchmark: the two statements of a send (the guarded INSERT and
// the overwriting DELETE).
//
// First over in-memory tables of N and 2N documents, against copying the
// same rows by hand.  A linear engine shows a 2N/N ratio near 2; a
// quadratic one near 4.
//
// Then over Paradox tables on disk at 10k, 100k and 1M item rows (two items
// per document): the INSERT ... SELECT with LEFT OUTER JOIN and the NOT
// EXISTS guard, and the DELETE ... IN, exactly as the transfer builds them.
// Each size runs three times and the best times count.  It prints the time
// per item row at each size, the ratio of the 1M time to the 100k time
// (near 10 when linear) and the ratio to SQLite running the same statements
// on the same rows in a file database with each table keyed (so indexed) on
// its primary key, written without syncs like our tables.
//
//   bench_sql [documents] [largest item rows]
//   (defaults 250000 and 1000000; 0 as the second skips the Paradox part)
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "engine/paradox/table.h"
#include "engine/sql/memory_table.h"
#include "engine/sql/paradox_catalog.h"
#include "engine/sql/query.h"
#include "transfer/statements.h"
#include "util/calendar.h"

namespace {

using dalimor::FieldDef;
using dalimor::FieldType;
using dalimor::MemorySqlCatalog;
using dalimor::MemorySqlTable;
using dalimor::Record;
using dalimor::Value;

const char* kCompany = "C:\\Ucto\\DATA\\F01\\SDATA\\S\\";
const char* kBatch = "D:\\Davka\\";

std::vector<FieldDef> HeaderFields() {
  return {{"DoklSRada", FieldType::kAlpha, 4},
          {"DoklSCislo", FieldType::kAlpha, 10},
          {"KdyUskutUP", FieldType::kDate, 0}};
}
std::vector<FieldDef> ItemFields() {
  return {{"DoklSRada", FieldType::kAlpha, 4},
          {"DoklSCislo", FieldType::kAlpha, 10},
          {"Klic", FieldType::kLong, 0},
          {"Text", FieldType::kAlpha, 40}};
}

std::string Number(long i) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%010ld", i);
  return buffer;
}

// The company's headers and items, the batch's headers (all sent) and the
// items of every other document already in the batch.
void Fill(MemorySqlCatalog& catalog, long documents) {
  auto heads = std::make_shared<MemorySqlTable>(HeaderFields(), 2);
  auto items = std::make_shared<MemorySqlTable>(ItemFields(), 3);
  auto batch_heads = std::make_shared<MemorySqlTable>(HeaderFields(), 2);
  auto batch_items = std::make_shared<MemorySqlTable>(ItemFields(), 3);
  std::vector<Record> h, it, bi;
  const double first_day = dalimor::DateTimeFromDate(2010, 1, 1);
  for (long d = 0; d < documents; ++d) {
    const std::string number = Number(d);
    h.push_back({Value("FP"), Value(number), dalimor::Date{first_day + static_cast<double>(d % 365)}});
    for (long k = 0; k < 2; ++k) {
      Record item{Value("FP"), Value(number), Value(int64_t{d * 2 + k}), Value("item text")};
      if (d % 2 == 0) bi.push_back(item);
      it.push_back(std::move(item));
    }
  }
  batch_heads->InsertAll(h);
  heads->InsertAll(std::move(h));
  items->InsertAll(std::move(it));
  batch_items->InsertAll(std::move(bi));
  catalog.Add(std::string(kCompany) + "SPFH.DB", heads);
  catalog.Add(std::string(kCompany) + "SPFP.DB", items);
  catalog.Add(std::string(kBatch) + "SPFH.DB", batch_heads);
  catalog.Add(std::string(kBatch) + "SPFP.DB", batch_items);
}

std::string GuardedInsert() {
  const std::string c = kCompany, b = kBatch;
  return "INSERT INTO '" + b + "SPFP.DB'\r(DoklSRada, DoklSCislo, Klic, Text) \r"
         "SELECT DoklSRada, DoklSCislo, Klic, Text FROM '" + c + "SPFP.DB' tE \r"
         "LEFT OUTER JOIN '" + c + "SPFH.DB' tM \r"
         "ON (tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)\r"
         " WHERE ((((KdyUskutUP >= '01/01/2010') AND (KdyUskutUP <= '12/31/2011')) AND NOT "
         "EXISTS (SELECT DoklSRada,DoklSCislo FROM  '" + b + "SPFP.DB' tD \r"
         "WHERE (tD.DoklSRada=tE.DoklSRada AND tD.DoklSCislo=tE.DoklSCislo))\r) AND "
         "(DoklSRada = 'FP'))";
}

std::string OverwritingDelete() {
  const std::string c = kCompany, b = kBatch;
  return "DELETE FROM '" + b + "SPFP.DB' WHERE DoklSRada+' +@@+ '+DoklSCislo in (\r"
         "SELECT DoklSRada+' +@@+ '+DoklSCislo  FROM '" + c + "SPFP.DB' tE \r"
         "LEFT OUTER JOIN '" + b + "SPFH.DB' tM \r"
         "ON (tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)\r"
         "WHERE (((KdyUskutUP >= '01/01/2010') AND (KdyUskutUP <= '12/31/2011')) AND "
         "(DoklSRada = 'FP'))\r)";
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Run {
  double insert = 0;
  double erase = 0;
  double copy = 0;
};

Run Measure(long documents) {
  Run run;
  {
    MemorySqlCatalog catalog;
    Fill(catalog, documents);
    dalimor::SqlQuery query(catalog);
    query.SetText(GuardedInsert());
    uint64_t inserted = 0;
    run.insert = Seconds([&] { inserted = query.ExecSql(); });
    query.SetText(OverwritingDelete());
    uint64_t deleted = 0;
    run.erase = Seconds([&] { deleted = query.ExecSql(); });
    if (inserted != static_cast<uint64_t>(documents) ||
        deleted != static_cast<uint64_t>(documents) * 2) {
      std::fprintf(stderr, "unexpected counts: %llu inserted, %llu deleted\n",
                   static_cast<unsigned long long>(inserted),
                   static_cast<unsigned long long>(deleted));
      std::exit(1);
    }
  }
  {
    // The reference: the same items read and inserted by hand.
    MemorySqlCatalog catalog;
    Fill(catalog, documents);
    auto source = catalog.Find(std::string(kCompany) + "SPFP.DB");
    auto target = std::make_shared<MemorySqlTable>(ItemFields(), 3);
    run.copy = Seconds([&] {
      std::vector<Record> rows;
      source->Scan([&](const Record& r, uint64_t) {
        rows.push_back(r);
        return true;
      });
      target->InsertAll(std::move(rows));
    });
  }
  return run;
}

// --- Paradox tables on disk, against SQLite ---

namespace fs = std::filesystem;

const double kFrom = dalimor::DateTimeFromDate(2010, 1, 1);
const double kTo = dalimor::DateTimeFromDate(2011, 12, 31);

dalimor::TableStep ItemStep() {
  dalimor::TableStep step;
  step.table = "Spfp.DB";
  step.master_table = "SPFH.DB";
  step.join_condition = "(tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)";
  step.creation_keys = "DoklSRada,DoklSCislo,Klic";
  step.document_keys = "DoklSRada,DoklSCislo";
  return step;
}

dalimor::TransferFilter ItemFilter() {
  dalimor::TransferFilter filter;
  filter.date_field = "KdyUskutUP";
  filter.date_from = kFrom;
  filter.date_to = kTo;
  filter.number_field = "DoklSCislo";
  filter.series_field = "DoklSRada";
  filter.series = "FP";
  return filter;
}

// The rows of Fill: every document's header on both sides, its two items in
// the company, and in the batch the items of every other document.
void ForEachRow(long documents, const std::function<void(const Record& header)>& header,
                const std::function<void(const Record& item, bool in_batch)>& item) {
  const double first_day = dalimor::DateTimeFromDate(2010, 1, 1);
  for (long d = 0; d < documents; ++d) {
    const std::string number = Number(d);
    header({Value("FP"), Value(number), dalimor::Date{first_day + static_cast<double>(d % 365)}});
    for (long k = 0; k < 2; ++k)
      item({Value("FP"), Value(number), Value(int64_t{d * 2 + k}), Value("item text")},
           d % 2 == 0);
  }
}

void WriteParadox(const std::string& company, const std::string& batch, long documents) {
  const auto create = [](const std::string& path, const std::vector<FieldDef>& fields, int keys) {
    auto table = dalimor::ParadoxTable::Create(path, fields, keys);
    table->set_auto_flush(false);
    return table;
  };
  auto heads = create(company + "SPFH.DB", HeaderFields(), 2);
  auto items = create(company + "Spfp.DB", ItemFields(), 3);
  auto batch_heads = create(batch + "SPFH.DB", HeaderFields(), 2);
  auto batch_items = create(batch + "Spfp.DB", ItemFields(), 3);
  ForEachRow(
      documents,
      [&](const Record& h) {
        heads->Insert(h);
        batch_heads->Insert(h);
      },
      [&](const Record& i, bool in_batch) {
        items->Insert(i);
        if (in_batch) batch_items->Insert(i);
      });
  for (auto* table : {heads.get(), items.get(), batch_heads.get(), batch_items.get()})
    table->Close();
}

class Sqlite {
 public:
  // Without syncs, as the Paradox tables are written: the comparison is of
  // the engines, not of the disk.
  explicit Sqlite(const std::string& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) Fail("open");
    Exec("PRAGMA synchronous = OFF");
  }
  ~Sqlite() { sqlite3_close(db_); }
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;

  // Runs statements; the number of rows the last one changed.
  uint64_t Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
    return static_cast<uint64_t>(sqlite3_changes64(db_));
  }

  // The same rows in tables keyed on the same fields; dates as day numbers.
  void Fill(long documents) {
    Exec("CREATE TABLE c_heads (DoklSRada TEXT, DoklSCislo TEXT, KdyUskutUP INTEGER, "
         "PRIMARY KEY (DoklSRada, DoklSCislo));"
         "CREATE TABLE b_heads (DoklSRada TEXT, DoklSCislo TEXT, KdyUskutUP INTEGER, "
         "PRIMARY KEY (DoklSRada, DoklSCislo));"
         "CREATE TABLE c_items (DoklSRada TEXT, DoklSCislo TEXT, Klic INTEGER, Text TEXT, "
         "PRIMARY KEY (DoklSRada, DoklSCislo, Klic));"
         "CREATE TABLE b_items (DoklSRada TEXT, DoklSCislo TEXT, Klic INTEGER, Text TEXT, "
         "PRIMARY KEY (DoklSRada, DoklSCislo, Klic));"
         "BEGIN");
    sqlite3_stmt* statements[4] = {};
    const char* texts[4] = {"INSERT INTO c_heads VALUES (?, ?, ?)",
                            "INSERT INTO b_heads VALUES (?, ?, ?)",
                            "INSERT INTO c_items VALUES (?, ?, ?, ?)",
                            "INSERT INTO b_items VALUES (?, ?, ?, ?)"};
    for (int i = 0; i < 4; ++i)
      if (sqlite3_prepare_v2(db_, texts[i], -1, &statements[i], nullptr) != SQLITE_OK)
        Fail(texts[i]);
    const auto put = [this](sqlite3_stmt* statement, const Record& row) {
      sqlite3_reset(statement);
      for (size_t i = 0; i < row.size(); ++i) {
        const int column = static_cast<int>(i) + 1;
        if (const auto* text = std::get_if<std::string>(&row[i]))
          sqlite3_bind_text(statement, column, text->c_str(), -1, SQLITE_TRANSIENT);
        else if (const auto* n = std::get_if<int64_t>(&row[i]))
          sqlite3_bind_int64(statement, column, *n);
        else if (const auto* date = std::get_if<dalimor::Date>(&row[i]))
          sqlite3_bind_int64(statement, column, static_cast<sqlite3_int64>(date->value));
      }
      if (sqlite3_step(statement) != SQLITE_DONE) Fail("insert");
    };
    ForEachRow(
        documents,
        [&](const Record& h) {
          put(statements[0], h);
          put(statements[1], h);
        },
        [&](const Record& i, bool in_batch) {
          put(statements[2], i);
          if (in_batch) put(statements[3], i);
        });
    for (sqlite3_stmt* statement : statements) sqlite3_finalize(statement);
    Exec("COMMIT");
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "sqlite: %s\n%s\n", sqlite3_errmsg(db_), what.c_str());
    std::exit(1);
  }
  sqlite3* db_ = nullptr;
};

std::string Day(double date) {
  return std::to_string(static_cast<long long>(date));
}

// The guarded INSERT in SQLite: the filter's unqualified names mean the
// item's column where the item has one, else the header's.
std::string SqliteGuardedInsert() {
  return "INSERT INTO b_items (DoklSRada, DoklSCislo, Klic, Text) "
         "SELECT tE.DoklSRada, tE.DoklSCislo, tE.Klic, tE.Text FROM c_items tE "
         "LEFT OUTER JOIN c_heads tM ON tE.DoklSRada = tM.DoklSRada AND "
         "tE.DoklSCislo = tM.DoklSCislo "
         "WHERE tM.KdyUskutUP >= " + Day(kFrom) + " AND tM.KdyUskutUP <= " + Day(kTo) +
         " AND NOT EXISTS (SELECT 1 FROM b_items tD WHERE tD.DoklSRada = tE.DoklSRada AND "
         "tD.DoklSCislo = tE.DoklSCislo) AND tE.DoklSRada = 'FP'";
}

std::string SqliteOverwritingDelete() {
  return "DELETE FROM b_items WHERE DoklSRada || ' +@@+ ' || DoklSCislo IN ("
         "SELECT tE.DoklSRada || ' +@@+ ' || tE.DoklSCislo FROM c_items tE "
         "LEFT OUTER JOIN b_heads tM ON tE.DoklSRada = tM.DoklSRada AND "
         "tE.DoklSCislo = tM.DoklSCislo "
         "WHERE tM.KdyUskutUP >= " + Day(kFrom) + " AND tM.KdyUskutUP <= " + Day(kTo) +
         " AND tE.DoklSRada = 'FP')";
}

struct DiskRun {
  double insert = 0;
  double erase = 0;
  double sqlite_insert = 0;
  double sqlite_erase = 0;
};

void CheckCounts(const char* who, uint64_t inserted, uint64_t deleted, long item_rows) {
  if (inserted != static_cast<uint64_t>(item_rows / 2) ||
      deleted != static_cast<uint64_t>(item_rows)) {
    std::fprintf(stderr, "%s: unexpected counts: %llu inserted, %llu deleted\n", who,
                 static_cast<unsigned long long>(inserted),
                 static_cast<unsigned long long>(deleted));
    std::exit(1);
  }
}

DiskRun MeasureOnDisk(const fs::path& folder, long item_rows, bool show_plan) {
  DiskRun run;
  const long documents = item_rows / 2;
  fs::remove_all(folder);
  const std::string company = (folder / "firma").string() + "/";
  const std::string batch = (folder / "davka").string() + "/";
  fs::create_directories(company);
  fs::create_directories(batch);
  WriteParadox(company, batch, documents);
  {
    dalimor::ParadoxSqlCatalog catalog;
    const dalimor::TableStep step = ItemStep();
    const dalimor::TransferFilter filter = ItemFilter();
    std::string columns;
    {
      dalimor::SqlQuery query(catalog);
      query.SetText(dalimor::SelectAllStatement(company + step.table));
      query.Open();
      for (const FieldDef& f : query.Fields()) columns += (columns.empty() ? "" : ", ") + f.name;
    }
    dalimor::SqlQuery query(catalog);
    query.SetText(dalimor::BuildInsertStatement(company, batch, step, filter, true, columns));
    if (show_plan) std::printf("plan of the INSERT:\n%s", query.Explain().c_str());
    uint64_t inserted = 0;
    run.insert = Seconds([&] { inserted = query.ExecSql(); });
    query.SetText(dalimor::BuildDeleteStatement(batch + step.table, company + step.table,
                                                step.document_keys, filter, step.join_condition,
                                                batch + step.master_table));
    if (show_plan) std::printf("plan of the DELETE:\n%s", query.Explain().c_str());
    uint64_t deleted = 0;
    run.erase = Seconds([&] { deleted = query.ExecSql(); });
    CheckCounts("Paradox", inserted, deleted, item_rows);
  }
  {
    Sqlite db((folder / "bench.sqlite").string());
    db.Fill(documents);
    uint64_t inserted = 0, deleted = 0;
    run.sqlite_insert = Seconds([&] { inserted = db.Exec(SqliteGuardedInsert()); });
    run.sqlite_erase = Seconds([&] { deleted = db.Exec(SqliteOverwritingDelete()); });
    CheckCounts("SQLite", inserted, deleted, item_rows);
  }
  fs::remove_all(folder);
  return run;
}

void BenchOnDisk(long largest) {
  const fs::path folder =
      fs::temp_directory_path() / ("dalimor-bench-sql-" + std::to_string(getpid()));
  const long sizes[3] = {largest / 100, largest / 10, largest};
  // The best of a few runs, so that other work on the machine does not
  // decide the ratios.
  constexpr int kRepeats = 3;
  DiskRun runs[3];
  for (int i = 0; i < 3; ++i) {
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
      const DiskRun r = MeasureOnDisk(folder, sizes[i], i == 0 && repeat == 0);
      DiskRun& best = runs[i];
      if (repeat == 0) {
        best = r;
        continue;
      }
      best.insert = std::min(best.insert, r.insert);
      best.erase = std::min(best.erase, r.erase);
      best.sqlite_insert = std::min(best.sqlite_insert, r.sqlite_insert);
      best.sqlite_erase = std::min(best.sqlite_erase, r.sqlite_erase);
    }
  }
  std::printf("\nParadox tables on disk against SQLite %s (file database, synchronous off, "
              "tables keyed on their primary key); the batch holds half the documents; "
              "best of %d runs\n",
              sqlite3_libversion(), kRepeats);
  std::printf("%10s | %-35s | %-35s\n", "item rows", "guarded INSERT ... LEFT OUTER JOIN",
              "overwriting DELETE ... IN");
  std::printf("%10s | %8s %8s %8s %8s | %8s %8s %8s %8s\n", "", "s", "us/row", "SQLite s",
              "x SQLite", "s", "us/row", "SQLite s", "x SQLite");
  for (int i = 0; i < 3; ++i) {
    const DiskRun& r = runs[i];
    const double rows = static_cast<double>(sizes[i]);
    std::printf("%10ld | %8.3f %8.3f %8.3f %8.2f | %8.3f %8.3f %8.3f %8.2f\n", sizes[i],
                r.insert, r.insert / rows * 1e6, r.sqlite_insert, r.insert / r.sqlite_insert,
                r.erase, r.erase / rows * 1e6, r.sqlite_erase, r.erase / r.sqlite_erase);
  }
  std::printf("%ld/%ld time ratio (10 is linear): INSERT %.2f (SQLite %.2f), DELETE %.2f "
              "(SQLite %.2f)\n",
              sizes[2], sizes[1], runs[2].insert / runs[1].insert,
              runs[2].sqlite_insert / runs[1].sqlite_insert, runs[2].erase / runs[1].erase,
              runs[2].sqlite_erase / runs[1].sqlite_erase);
}

}  // namespace

int main(int argc, char** argv) {
  const long documents = argc > 1 ? std::atol(argv[1]) : 250000;
  const Run small = Measure(documents);
  const Run large = Measure(documents * 2);
  std::printf("documents %ld and %ld, two items each\n", documents, documents * 2);
  std::printf("guarded INSERT:  %.2f s / %.2f s, %.1f x the hand copy, 2N/N %.2f\n", small.insert,
              large.insert, large.insert / large.copy, large.insert / small.insert);
  std::printf("overwriting DELETE: %.2f s / %.2f s, %.1f x the hand copy, 2N/N %.2f\n", small.erase,
              large.erase, large.erase / large.copy, large.erase / small.erase);
  std::printf("hand copy:       %.2f s / %.2f s, 2N/N %.2f\n", small.copy, large.copy,
              large.copy / small.copy);
  const long largest = argc > 2 ? std::atol(argv[2]) : 1000000;
  if (largest > 0) BenchOnDisk(largest);
  return 0;
}
