// A send and a receive of every agenda on a large demo installation, each
// against copying the same tables with cp -r in the same run:
//
//  - the send from "Pobočka Brno" (price list: all) into a freshly
//    initialised transfer folder, against copying every file of the
//    branch's SDATA/S, CDATA/S and LDATA/S into a fresh folder;
//  - the receive of that batch into "Centrála Praha" (overwrite off),
//    against copying the transfer folder into a fresh folder, and against
//    the same receive into a copy of the head office whose secondary
//    indexes were removed (what keeping the indexes costs); both receives
//    run three times and the fastest counts.
//
// A second reference reads the same files into memory and writes them to
// new files with read and write calls, the least a program that changes
// records in memory has to do (cp copies inside the kernel).  Every step
// starts after sync(), with nothing left to write back.
//
// Prints the document and row counts of the branch, each time with its CPU
// time, the bytes our runs wrote, the ratios against both references, how
// full the head office's largest table got, and the peak resident memory.
// The work folder is deleted at the end.
//
// The default run is at least 100,000 documents with a million item rows:
// scale 530 is the smallest at which the branch holds 100,000 documents,
// and up to 20 item lines per document (about 10 on average) give it about
// 1,026,000 item rows and 570,000 journal rows.  The demo gives a table
// larger blocks where the rows of both companies would come near the
// 65535 blocks a Paradox table can have (here 4 KB for most item tables,
// 16 KB for the journal), so the head office has room for all of the
// branch's rows: its fullest table ends at about 40 % of the blocks.
// Without that the receive would fail with "Table is full.".  Lines 0 keep
// the demo's usual 1 to 3-7 lines per document (about 290,000 item rows at
// scale 530).
//
//   bench_transfer [scale=530] [lines=20] [folder=/tmp]

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "accounting/company_register.h"
#include "batch/catalogue.h"
#include "batch/initialisation.h"
#include "demo/demo_installation.h"
#include "engine/engine_config.h"
#include "engine/paradox/table.h"
#include "platform/file_system.h"
#include "platform/regional.h"
#include "transfer/runs.h"
#include "util/clock.h"
#include "util/ui.h"

namespace {

namespace fs = std::filesystem;
using dalimor::Cursor;
using dalimor::MsgKind;
using dalimor::RunPage;
using Clock = std::chrono::steady_clock;

constexpr const char* kBranch = "Pobočka Brno";
constexpr const char* kHead = "Centrála Praha";
// Folders of a company that hold its tables.
constexpr const char* kTableFolders[] = {"SDATA/S", "CDATA/S", "LDATA/S"};

// Answers Yes to every question and OK to every message, shows nothing,
// and keeps the last text so that a failed run can be reported.
class YesUi : public dalimor::Ui {
 public:
  int ShowMessageBox(MsgKind, const std::string&, const std::string& text, int buttons) override {
    last_text = text;
    return buttons == dalimor::kMbOk ? dalimor::kIdOk : dalimor::kIdYes;
  }
  void SetStatusText(const std::string&) override {}
  void ShowDoneMark(RunPage, const std::string&) override {}
  void HideDoneMarks() override {}
  void SetDoneMarksShown(bool) override {}
  Cursor CurrentCursor() const override { return cursor_; }
  void SetCursor(Cursor cursor) override { cursor_ = cursor; }

  std::string last_text;

