// The Paradox engine on a table of a million item rows of the shape Kalmeo's
// item tables have (nineteen fields, Czech text, a memo on every tenth row),
// keyed on series, number and Klic, in 16 KB blocks:
//
//  - bulk insert of every row in random key order with auto-flush off and
//    one Flush, then a tenth of the rows with a flush after every row;
//  - a full scan (open, then every field of every record) by our engine
//    against pxlib's full scan of the same file (open, PX_get_record of
//    every record, every field decoded with PX_get_data_*; memo fields only
//    as their leader bytes, because this pxlib build cannot read .MB
//    files).  Reading the .DB file into memory is shown as the floor, and
//    pxlib's PX_get_record alone shows what its positioning costs: it finds
//    each record number by walking its list of data blocks from the first.
//
// Prints the times with their CPU time (the machine may be shared), rows
// per second, the ratio ours / pxlib and the peak resident memory.
//
//   bench_engine [rows=1000000] [folder=/tmp]

// pxlib's header declares C functions without saying so.
extern "C" {
#include <paradox.h>
}
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "engine/engine_error.h"
#include "engine/paradox/table.h"

namespace {

namespace fs = std::filesystem;
using dalimor::FieldDef;
using dalimor::FieldType;
using dalimor::Record;
using dalimor::Value;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds of this process so far; the machine may be shared, so the
// scans show their CPU time beside the wall time.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The item-row table: series, number and Klic form the key.
std::vector<FieldDef> ItemFields() {
  return {
      {"DoklSRada", FieldType::kAlpha, 5},   {"DoklSCislo", FieldType::kAlpha, 11},
      {"Klic", FieldType::kLong, 0},         {"PolozkaSkladu", FieldType::kAlpha, 20},
      {"Nazev", FieldType::kAlpha, 60},      {"Mnozstvi", FieldType::kNumber, 0},
      {"Jednotka", FieldType::kAlpha, 5},    {"CenaJedn", FieldType::kMoney, 0},
      {"SazbaDPH", FieldType::kNumber, 0},   {"DPH", FieldType::kMoney, 0},
      {"Celkem", FieldType::kMoney, 0},      {"DatumDodani", FieldType::kDate, 0},
      {"Zmeneno", FieldType::kTimestamp, 0}, {"Zaplaceno", FieldType::kLogical, 0},
      {"Poradi", FieldType::kShort, 0},      {"Sklad", FieldType::kAlpha, 10},
      {"Stredisko", FieldType::kAlpha, 30},  {"Zakazka", FieldType::kAlpha, 15},
      {"Poznamka", FieldType::kMemo, 10},
  };
}

constexpr const char* kSeries[] = {"FP", "FP2", "FV", "FV2", "PR", "VY", "OP", "OV"};
constexpr const char* kItemNames[] = {
    "Vrtačka aku 18 V 'Profi'", "Šroubovák křížový PH2",   "Žárovka LED 9 W teplá bílá",
    "Kabel CYKY 3x2,5 mm",      "Hřebíky stavební 80 mm",  "Řezný kotouč na ocel 125 mm",
    "Pracovní rukavice kožené", "Barva fasádní bílá 15 l", "Ústřední topení - ventil",
    "Dlažba keramická šedá",    "Těsnicí páska teflonová", "Doprava zboží",
    "Montážní práce (hodina)",  "Čistič oken 500 ml",      "Nůžky na plech ďábelské",
};
constexpr const char* kUnits[] = {"ks", "m", "kg", "bal", "hod"};
constexpr const char* kCentres[] = {"Brno - prodejna", "Brno - sklad", "Praha centrála"};
constexpr const char* kLongMemo =
    "Dodáno částečně, zbytek bude doobjednán.\r\nPřevzal: Jiří Dvořák, sklad Brno.\r\n"
    "Reklamace vyřízena dobropisem; zboží vráceno dodavateli.";

uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

// Row `i` of the table; the same i always gives the same row.  Four items
// per document; Klic counts the rows upward, so every key is unique.
Record ItemRow(uint32_t i) {
  const uint64_t h = Mix(i + 1);
  const uint32_t document = i / 4;
  char number[16];
  std::snprintf(number, sizeof number, "%04u02%05u", 2009 + document % 3, document / 3 % 100000);
  const double quantity = static_cast<double>(1 + h % 40) * 0.5;
  const double price = static_cast<double>(h % 1000000) / 100.0;
  const double rate = document % 5 == 0 ? 10.0 : 20.0;
  const double base = quantity * price;
  const double vat = base * rate / 100.0;
  const double day = 39814.0 + static_cast<double>(document % 1095);  // 2009 to 2011
  Record r;
  r.reserve(19);
  r.emplace_back(std::string(kSeries[document % std::size(kSeries)]));
  r.emplace_back(std::string(number));
  r.emplace_back(int64_t{i} + 1);
  char code[24];
  std::snprintf(code, sizeof code, "ZB%05u", static_cast<unsigned>(10000 + h % 5000));
  r.emplace_back(std::string(code));
  r.emplace_back(std::string(kItemNames[(h >> 8) % std::size(kItemNames)]) + " č. " +
                 std::to_string(h % 997));
  r.emplace_back(quantity);
  r.emplace_back(std::string(kUnits[(h >> 16) % std::size(kUnits)]));
  r.emplace_back(price);
  r.emplace_back(rate);
  r.emplace_back(vat);
  r.emplace_back(base + vat);
  if (h % 4 == 0)
    r.emplace_back(std::monostate{});
  else
    r.emplace_back(dalimor::Date{day + static_cast<double>(h % 14)});
  r.emplace_back(dalimor::Timestamp{day + static_cast<double>((h >> 20) % 86400) / 86400.0});
  r.emplace_back((h >> 24) % 3 == 0);
  r.emplace_back(int64_t{i % 4 + 1});
  r.emplace_back(std::string((h >> 28) % 2 ? "ZBOZI" : "MAT"));
  if ((h >> 30) % 3 == 0)
    r.emplace_back(std::monostate{});
  else
    r.emplace_back(std::string(kCentres[(h >> 32) % std::size(kCentres)]));
  char order[16];
  std::snprintf(order, sizeof order, "Z%07u", 2011000 + document % 900);
  r.emplace_back(std::string(order));
  // A memo on every tenth row: a third fit the leader, the rest go to the .MB.
  if (h % 10 == 0) {
    std::string memo = (h >> 36) % 3 == 0 ? "Vráceno" : kLongMemo;
    size_t length = std::min<size_t>(memo.size(), 40 + (h >> 40) % 200);
    while (length < memo.size() && (static_cast<unsigned char>(memo[length]) & 0xC0) == 0x80)
      --length;
    memo.resize(length);
    r.emplace_back(std::move(memo));
  } else {
    r.emplace_back(std::monostate{});
  }
  return r;
}

struct InsertResult {
  double seconds = 0;
  double cpu = 0;
  uint32_t rows = 0;
};

// Inserts rows order[0 .. count) into a fresh table at `path`.
InsertResult InsertRows(const std::string& path, const std::vector<uint32_t>& order, size_t count,
                        bool auto_flush) {
  const auto start = Clock::now();
  const double cpu = CpuSeconds();
  dalimor::CreateOptions options;
  // A million rows of this size need more blocks than 65535 small ones.
  options.block_size = 16384;
  const auto table = dalimor::ParadoxTable::Create(path, ItemFields(), 3, options);
  table->set_auto_flush(auto_flush);
  for (size_t k = 0; k < count; ++k) table->Insert(ItemRow(order[k]));
  table->Flush();
  InsertResult result;
  result.rows = table->record_count();
  table->Close();
  result.seconds = SecondsSince(start);
  result.cpu = CpuSeconds() - cpu;
  return result;
}

// What a scan accumulates so that no read can be left out and both readers
// can be compared.
struct ScanSum {
  uint64_t records = 0;
  uint64_t text_bytes = 0;
  uint64_t nulls = 0;
  int64_t keys = 0;
  double numbers = 0;
};

ScanSum OurScan(const std::string& path, double* open_seconds) {
  const auto start = Clock::now();
  const auto table = dalimor::ParadoxTable::Open(path, dalimor::OpenMode::kReadOnly);
  *open_seconds = SecondsSince(start);
  ScanSum sum;
  for (auto p = table->First(); p; p = table->Next(*p)) {
    const Record r = table->Read(*p);
    ++sum.records;
    sum.keys += std::get<int64_t>(r[2]);
    for (const Value& v : r) {
      if (const auto* s = std::get_if<std::string>(&v))
        sum.text_bytes += s->size();
      else if (const auto* d = std::get_if<double>(&v))
        sum.numbers += *d;
      else if (std::holds_alternative<std::monostate>(v))
        ++sum.nulls;
    }
  }
  return sum;
}

void PxError(pxdoc_t*, int, const char* message, void*) {
  std::fprintf(stderr, "pxlib: %s\n", message ? message : "");
}

ScanSum PxlibScan(const std::string& path) {
  pxdoc_t* doc = PX_new3(&PxError, nullptr, nullptr, nullptr, nullptr);
  if (!doc || PX_open_file(doc, path.c_str()) < 0) {
    std::fprintf(stderr, "pxlib cannot open %s\n", path.c_str());
    std::exit(1);
  }
  const int fields = PX_get_num_fields(doc);
  const pxfield_t* defs = PX_get_fields(doc);
  const int records = PX_get_num_records(doc);
  std::vector<char> record(static_cast<size_t>(PX_get_recordsize(doc)));
  ScanSum sum;
  for (int n = 0; n < records; ++n) {
    if (!PX_get_record(doc, n, record.data())) {
      std::fprintf(stderr, "pxlib cannot read record %d\n", n);
      std::exit(1);
    }
    ++sum.records;
    char* at = record.data();
    for (int f = 0; f < fields; ++f) {
      const pxfield_t& def = defs[f];
      int got = 0;
      switch (def.px_ftype) {
        case pxfAlpha: {
          char* text = nullptr;
          got = PX_get_data_alpha(doc, at, def.px_flen, &text);
          if (got > 0 && text) {
            sum.text_bytes += std::strlen(text);
            doc->free(doc, text);
          }
          break;
        }
        case pxfNumber:
        case pxfCurrency:
        case pxfTimestamp: {
          double v = 0;
          got = PX_get_data_double(doc, at, 8, &v);
          if (got > 0 && def.px_ftype != pxfTimestamp) sum.numbers += v;
          break;
        }
        case pxfLong:
        case pxfDate: {
          long v = 0;
          got = PX_get_data_long(doc, at, 4, &v);
          if (got > 0 && f == 2) sum.keys += v;
          break;
        }
        case pxfShort: {
          short v = 0;
          got = PX_get_data_short(doc, at, 2, &v);
          break;
        }
        case pxfLogical: {
          char v = 0;
          got = PX_get_data_byte(doc, at, 1, &v);
          break;
        }
        case pxfMemoBLOb: {
          // The leader and the trailer's length; the text itself is in the .MB.
          const int leader = def.px_flen - 10;
          uint32_t length = 0;
          std::memcpy(&length, at + leader + 4, 4);
          got = length != 0;
          for (int k = 0; k < leader && k < static_cast<int>(length); ++k)
            sum.text_bytes += at[k] != 0;
          break;
        }
        default:
          got = 1;
          break;
      }
      if (got == 0) ++sum.nulls;
      at += def.px_flen;
    }
  }
  PX_close(doc);
  PX_delete(doc);
  return sum;
}

double SecondsToReadFile(const std::string& path) {
  const auto start = Clock::now();
  std::string data(fs::file_size(path), '\0');
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f || std::fread(data.data(), 1, data.size(), f) != data.size()) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(1);
  }
  std::fclose(f);
  return SecondsSince(start);
}

