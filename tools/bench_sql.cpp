// Local SQL benchmark: the two statements of a send (the guarded INSERT and
// the overwriting DELETE) over in-memory tables of N and 2N documents, against
// copying the same rows by hand.  A linear engine shows a 2N/N ratio near 2;
// a quadratic one near 4.
//
//   bench_sql [documents]     (default 250000; two items per document)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "engine/sql_memory_table.h"
#include "engine/sql_query.h"
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
  return 0;
}