 private:
  Cursor cursor_ = Cursor::kDefault;
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The machine may be shared: besides the wall time a step shows the CPU
// time it used (children's for cp) and, for our runs, how long the process
// waited for a CPU (from /proc/self/schedstat), so that the rest is what it
// waited for the disk.
struct Usage {
  Clock::time_point wall = Clock::now();
  double cpu = 0;
  double children_cpu = 0;
  double queued = 0;
  double written_mb = 0;  // bytes handed to write calls (/proc/self/io)
};

Usage Now() {
  Usage u;
  rusage self{}, children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  u.cpu = Seconds(self.ru_utime) + Seconds(self.ru_stime);
  u.children_cpu = Seconds(children.ru_utime) + Seconds(children.ru_stime);
  if (std::FILE* f = std::fopen("/proc/self/schedstat", "r")) {
    unsigned long long on_cpu = 0, waiting = 0;
    if (std::fscanf(f, "%llu %llu", &on_cpu, &waiting) == 2)
      u.queued = static_cast<double>(waiting) / 1e9;
    std::fclose(f);
  }
  if (std::FILE* f = std::fopen("/proc/self/io", "r")) {
    char name[32];
    unsigned long long value = 0;
    while (std::fscanf(f, "%31s %llu", name, &value) == 2)
      if (std::string(name) == "wchar:") u.written_mb = static_cast<double>(value) / 1e6;
    std::fclose(f);
  }
  return u;
}

struct Step {
  double wall = 0;
  double cpu = 0;
  double queued = 0;
  double written_mb = 0;
};

Step Since(const Usage& start) {
  const Usage now = Now();
  return Step{std::chrono::duration<double>(now.wall - start.wall).count(),
              now.cpu - start.cpu + now.children_cpu - start.children_cpu,
              now.queued - start.queued, now.written_mb - start.written_mb};
}

double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

std::string Quoted(const fs::path& path) {
  std::string out = "'";
  for (char c : path.string()) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// Copies each of `sources` with cp -r into a new folder below `target`;
// the fastest of three copies, since a single one varies with what the
// page cache is doing.
Step Copy(const std::vector<fs::path>& sources, const fs::path& target) {
  Step best;
  for (int round = 0; round < 3; ++round) {
    fs::remove_all(target);
    fs::create_directories(target);
    ::sync();  // every step starts with nothing waiting to be written
    const Usage start = Now();
    int n = 0;
    for (const fs::path& source : sources)
      Run("cp -r " + Quoted(source) + " " + Quoted(target / std::to_string(n++)));
    const Step step = Since(start);
    if (round == 0 || step.wall < best.wall) best = step;
  }
  return best;
}

// The least a program that changes records in memory must do with the same
// files: read each into memory and write it to a new file (read and write
// calls, as the table engine makes them); the fastest of three rounds.
Step ReadAndWrite(const std::vector<fs::path>& sources, const fs::path& target) {
  Step best;
  for (int round = 0; round < 3; ++round) {
    fs::remove_all(target);
    ::sync();  // every step starts with nothing waiting to be written
    const Usage start = Now();
    int n = 0;
    for (const fs::path& source : sources) {
      const fs::path into = target / std::to_string(n++);
      for (const auto& entry : fs::recursive_directory_iterator(source)) {
        const fs::path to = into / fs::relative(entry.path(), source);
        if (entry.is_directory()) {
          fs::create_directories(to);
          continue;
        }
        if (!entry.is_regular_file()) continue;
        fs::create_directories(to.parent_path());
        std::string bytes(static_cast<size_t>(entry.file_size()), '\0');
        const int in = ::open(entry.path().c_str(), O_RDONLY);
        const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 ||
            ::pread(in, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()) ||
            ::pwrite(out, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
          throw std::runtime_error("cannot copy " + entry.path().string());
        ::close(in);
        ::close(out);
      }
    }
    const Step step = Since(start);
    if (round == 0 || step.wall < best.wall) best = step;
  }
  return best;
}

uint64_t FolderBytes(const fs::path& folder) {
  uint64_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) bytes += entry.file_size();
  return bytes;
}

// The bytes of every table below `after` that differs from `before`: a
// table (its files of one base name in one folder) counts whole, at its
// size after, when any of its files is new, gone or changed.
uint64_t ChangedTableBytes(const fs::path& before, const fs::path& after) {
  const auto table_of = [](const fs::path& relative) {
    std::string key = relative.parent_path().string() + "/" + relative.stem().string();
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
  };
  const auto bytes_of = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  std::map<std::string, uint64_t> sizes;
  std::set<std::string> changed;
  for (const auto& entry : fs::recursive_directory_iterator(after)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), after);
    const std::string table = table_of(relative);
    sizes[table] += entry.file_size();
    const fs::path old = before / relative;
    if (!fs::exists(old) || fs::file_size(old) != entry.file_size() ||
        bytes_of(old) != bytes_of(entry.path()))
      changed.insert(table);
  }
  for (const auto& entry : fs::recursive_directory_iterator(before))
    if (entry.is_regular_file() && !fs::exists(after / fs::relative(entry.path(), before)))
      changed.insert(table_of(fs::relative(entry.path(), before)));
  uint64_t bytes = 0;
  for (const std::string& table : changed) bytes += sizes[table];
  return bytes;
}

uint32_t RowCount(const std::string& company, std::string_view table) {
  const dalimor::BatchTable* batch_table = dalimor::FindBatchTable(table);
  if (!batch_table) return 0;
  const fs::path path = dalimor::ResolvePathIgnoringCase(company, batch_table->source_path);
  return dalimor::ParadoxTable::Open(path.string(), dalimor::OpenMode::kReadOnly)->record_count();
}

std::string CompanyFolder(const std::string& installation, const char* company) {
  dalimor::CompanyRegister reg(installation);
  reg.Open();
  reg.FillCompanyList(company, nullptr);
  if (reg.ActiveDesignation() != company)
    throw std::runtime_error(std::string("no company ") + company);
  return reg.CompanyDataFolder();
}

std::map<std::string, dalimor::AgendaInput> EveryAgenda() {
  std::map<std::string, dalimor::AgendaInput> agendas;
  for (const dalimor::Agenda& a : dalimor::Agendas()) agendas[std::string(a.code)].ticked = true;
  return agendas;
}

int Bench(int scale, int lines, const fs::path& work) {
  const std::string installation = (work / "kalmeo").string();
  const std::string batch = (work / "Přenos").string() + "/";
  fs::create_directories(batch);

  const Usage start = Now();
  dalimor::WriteDemoInstallation(installation, dalimor::DemoOptions{scale, 1, lines});
  const double generate_seconds = Since(start).wall;
  const std::string branch = CompanyFolder(installation, kBranch);
  const std::string head = CompanyFolder(installation, kHead);

  // Documents: the headers of the agendas with item rows; the receivables
  // and payables, the journal, the price list and the memo texts are
  // counted on their own.
  uint64_t documents = 0, items = 0, other = 0;
  for (const dalimor::Agenda& a : dalimor::Agendas()) {
    const uint64_t rows = RowCount(branch, a.header_table);
    if (a.item_table.empty()) {
      other += rows;
      continue;
    }
    documents += rows;
    items += RowCount(branch, a.item_table);
  }
  other += RowCount(branch, "LMemo.DB");
  std::string per_table;
  for (const dalimor::BatchTable& t : dalimor::BatchTables())
    per_table.append(" ")
        .append(t.file_name)
        .append(" ")
        .append(std::to_string(RowCount(branch, t.file_name)));
  std::vector<fs::path> branch_tables;
  uint64_t branch_bytes = 0;
  for (const char* folder : kTableFolders) {
    branch_tables.push_back(dalimor::ResolvePathIgnoringCase(branch, folder));
    branch_bytes += FolderBytes(branch_tables.back());
  }
  std::printf(
      "demo installation, scale %d, at most %d item lines per document: written in %.1f s\n", scale,
      lines, generate_seconds);
  std::printf(
      "%s: %llu documents, %llu item rows, %llu other rows (PZ, journal, price list, memos); "
      "tables %.1f MB\n",
      kBranch, static_cast<unsigned long long>(documents), static_cast<unsigned long long>(items),
      static_cast<unsigned long long>(other), static_cast<double>(branch_bytes) / 1e6);
  std::printf("rows:%s\n", per_table.c_str());

  dalimor::EngineConfig config((work / "engine.cfg").string());
  const dalimor::FixedClock clock({2011, 3, 15, 10, 20, 30, 0});
  const dalimor::RegionalSettings settings = dalimor::CzechRegionalSettings();

  YesUi ui;
  dalimor::InitializationContext context;
  context.company_data_available = true;
  context.company_data_folder = branch;
  context.accounting_folders.roots.push_back(installation + "/");
  context.transfer_folder = batch;
  if (dalimor::InitializeBatch(ui, config, context) != dalimor::InitializationResult::kDone)
    throw std::runtime_error("initialisation: " + ui.last_text);

  // The reference first, so that both read the branch's tables from the page cache.
  const Step cp_send = Copy(branch_tables, work / "copy-of-branch");
  std::printf("%-30s %8.2f s  (cpu %.2f s)\n", "cp -r of the branch's tables", cp_send.wall,
              cp_send.cpu);
  const Step floor_send = ReadAndWrite(branch_tables, work / "rewrite-of-branch");
  std::printf("%-30s %8.2f s  (cpu %.2f s)\n", "  read into memory, written", floor_send.wall,
              floor_send.cpu);
  dalimor::SendPage send;
  send.agendas = EveryAgenda();
  send.price_list_all = true;
  dalimor::RunEnvironment send_env{ui, config, clock, settings, branch, batch, kBranch, nullptr, {}};
  ::sync();
  Usage start_run = Now();
  if (dalimor::SendBatch(send_env, send) != dalimor::RunOutcome::kDone)
    throw std::runtime_error("send: " + ui.last_text);
  const Step sent = Since(start_run);
  std::printf(
      "%-30s %8.2f s  (cpu %.2f s, waiting for a CPU %.2f s; batch %.1f MB; written %.0f MB; "
      "peak RSS %.0f MB)\n",
      "send, every agenda", sent.wall, sent.cpu, sent.queued,
      static_cast<double>(FolderBytes(batch)) / 1e6, sent.written_mb, PeakRssMb());

  const Step cp_receive = Copy({fs::path(batch)}, work / "copy-of-batch");
  std::printf("%-30s %8.2f s  (cpu %.2f s)\n", "cp -r of the batch", cp_receive.wall,
              cp_receive.cpu);
  // A receive reads the batch and rewrites the head office's tables.
  std::vector<fs::path> receive_tables = {fs::path(batch)};
  for (const char* folder : kTableFolders)
    receive_tables.push_back(dalimor::ResolvePathIgnoringCase(head, folder));
  const Step floor_receive = ReadAndWrite(receive_tables, work / "rewrite-for-receive");
  std::printf("%-30s %8.2f s  (cpu %.2f s)\n", "  batch and head office's tables", floor_receive.wall,
              floor_receive.cpu);
  std::printf("%-30s %8s    (read into memory, written)\n", "", "");
  dalimor::ReceivePage receive;
  receive.agendas = EveryAgenda();
  receive.price_list_all = true;
  receive.overwrite = false;
  // The same receive into copies of the head office without its secondary
  // indexes, for what keeping them costs.  CPU speed varies a great deal
  // between runs on a shared machine, so both receives run three times,
  // alternating, each into a fresh copy of the head office (the last one
  // with indexes into the head office itself), and the fastest of each
  // counts.
  const fs::path pristine = work / "head-before-receive";
  fs::copy(head, pristine, fs::copy_options::recursive);
  auto head_copy = [&](const std::string& name, bool without_indexes, uint64_t* files,
                       uint64_t* bytes) {
    const std::string folder = (work / name).string() + "/";
    fs::copy(pristine, folder, fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      const std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && ext.size() == 4 &&
          (ext[1] == 'X' || ext[1] == 'x' || ext[1] == 'Y' || ext[1] == 'y')) {
        if (files) ++*files;
        if (bytes) *bytes += entry.file_size();
        if (without_indexes) fs::remove(entry.path());
      }
    }
    return folder;
  };
  auto timed_receive = [&](const std::string& folder, const char* what) {
    dalimor::RunEnvironment env{ui, config, clock, settings, folder, batch, kHead, nullptr, {}};
    ::sync();
    const Usage begin = Now();
    if (dalimor::ReceiveBatch(env, receive) != dalimor::RunOutcome::kDone)
      throw std::runtime_error(std::string(what) + ": " + ui.last_text);
    const Step step = Since(begin);
    std::printf("%-30s %8.2f s  (cpu %.2f s, waiting for a CPU %.2f s; written %.0f MB)\n", what,
                step.wall, step.cpu, step.queued, step.written_mb);
    return step;
  };
  uint64_t index_files = 0, index_bytes = 0;
  Step received_plain, received;
  double received_last_written_mb = 0;
  for (int round = 0; round < 3; ++round) {
    const std::string plain = head_copy("head-without-indexes", true,
                                        round == 0 ? &index_files : nullptr,
                                        round == 0 ? &index_bytes : nullptr);
    const Step p = timed_receive(plain, "receive, no secondary indexes");
    fs::remove_all(plain);
    const std::string with = round == 2 ? head : head_copy("head-with-indexes", false, nullptr, nullptr);
    const Step w = timed_receive(with, "receive, every agenda");
    if (round < 2) fs::remove_all(with);
    if (round == 0 || p.wall < received_plain.wall) received_plain = p;
    if (round == 0 || w.wall < received.wall) received = w;
    if (round == 2) received_last_written_mb = w.written_mb;
  }
  // What the last receive changed: every table with a file that differs
  // from (or is missing in) the head office before it, counted whole.
  const uint64_t changed_bytes = ChangedTableBytes(pristine, head);
  std::printf("%-30s %8.0f MB  (written %.0f MB: %.2f x the tables it changed)\n",
              "  tables the receive changed", static_cast<double>(changed_bytes) / 1e6,
              received_last_written_mb, received_last_written_mb * 1e6 / static_cast<double>(changed_bytes));
  fs::remove_all(pristine);
  std::printf("%-30s %8.2f s  (fastest of three; without the indexes %.2f s)\n",
              "receive, every agenda", received.wall, received_plain.wall);
  std::printf("%-30s %8s    (%llu index files, %.1f MB before the receive)\n", "  with the indexes",
              "", static_cast<unsigned long long>(index_files), static_cast<double>(index_bytes) / 1e6);
  std::printf("ratio receive with / without secondary indexes %.2f    (cpu time: %.2f)\n",
              received.wall / received_plain.wall, received.cpu / received_plain.cpu);
  std::printf("ratio send / cp               %8.2f    (cpu time: %.2f)\n", sent.wall / cp_send.wall,
              sent.cpu / cp_send.cpu);
  std::printf("ratio receive / cp            %8.2f    (cpu time: %.2f)\n",
              received.wall / cp_receive.wall, received.cpu / cp_receive.cpu);
  std::printf("ratio send / read and write   %8.2f\n", sent.wall / floor_send.wall);
  std::printf("ratio receive / read and write%8.2f\n", received.wall / floor_receive.wall);