// pxlib's PX_get_record of every record without decoding: where its scan
// spends the time before any field is looked at.
double SecondsToFetchWithPxlib(const std::string& path) {
  const auto start = Clock::now();
  pxdoc_t* doc = PX_new3(&PxError, nullptr, nullptr, nullptr, nullptr);
  if (!doc || PX_open_file(doc, path.c_str()) < 0) std::exit(1);
  std::vector<char> record(static_cast<size_t>(PX_get_recordsize(doc)));
  const int records = PX_get_num_records(doc);
  unsigned sum = 0;
  for (int n = 0; n < records; ++n) {
    if (!PX_get_record(doc, n, record.data())) std::exit(1);
    sum += static_cast<unsigned char>(record[0]);
  }
  PX_close(doc);
  PX_delete(doc);
  if (sum == 0) std::fprintf(stderr, "pxlib read only empty series\n");
  return SecondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t rows =
      argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  const fs::path folder =
      fs::path(argc > 2 ? argv[2] : "/tmp") / ("dalimor-engine-bench-" + std::to_string(getpid()));
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (rows < 10) {
    std::fprintf(stderr, "usage: bench_engine [rows>=10] [folder]\n");
    return 2;
  }
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string bulk_path = (folder / "ITEMS.DB").string();
  const std::string per_row_path = (folder / "ITEMS1.DB").string();

  std::vector<uint32_t> order(rows);
  std::iota(order.begin(), order.end(), 0u);
  std::shuffle(order.begin(), order.end(), std::mt19937(42));

  try {
    std::printf(
        "table: %u item rows, %zu fields, keyed on series, number, Klic; random key order\n", rows,
        ItemFields().size());
    const InsertResult bulk = InsertRows(bulk_path, order, rows, false);
    std::printf(
        "insert, one flush          %9.2f s  %10.0f rows/s   (cpu %.2f s; peak RSS %.0f MB)\n",
        bulk.seconds, bulk.rows / bulk.seconds, bulk.cpu, PeakRssMb());
    const size_t per_row_count = std::max<size_t>(1, rows / 10);
    const InsertResult per_row = InsertRows(per_row_path, order, per_row_count, true);
    std::printf(
        "insert, flush per row      %9.2f s  %10.0f rows/s   (cpu %.2f s; %u rows, %.0f s per "
        "%u)\n",
        per_row.seconds, per_row.rows / per_row.seconds, per_row.cpu, per_row.rows,
        per_row.seconds * rows / per_row.rows, rows);
    fs::remove(per_row_path);
    fs::remove(folder / "ITEMS1.PX");
    fs::remove(folder / "ITEMS1.MB");

    const uint64_t db_size = fs::file_size(bulk_path);
    const uint64_t mb_size =
        fs::exists(folder / "ITEMS.MB") ? fs::file_size(folder / "ITEMS.MB") : 0;
    std::printf(".DB %.1f MB, .MB %.1f MB\n", static_cast<double>(db_size) / 1e6,
                static_cast<double>(mb_size) / 1e6);

    // The first read brings the files into the page cache for both readers.
    SecondsToReadFile(bulk_path);
    const double read_file = SecondsToReadFile(bulk_path);

    auto start = Clock::now();
    double cpu = CpuSeconds();
    double open_seconds = 0;
    const ScanSum ours = OurScan(bulk_path, &open_seconds);
    const double ours_seconds = SecondsSince(start);
    const double ours_cpu = CpuSeconds() - cpu;
    const double rss_after_ours = PeakRssMb();
    start = Clock::now();
    cpu = CpuSeconds();
    const ScanSum theirs = PxlibScan(bulk_path);
    const double pxlib_seconds = SecondsSince(start);
    const double pxlib_cpu = CpuSeconds() - cpu;
    const double pxlib_fetch = SecondsToFetchWithPxlib(bulk_path);

    std::printf("scan, fread of the .DB     %9.2f s  (the floor: bytes into memory)\n", read_file);
    std::printf(
        "scan, ours (every field)   %9.2f s  %10.0f rows/s   (cpu %.2f s; open %.2f s; peak RSS "
        "%.0f MB)\n",
        ours_seconds, ours.records / ours_seconds, ours_cpu, open_seconds, rss_after_ours);
    std::printf(
        "scan, pxlib (PX_get_data)  %9.2f s  %10.0f rows/s   (cpu %.2f s; PX_get_record alone %.2f "
        "s)\n",
        pxlib_seconds, theirs.records / pxlib_seconds, pxlib_cpu, pxlib_fetch);
    std::printf("scan ratio ours / pxlib    %9.2f    (cpu time: %.2f)\n",
                ours_seconds / pxlib_seconds, ours_cpu / pxlib_cpu);
    if (ours.records != theirs.records || ours.keys != theirs.keys)
      std::printf("MISMATCH: ours %llu records (key sum %lld), pxlib %llu (key sum %lld)\n",
                  static_cast<unsigned long long>(ours.records), static_cast<long long>(ours.keys),
                  static_cast<unsigned long long>(theirs.records),
                  static_cast<long long>(theirs.keys));
    std::printf("peak RSS                   %9.0f MB\n", PeakRssMb());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_engine: %s\n", e.what());
    fs::remove_all(folder);
    return 1;
  }
  fs::remove_all(folder);
  return 0;
}