  // A Paradox table holds at most 65535 blocks; how close the head office's
  // largest table came to that.
  std::string fullest;
  int fullest_blocks = 0;
  for (const dalimor::BatchTable& t : dalimor::BatchTables()) {
    const fs::path path = dalimor::ResolvePathIgnoringCase(head, t.source_path);
    const auto table = dalimor::ParadoxTable::Open(path.string(), dalimor::OpenMode::kReadOnly);
    if (table->header().total_blocks > fullest_blocks) {
      fullest_blocks = table->header().total_blocks;
      fullest = std::string(t.file_name) + " (" + std::to_string(table->record_count()) +
                " rows, " + std::to_string(table->block_size()) + "-byte blocks)";
    }
  }
  std::printf("%s after the receive: largest table %s, %d of 65535 blocks\n", kHead,
              fullest.c_str(), fullest_blocks);
  std::printf("peak RSS                       %8.0f MB\n", PeakRssMb());
  return 0;
}

}  // namespace

// A whole number of at least `low`, or -1.
int Argument(const char* text, int low) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > 100000) return -1;
  return static_cast<int>(value);
}

int main(int argc, char** argv) {
  const int scale = argc > 1 ? Argument(argv[1], 1) : 530;
  const int lines = argc > 2 ? Argument(argv[2], 0) : 20;
  const fs::path work = fs::path(argc > 3 ? argv[3] : "/tmp") /
                        ("dalimor-transfer-bench-" + std::to_string(getpid()));
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (scale < 1 || lines < 0 || argc > 4) {
    std::fprintf(stderr,
                 "usage: bench_transfer [scale>=1] [lines>=0, 0: the demo's usual] [folder]\n");
    return 2;
  }
  int result = 1;
  try {
    fs::remove_all(work);
    fs::create_directories(work);
    result = Bench(scale, lines, work);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_transfer: %s\n", e.what());
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return result;
}
