// Send and receive end to end on the demo installation: a branch sends every
// agenda, the head office receives them.

#include "transfer/runs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "accounting/company_register.h"
#include "batch/catalogue.h"
#include "batch/initialisation.h"
#include "demo/demo_installation.h"
#include "engine/folder_lock.h"
#include "engine/engine_config.h"
#include "engine/fault_injection.h"
#include "engine/paradox/table.h"
#include "engine/run_journal.h"
#include "engine/table_cursor.h"
#include "platform/file_system.h"
#include "platform/native_io.h"
#include "tests/support/index_checker.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_support.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBranch = "Pobočka Brno";
constexpr const char* kHead = "Centrála Praha";

// Every file below a folder with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[Utf8FromPath(fs::relative(entry.path(), folder))] = test::ReadFileBytes(entry.path());
  return files;
}

std::map<std::string, std::string> Snapshot(const std::string& folder) {
  return Snapshot(PathFromUtf8(folder));
}

// Every maintained secondary index of a company's tables is exactly what
// its rows give, as an independent checker reads the files; returns the
// number of indexes checked.
int ExpectIndexesInStep(const std::string& company) {
  int checked = 0;
  for (const auto& entry : fs::recursive_directory_iterator(PathFromUtf8(company))) {
    const std::string ext = Utf8FromPath(entry.path().extension());
    if (ext != ".DB" && ext != ".db") continue;
    for (const std::string& problem : test::CheckAllSecondaryIndexes(Utf8FromPath(entry.path())))
      ADD_FAILURE() << problem;
    for (const auto& sibling : fs::directory_iterator(entry.path().parent_path())) {
      const std::string e = Utf8FromPath(sibling.path().extension());
      if (sibling.path().stem() == entry.path().stem() && e.size() == 4 && (e[1] == 'X' || e[1] == 'x'))
        ++checked;
    }
  }
  return checked;
}

std::vector<Record> Rows(const std::string& path) {
  return ParadoxTable::Open(path, OpenMode::kReadOnly)->ReadAll();
}

class TransferRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installation_ = new test::TempDir;
    WriteDemoInstallation(Utf8FromPath(installation_->path()), DemoOptions{});
  }
  static void TearDownTestSuite() {
    delete installation_;
    installation_ = nullptr;
  }

  void SetUp() override {
    // Each test works on its own copy of the demo data.
    fs::copy(installation_->path(), dir.path() / "kalmeo", fs::copy_options::recursive);
    fs::create_directories(BatchPath());
  }

  std::string Installation() const { return Utf8FromPath(dir.path() / "kalmeo"); }
  fs::path BatchPath() const { return dir.path() / PathFromUtf8("Přenos"); }
  std::string batch() const { return Utf8FromPath(BatchPath()) + "/"; }

  std::string CompanyFolder(const char* company) {
    CompanyRegister reg(Installation());
    reg.Open();
    reg.FillCompanyList(company, nullptr);
    return reg.CompanyDataFolder();
  }

  AccountingFolders LiveFolders() {
    CompanyRegister reg(Installation());
    reg.Open();
    return reg.LiveFolders();
  }

  RunEnvironment Environment(test::ScriptedUi& ui, const char* company) {
    return RunEnvironment{ui,      config,  clock, settings, CompanyFolder(company), batch(),
                          company, nullptr, LiveFolders()};
  }

  void Initialise(const char* company) {
    test::ScriptedUi ui;
    InitializationContext context;
    context.company_data_available = true;
    context.company_data_folder = CompanyFolder(company);
    context.accounting_folders = LiveFolders();
    context.transfer_folder = batch();
    ASSERT_EQ(InitializeBatch(ui, config, context), InitializationResult::kDone);
  }

  static std::map<std::string, AgendaInput> AllAgendas() {
    std::map<std::string, AgendaInput> agendas;
    for (const Agenda& a : Agendas()) agendas[std::string(a.code)].ticked = true;
    return agendas;
  }

  RunOutcome Send(SendPage page, const char* company = kBranch) {
    test::ScriptedUi ui;
    ui.Answer(kIdYes);
    RunEnvironment env = Environment(ui, company);
    const RunOutcome outcome = SendBatch(env, page);
    last_boxes = ui.boxes;
    last_marks = ui.done_marks;
    return outcome;
  }

  RunOutcome Receive(ReceivePage page, const char* company = kHead) {
    test::ScriptedUi ui;
    ui.Answer(kIdYes);
    ui.Answer(kIdYes);  // the batch comes from another company
    RunEnvironment env = Environment(ui, company);
    const RunOutcome outcome = ReceiveBatch(env, page);
    last_boxes = ui.boxes;
    last_marks = ui.done_marks;
    return outcome;
  }

  static test::TempDir* installation_;
  test::TempDir dir;
  EngineConfig config{dir.File("engine.cfg")};
  FixedClock clock{{2011, 3, 15, 10, 20, 30, 0}};
  RegionalSettings settings = CzechRegionalSettings();
  std::vector<test::RecordedBox> last_boxes;
  std::vector<std::string> last_marks;
};

test::TempDir* TransferRun::installation_ = nullptr;

TEST_F(TransferRun, SendOfEveryAgendaCopiesEveryDocumentItemAndText) {
  Initialise(kBranch);
  SendPage page;
  page.agendas = AllAgendas();
  page.price_list_all = true;
  page.message = "Zdraví pobočka Brno";
  ASSERT_EQ(Send(page), RunOutcome::kDone) << (last_boxes.empty() ? "" : last_boxes.back().text);
  EXPECT_EQ(last_boxes.back().text, "Odeslání dat bylo úspěšně dokončeno.");
  EXPECT_EQ(last_marks.size(), 10u);

  const std::string company = CompanyFolder(kBranch);
  for (const BatchTable& table : BatchTables()) {
    if (table.file_name == std::string_view("LMemo.DB")) continue;
    const auto source =
        Rows(Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(company), table.source_path)));
    const auto copied = Rows(batch() + std::string(table.file_name));
    EXPECT_EQ(copied.size(), source.size()) << table.file_name;
  }
  // Memo texts: each batch header refers to a batch memo row with the text
  // its company header referred to.
  for (const char* header : {"Svfh.DB", "SObjH.DB"}) {
    TableCursor company_headers, batch_headers, company_memos, batch_memos;
    company_headers.SetTableName(company + "SDATA/S/" + header);
    batch_headers.SetTableName(batch() + header);
    company_memos.SetTableName(company + "LDATA/S/LMemo.DB");
    batch_memos.SetTableName(batch() + "LMemo.DB");
    for (TableCursor* t : {&company_headers, &batch_headers, &company_memos, &batch_memos})
      t->Open(OpenMode::kReadOnly);
    int texts = 0;
    for (batch_headers.First(); !batch_headers.Eof(); batch_headers.Next()) {
      EXPECT_FALSE(batch_headers.FieldByName("Zmeneno").IsNull());
      ASSERT_TRUE(company_headers.Locate(
          "DoklSRada;DoklSCislo", {batch_headers.FieldByName("DoklSRada").AsVariant(),
                                   batch_headers.FieldByName("DoklSCislo").AsVariant()}));
      for (const char* field : {"TextNahoruKlic", "TextDoluKlic"}) {
        const int64_t old_key = company_headers.FieldByName(field).AsInteger();
        const int64_t new_key = batch_headers.FieldByName(field).AsInteger();
        if (old_key <= 0) {
          EXPECT_LE(new_key, 0);
          continue;
        }
        ASSERT_TRUE(company_memos.Locate("Klic", {old_key}));
        ASSERT_TRUE(batch_memos.Locate("Klic", {new_key})) << header << " " << new_key;
        EXPECT_EQ(batch_memos.FieldByName("Poznamka").AsString(),
                  company_memos.FieldByName("Poznamka").AsString());
        ++texts;
      }
    }
    EXPECT_GT(texts, 0) << header;
  }
}

TEST_F(TransferRun, ReceiveSkipsExistingDocumentsUnlessOverwriteAndRepeatsAreHarmless) {
  Initialise(kBranch);
  SendPage send;
  send.agendas = AllAgendas();
  send.price_list_all = true;
  ASSERT_EQ(Send(send), RunOutcome::kDone);

  const std::string head = CompanyFolder(kHead);
  const std::string header_path = head + "SDATA/S/SPFH.DB";
  const size_t before = Rows(header_path).size();
  const size_t sent = Rows(batch() + "SPFH.DB").size();

  ReceivePage receive;
  receive.agendas = AllAgendas();
  receive.price_list_all = true;
  ASSERT_EQ(Receive(receive), RunOutcome::kDone) << last_boxes.back().text;
  EXPECT_EQ(last_boxes.back().text,
            "Příjem dat byl úspěšně dokončen.\r\n\r\nPo spuštění Kalmea proveďte údržbu dat.");
  const size_t after = Rows(header_path).size();
  EXPECT_GT(ExpectIndexesInStep(head), 40) << "the company's tables carry their indexes";
  EXPECT_GT(after, before);
  EXPECT_LT(after, before + sent);  // the head office already had some of them

  // The key counter stands past every memo key.
  int64_t max_key = 0;
  for (const Record& r : Rows(head + "LDATA/S/LMemo.DB"))
    max_key = std::max(max_key, std::get<int64_t>(r[0]));
  TableCursor counters;
  counters.SetTableName(head + "LDATA/S/LKlice.DB");
  counters.Open(OpenMode::kReadOnly);
  bool found = false;
  for (counters.First(); !counters.Eof(); counters.Next()) {
    std::string name = counters.FieldByName("Nazev").AsString();
    if (name.size() == 8 && (name[0] == 'L' || name[0] == 'l')) {
      found = true;
      EXPECT_GT(counters.FieldByName("DalsiHodnota").AsInteger(), max_key);
    }
  }
  EXPECT_TRUE(found);
  counters.Close();

  // Again: nothing new.
  const auto snapshot = Snapshot(head + "SDATA/S");
  ASSERT_EQ(Receive(receive), RunOutcome::kDone);
  EXPECT_EQ(Rows(header_path).size(), after);
  ExpectIndexesInStep(head);

  // Documents both companies hold: kept as they were, then replaced by the
  // batch's version with overwrite on.
  const auto branch_rows = Rows(CompanyFolder(kBranch) + "SDATA/S/SPFH.DB");
  std::map<std::pair<std::string, std::string>, Record> branch_by_key;
  for (const Record& r : branch_rows)
    branch_by_key[{std::get<std::string>(r[0]), std::get<std::string>(r[1])}] = r;
  std::vector<Record> common_before;
  for (const Record& r : Rows(header_path))
    if (const auto it = branch_by_key.find({std::get<std::string>(r[0]), std::get<std::string>(r[1])});
        it != branch_by_key.end() && it->second != r)
      common_before.push_back(r);
  ASSERT_FALSE(common_before.empty()) << "the demo head office holds edited copies";
  for (const Record& r : common_before) {
    bool kept = false;
    for (const Record& now : Rows(header_path)) kept = kept || now == r;
    EXPECT_TRUE(kept);
  }
  receive.overwrite = true;
  ASSERT_EQ(Receive(receive), RunOutcome::kDone);
  EXPECT_EQ(Rows(header_path).size(), after);
  for (const Record& r : common_before) {
    const Record& branch_row = branch_by_key[{std::get<std::string>(r[0]), std::get<std::string>(r[1])}];
    bool replaced = false;
    for (const Record& now : Rows(header_path)) replaced = replaced || now == branch_row;
    EXPECT_TRUE(replaced);
  }
  ExpectIndexesInStep(head);
  (void)snapshot;
}

TEST_F(TransferRun, FailedReceiveLeavesTheCompanyAsItWas) {
  Initialise(kBranch);
  SendPage send;
  send.agendas = AllAgendas();
  send.price_list_all = true;
  ASSERT_EQ(Send(send), RunOutcome::kDone);
  const std::string head = CompanyFolder(kHead);
  // The last agenda fails: its company table is gone.
  fs::remove(ResolvePathIgnoringCase(head, "CDATA\\S\\Cdenik.DB"));
  const auto before = Snapshot(head);

  ReceivePage receive;
  receive.agendas = AllAgendas();
  receive.price_list_all = true;
  receive.overwrite = true;
  EXPECT_EQ(Receive(receive), RunOutcome::kFailed);
  ASSERT_FALSE(last_boxes.empty());
  EXPECT_EQ(last_boxes.back().text.rfind("Při importu dat došlo k chybě:\r\n\r\n", 0), 0u);
  EXPECT_NE(last_boxes.back().text.find("Akce byla přerušena."), std::string::npos);
  // The error says that nothing changed, and no agenda finished before the
  // error still shows its done mark: its data were put back.
  EXPECT_NE(last_boxes.back().text.find("Data zůstala beze změny."), std::string::npos);
  EXPECT_TRUE(last_marks.empty()) << last_marks.front();
  EXPECT_EQ(Snapshot(head), before);
}

// The progress counts every table, text and price-list step; a run stopped
// at any of them puts everything back and says so.
TEST_F(TransferRun, ARunStoppedAtAnyStepPutsEverythingBack) {
  Initialise(kBranch);
  SendPage send;
  send.agendas = AllAgendas();
  send.price_list_all = true;
  ASSERT_EQ(Send(send), RunOutcome::kDone);
  const std::string head = CompanyFolder(kHead);
  const auto before = Snapshot(head);
  ReceivePage receive;
  receive.agendas = AllAgendas();
  receive.price_list_all = true;
  receive.overwrite = true;
  int total = 1;
  for (int stop_at = 1; stop_at <= total; ++stop_at) {
    test::ScriptedUi ui;
    ui.Answer(kIdYes);
    ui.Answer(kIdYes);  // the batch comes from another company
    ui.stop_at_progress = stop_at;
    RunEnvironment env = Environment(ui, kHead);
    const RunOutcome outcome = ReceiveBatch(env, receive);
    ASSERT_FALSE(ui.progress.empty());
    total = ui.progress.back().second;
    EXPECT_EQ(outcome, RunOutcome::kStopped) << stop_at;
    EXPECT_EQ(ui.boxes.back().text, "Příjem dávky byl zastaven.\r\n\r\nData zůstala beze změny.");
    EXPECT_TRUE(ui.done_marks.empty());
    EXPECT_EQ(Snapshot(head), before) << "stopped after step " << stop_at;
  }
  // Ten agendas: seven with items, two with texts, the price list.
  EXPECT_EQ(total, 10 + 7 + 2);
}

// A demo three times the size: item tables of some hundred rows.
class LargerTransferRun : public TransferRun {
 protected:
  static void SetUpTestSuite() {
    installation_ = new test::TempDir;
    DemoOptions options;
    options.scale = 3;
    WriteDemoInstallation(installation_->path().string(), options);
  }
};

// The steps that go row by row (texts, price list over every item table)
// move the progress within the step, forward only; stopped there, the run
// puts everything back.
TEST_F(LargerTransferRun, RowByRowStepsReportTheirRowsAndStopBetweenThem) {
  Initialise(kBranch);
  SendPage send;
  send.agendas = AllAgendas();
  test::ScriptedUi sender;
  sender.Answer(kIdYes);
  RunEnvironment send_env = Environment(sender, kBranch);
  ASSERT_EQ(SendBatch(send_env, send), RunOutcome::kDone);
  ASSERT_FALSE(sender.within_steps.empty());
  std::set<int> steps;
  for (size_t i = 0; i < sender.within_steps.size(); ++i) {
    const auto [done, within] = sender.within_steps[i];
    steps.insert(done);
    EXPECT_GT(within, 0);
    EXPECT_LT(within, 1000);
    if (i > 0 && sender.within_steps[i - 1].first == done) {
      EXPECT_GT(within, sender.within_steps[i - 1].second) << "step " << done;
    }
  }
  // The price list walks the seven item tables in turn; its step reports
  // each table's rows as a seventh of its share.
  const int price_list_step = 10;  // PF 2, VF 3, SklOper 2, Obj 3 steps before it
  ASSERT_TRUE(steps.count(price_list_step));

  const std::string head = CompanyFolder(kHead);
  const auto before = Snapshot(head);
  ReceivePage receive;
  receive.agendas = AllAgendas();
  receive.overwrite = true;
  test::ScriptedUi ui;
  ui.Answer(kIdYes);
  ui.Answer(kIdYes);  // the batch comes from another company
  ui.stop_within = true;
  RunEnvironment env = Environment(ui, kHead);
  EXPECT_EQ(ReceiveBatch(env, receive), RunOutcome::kStopped);
  ASSERT_EQ(ui.within_steps.size(), 1u);
  EXPECT_EQ(Snapshot(head), before);
}

// A designation with outer blanks comes back from "export.ini" trimmed; the
// same company sending again is not asked about another company.
TEST_F(TransferRun, ADesignationWithOuterBlanksIsStillTheSameCompany) {
  Initialise(kBranch);
  SendPage send;
  send.agendas["PF"].ticked = true;
  for (int round = 0; round < 2; ++round) {
    test::ScriptedUi ui;
    ui.Answer(kIdYes);
    RunEnvironment env = Environment(ui, kBranch);
    env.company_designation = std::string("  ") + kBranch + " ";
    ASSERT_EQ(SendBatch(env, send), RunOutcome::kDone) << ui.boxes.back().text;
    EXPECT_EQ(ui.boxes.size(), 2u) << ui.boxes[1].text;  // the question and the success
  }
}

// A write that fails anywhere in a run (half written, as on a full disk)
// leaves every table exactly as it was; the run after it succeeds.
TEST_F(TransferRun, FailureAtAnyWriteOfARunIsUndone) {
  Initialise(kBranch);
  SendPage send;
  send.agendas = AllAgendas();
  send.price_list_all = true;
  send.overwrite = true;
  const std::string head = CompanyFolder(kHead);
  ReceivePage receive;
  receive.agendas = AllAgendas();
  receive.overwrite = true;

  for (const bool sending : {true, false}) {
    const fs::path target = sending ? BatchPath() : PathFromUtf8(head);
    int failures = 0;
    for (int64_t n = 0;; n = n < 4 ? n + 1 : n * 3 / 2) {
      const auto before = Snapshot(target);
      FailWriteAfter(n);
      const RunOutcome outcome = sending ? Send(send) : Receive(receive);
      FailWriteAfter(-1);
      if (outcome == RunOutcome::kDone) break;
      ++failures;
      ASSERT_EQ(outcome, RunOutcome::kFailed) << n;
      ASSERT_EQ(Snapshot(target), before) << (sending ? "send" : "receive")
                                          << " failing at write " << n;
    }
    EXPECT_GT(failures, 5) << (sending ? "send" : "receive");
  }
}

TEST_F(TransferRun, DateRangeAndSeriesSelectDocumentsWithTheirItems) {
  Initialise(kBranch);
  const std::string company = CompanyFolder(kBranch);
  const auto headers = Rows(company + "SDATA/S/SPFH.DB");
  ASSERT_FALSE(headers.empty());
  const std::string series = std::get<std::string>(headers.front()[0]);
  const double from = DateTimeFromDate(2010, 1, 1), to = DateTimeFromDate(2010, 12, 31);

  SendPage page;
  page.agendas["PF"] = AgendaInput{true, "1.1.2010", "31.12.2010", series};
  ASSERT_EQ(Send(page), RunOutcome::kDone);

  // Which company documents pass the filter.
  auto header_table = ParadoxTable::Open(company + "SDATA/S/SPFH.DB", OpenMode::kReadOnly);
  const int date = header_table->FieldIndex("KdyUskutUP");
  std::set<std::string> wanted;
  for (const Record& h : headers) {
    const auto* d = std::get_if<Date>(&h[static_cast<size_t>(date)]);
    if (std::get<std::string>(h[0]) == series && d && d->value >= from && d->value <= to)
      wanted.insert(std::get<std::string>(h[1]));
  }
  ASSERT_FALSE(wanted.empty());
  std::set<std::string> sent;
  for (const Record& h : Rows(batch() + "SPFH.DB")) sent.insert(std::get<std::string>(h[1]));
  EXPECT_EQ(sent, wanted);
  size_t items_wanted = 0;
  for (const Record& i : Rows(company + "SDATA/S/Spfp.DB"))
    items_wanted += std::get<std::string>(i[0]) == series && wanted.count(std::get<std::string>(i[1]));
  const auto items = Rows(batch() + "SPFP.DB");
  EXPECT_EQ(items.size(), items_wanted);
  for (const Record& i : items) EXPECT_TRUE(wanted.count(std::get<std::string>(i[1])));

  // The same send again changes nothing; with "empty first" only the new
  // selection is left.
  const auto before = Rows(batch() + "SPFH.DB");
  ASSERT_EQ(Send(page), RunOutcome::kDone);
  EXPECT_EQ(Rows(batch() + "SPFH.DB"), before);
  SendPage other;
  other.empty_first = true;
  other.agendas["Banka"].ticked = true;
  ASSERT_EQ(Send(other), RunOutcome::kDone);
  EXPECT_TRUE(Rows(batch() + "SPFH.DB").empty());
  EXPECT_FALSE(Rows(batch() + "CBanka.DB").empty());
}

// The rows of an item table that belong to one document (series, number).
size_t ItemsOf(const std::string& table, const std::string& series, const std::string& number) {
  size_t count = 0;
  for (const Record& i : Rows(table))
    count += std::get<std::string>(i[0]) == series && std::get<std::string>(i[1]) == number;
  return count;
}

// Moves the date of one invoice header by `days`; returns its old date.
double RedateHeader(const std::string& table_path, const std::string& series,
                    const std::string& number, double days) {
  auto table = ParadoxTable::Open(table_path, OpenMode::kExclusive);
  const int date = table->FieldIndex("KdyUskutUP");
  const auto at = table->Find(Record{series, number});
  EXPECT_TRUE(at.has_value());
  const double old = std::get<Date>(table->ReadField(*at, date)).value;
  table->UpdateFields(*at, {{date, Date{old + days}}});
  return old;
}

std::string DateText(double date_time) {
  const CivilDate d = DateFromDateTime(date_time);
  return std::to_string(d.day) + "." + std::to_string(d.month) + "." + std::to_string(d.year);
}

// An invoice of the branch that has items, as (series, number).
std::pair<std::string, std::string> InvoiceWithItems(const std::string& company) {
  const Record item = Rows(company + "SDATA/S/Spfp.DB").front();
  return {std::get<std::string>(item[0]), std::get<std::string>(item[1])};
}

TEST_F(TransferRun, OverwriteWithADateRangeKeepsTheItemsOfDocumentsItDoesNotReplace) {
  // The target holds a document whose header passes the date range while
  // the source's version of it, re-dated, does not: the header is not
  // replaced, so neither may its items be deleted.
  const std::string branch = CompanyFolder(kBranch);
  const auto [series, number] = InvoiceWithItems(branch);
  const size_t items = ItemsOf(branch + "SDATA/S/Spfp.DB", series, number);
  ASSERT_GT(items, 0u);
  Initialise(kBranch);
  SendPage all;
  all.agendas["PF"].ticked = true;
  ASSERT_EQ(Send(all), RunOutcome::kDone);
  ReceivePage into_head;
  into_head.agendas["PF"].ticked = true;
  ASSERT_EQ(Receive(into_head), RunOutcome::kDone);
  const std::string head = CompanyFolder(kHead);
  ASSERT_EQ(ItemsOf(head + "SDATA/S/Spfp.DB", series, number), items);

  // Receive: the batch's version lies a month after the range's end.
  const double date = RedateHeader(batch() + "SPFH.DB", series, number, 33);
  ReceivePage receive;
  receive.overwrite = true;
  receive.agendas["PF"] = AgendaInput{true, "", DateText(date), ""};
  ASSERT_EQ(Receive(receive), RunOutcome::kDone) << last_boxes.back().text;
  EXPECT_EQ(ItemsOf(head + "SDATA/S/Spfp.DB", series, number), items);
  EXPECT_EQ(ItemsOf(batch() + "SPFP.DB", series, number), items);

  // Send: the company's version now lies outside the range the batch's
  // version passes.
  RedateHeader(batch() + "SPFH.DB", series, number, -33);
  RedateHeader(branch + "SDATA/S/SPFH.DB", series, number, 33);
  SendPage send;
  send.overwrite = true;
  send.agendas["PF"] = AgendaInput{true, "", DateText(date), ""};
  ASSERT_EQ(Send(send), RunOutcome::kDone) << last_boxes.back().text;
  EXPECT_EQ(ItemsOf(batch() + "SPFP.DB", series, number), items);

  // Documents the range does take are still replaced with all their items.
  send.agendas["PF"] = AgendaInput{true, "", "", ""};
  ASSERT_EQ(Send(send), RunOutcome::kDone) << last_boxes.back().text;
  EXPECT_EQ(Rows(batch() + "SPFP.DB").size(), Rows(branch + "SDATA/S/Spfp.DB").size());
}

TEST_F(TransferRun, ARunKilledHalfWayIsUndoneBeforeTheNextRunReadsTheData) {
  Initialise(kBranch);
  const auto before = Snapshot(BatchPath());
  {
    // A send that dies after writing: its journal is left behind.
    RunJournal journal(BatchPath());
    journal.Touch(PathFromUtf8(batch() + "SPFH.DB"));
    test::WriteFileBytes(PathFromUtf8(batch() + "SPFH.DB"), "half written");
    journal.Settle();
    fs::copy(PathFromUtf8(batch() + ".dalimor-journal"), dir.path() / "left",
             fs::copy_options::recursive);
    journal.Commit();
    fs::rename(dir.path() / "left", PathFromUtf8(batch() + ".dalimor-journal"));
  }
  ReceivePage receive;
  receive.agendas["PF"].ticked = true;
  EXPECT_EQ(Receive(receive), RunOutcome::kDone) << last_boxes.back().text;
  EXPECT_EQ(Snapshot(BatchPath()), before);
}

TEST_F(TransferRun, RefusalsTouchNothing) {
  ReceivePage receive;
  receive.agendas = AllAgendas();
  // No batch at all.
  EXPECT_EQ(Receive(receive), RunOutcome::kBatchIncomplete);
  EXPECT_EQ(last_boxes.back().text, "Soubory pro import dat nejsou k dispozici.");
  // Nothing ticked.
  SendPage nothing;
  EXPECT_EQ(Send(nothing), RunOutcome::kNoAgenda);
  EXPECT_EQ(last_boxes.back().text, "Ve výběru pro odeslání není obsažena žádná agenda.");
  EXPECT_TRUE(fs::is_empty(BatchPath()));
}

// Replaces a batch table by one with the fields `change` makes of its own,
// holding its rows (a field they lack stays NULL): a damaged or crafted
// header as another person could leave it in the transfer folder.
void RewriteTable(const std::string& path,
                  const std::function<void(std::vector<FieldDef>&)>& change) {
  std::vector<FieldDef> fields;
  std::vector<Record> rows;
  int keys = 0;
  {
    const auto old = ParadoxTable::Open(path, OpenMode::kReadOnly);
    fields = old->fields();
    rows = old->ReadAll();
    keys = old->key_field_count();
  }
  std::vector<FieldDef> changed = fields;
  change(changed);
  const fs::path table = PathFromUtf8(path);
  ASSERT_GT(DeleteFilesByMask(Utf8FromPath(table.parent_path()), Utf8FromPath(table.stem()) + ".*"),
            0);
  const auto rewritten = ParadoxTable::Create(path, changed, keys);
  for (const Record& row : rows) {
    Record values(changed.size());
    for (size_t i = 0; i < changed.size(); ++i)
      for (size_t j = 0; j < fields.size(); ++j)
        if (fields[j].name == changed[i].name) values[i] = row[j];
    rewritten->Insert(values);
  }
}

// A batch header is read before it goes into a statement: a field name
// that would change the statement, and a field the company cannot take,
// refuse the receive naming the batch file; the company is as it was.  A
// field the batch lacks, or spelled in another case, still receives.
TEST_F(TransferRun, CraftedOrDamagedBatchHeadersAreRefusedNamingTheBatchFile) {
  Initialise(kBranch);
  SendPage send;
  send.agendas = AllAgendas();
  ASSERT_EQ(Send(send), RunOutcome::kDone);
  const std::string table = batch() + "SPFH.DB";
  const std::string head = CompanyFolder(kHead);
  fs::copy(BatchPath(), dir.path() / "sent", fs::copy_options::recursive);
  const auto add = [](std::string name) {
    return [name](std::vector<FieldDef>& fields) {
      fields.push_back({name, FieldType::kAlpha, 10});
    };
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<FieldDef>&)> change;
    std::vector<std::string> message;  // parts of the error; empty: received
  };
  const Case cases[] = {
      {"a name closing the column list", add("DoklSRada) SELECT 1 --"),
       {"Invalid field name.", "Field: DoklSRada) SELECT 1 --", "Table: " + table}},
      {"a name with a comma", add("Text, DoklSRada"),
       {"Invalid field name.", "Table: " + table}},
      {"a name with a control character", add("Text\x02"),
       {"Invalid field name.", "Field: Text#2", "Table: " + table}},
      {"a field the company lacks", add("Schvalil"),
       {"Field not found in table.", "Field: Schvalil", "The field is in " + table}},
      {"a field the batch lacks",
       [](std::vector<FieldDef>& fields) {
         std::erase_if(fields, [](const FieldDef& f) { return f.name == "Poznamka"; });
       },
       {}},
      {"a name in another case",
       [](std::vector<FieldDef>& fields) {
         for (FieldDef& f : fields)
           if (f.name == "Text") f.name = "TEXT";
       },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(BatchPath());
    fs::copy(dir.path() / "sent", BatchPath(), fs::copy_options::recursive);
    RewriteTable(table, c.change);
    const auto before = Snapshot(head);
    ReceivePage receive;
    receive.agendas["PF"].ticked = true;
    receive.overwrite = true;
    const RunOutcome outcome = Receive(receive);
    ASSERT_FALSE(last_boxes.empty());
    const std::string& text = last_boxes.back().text;
    if (c.message.empty()) {
      EXPECT_EQ(outcome, RunOutcome::kDone) << text;
      continue;
    }
    EXPECT_EQ(outcome, RunOutcome::kFailed);
    for (const std::string& part : c.message) EXPECT_NE(text.find(part), std::string::npos) << text;
    EXPECT_NE(text.find("Data zůstala beze změny."), std::string::npos) << text;
    EXPECT_EQ(Snapshot(head), before);
  }
}

// The files of a snapshot with the update time of each Paradox header
// (offset 0x60, the wall clock's, not the run's) blanked.
std::map<std::string, std::string> WithoutUpdateTimes(std::map<std::string, std::string> files) {
  for (auto& [name, bytes] : files) {
    const std::string ext = fs::path(name).extension().string();
    const bool paradox = ext.size() >= 3 && (ext[1] == 'D' || ext[1] == 'd' || ext[1] == 'P' ||
                                              ext[1] == 'p' || ext[1] == 'X' || ext[1] == 'x' ||
                                              ext[1] == 'Y' || ext[1] == 'y');
    if (paradox && bytes.size() >= 0x64) bytes.replace(0x60, 4, 4, '\0');
  }
  return files;
}

// A receive from the batch's archive gives the head office exactly the
// files a receive from the folder gives (but for the headers' update times,
// which come from the wall clock), and leaves no temporary folder.
TEST_F(TransferRun, ReceiveFromTheArchiveEqualsReceiveFromTheFolder) {
  const std::string temporary = dir.File("tmp");
  fs::create_directories(temporary);
  test::ScopedEnvironmentVariable tmpdir("TMPDIR", temporary.c_str());
  Initialise(kBranch);
  SendPage send;
  send.agendas = AllAgendas();
  send.price_list_all = true;
  send.archive = true;
  ASSERT_EQ(Send(send), RunOutcome::kDone);
  const std::string archive = dir.File("Davka.zip");
  fs::rename(PathFromUtf8(batch() + "Přenos.zip"), PathFromUtf8(archive));

  const std::string head = CompanyFolder(kHead);
  const auto before = Snapshot(head);
  ReceivePage receive;
  receive.agendas = AllAgendas();
  receive.price_list_all = true;
  receive.archive = archive;
  ASSERT_EQ(Receive(receive), RunOutcome::kDone) << last_boxes.back().text;
  const auto from_archive = Snapshot(head);
  EXPECT_NE(from_archive, before);
  EXPECT_TRUE(fs::is_empty(temporary));

  // The same from the folder, on the data as they were.
  for (const auto& [name, bytes] : before)
    test::WriteFileBytes(PathFromUtf8(head) / PathFromUtf8(name), bytes);
  for (const auto& [name, bytes] : from_archive)
    if (!before.count(name)) fs::remove(PathFromUtf8(head) / PathFromUtf8(name));
  receive.archive.clear();
  ASSERT_EQ(Receive(receive), RunOutcome::kDone);
  EXPECT_TRUE(WithoutUpdateTimes(Snapshot(head)) == WithoutUpdateTimes(from_archive));
}

TEST_F(TransferRun, ARefusedOrStoppedArchiveReceiveWritesNothing) {
  const std::string temporary = dir.File("tmp");
  fs::create_directories(temporary);
  test::ScopedEnvironmentVariable tmpdir("TMPDIR", temporary.c_str());
  Initialise(kBranch);
  SendPage send;
  send.agendas = AllAgendas();
  send.archive = true;
  ASSERT_EQ(Send(send), RunOutcome::kDone);
  const std::string archive = batch() + "Přenos.zip";
  const std::string head = CompanyFolder(kHead);
  const auto before = Snapshot(head);

  ReceivePage receive;
  receive.agendas = AllAgendas();
  // Cut short, the archive is refused before any question.
  const std::string bytes = test::ReadFileBytes(PathFromUtf8(archive));
  const std::string damaged = dir.File("damaged.zip");
  test::WriteFileBytes(damaged, bytes.substr(0, bytes.size() - 10));
  receive.archive = damaged;
  {
    test::ScriptedUi ui;
    RunReport report;
    RunEnvironment env = Environment(ui, kHead);
    env.report = &report;
    EXPECT_EQ(ReceiveBatch(env, receive), RunOutcome::kArchiveRefused);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("nelze přijmout"), std::string::npos) << ui.boxes[0].text;
    EXPECT_NE(ui.boxes[0].text.find("Data zůstala beze změny."), std::string::npos);
    EXPECT_EQ(report.outcome, RunOutcome::kArchiveRefused);
    EXPECT_EQ(report.error, ui.boxes[0].text);
    EXPECT_TRUE(report.counts.empty());
  }
  // Stopped while unpacking.
  receive.archive = archive;
  {
    test::ScriptedUi ui;
    ui.stop_requested = true;
    RunEnvironment env = Environment(ui, kHead);
    EXPECT_EQ(ReceiveBatch(env, receive), RunOutcome::kStopped);
  }
  // Answered No after unpacking.
  {
    test::ScriptedUi ui;
    ui.Answer(kIdNo);
    RunEnvironment env = Environment(ui, kHead);
    EXPECT_EQ(ReceiveBatch(env, receive), RunOutcome::kCancelled);
  }
  EXPECT_EQ(Snapshot(head), before);
  EXPECT_TRUE(fs::is_empty(temporary));
}

// The report of a run counts what each agenda wrote, as the tables show.
TEST_F(TransferRun, TheReportCountsTheDocumentsAndItemsEachAgendaWrote) {
  Initialise(kBranch);
  SendPage send;
  send.agendas = AllAgendas();
  send.price_list_all = true;
  RunReport sent;
  {
    test::ScriptedUi ui;
    ui.Answer(kIdYes);
    RunEnvironment env = Environment(ui, kBranch);
    env.report = &sent;
    ASSERT_EQ(SendBatch(env, send), RunOutcome::kDone);
  }
  EXPECT_EQ(sent.outcome, RunOutcome::kDone);
  EXPECT_EQ(sent.start.year, 2011);
  EXPECT_TRUE(sent.error.empty());
  ASSERT_EQ(sent.counts.size(), 10u);
  for (const Agenda& agenda : Agendas()) {
    const AgendaCounts& counts = sent.counts[std::string(agenda.code)];
    EXPECT_EQ(counts.documents,
              static_cast<int64_t>(Rows(batch() + std::string(agenda.header_table)).size()))
        << agenda.code;
    if (!agenda.item_table.empty()) {
      EXPECT_EQ(counts.items,
                static_cast<int64_t>(Rows(batch() + std::string(agenda.item_table)).size()))
          << agenda.code;
    }
    EXPECT_EQ(counts.replaced, 0);
  }

  // Sent again with overwrite: every document replaces itself.
  send.overwrite = true;
  RunReport again;
  {
    test::ScriptedUi ui;
    ui.Answer(kIdYes);
    RunEnvironment env = Environment(ui, kBranch);
    env.report = &again;
    ASSERT_EQ(SendBatch(env, send), RunOutcome::kDone);
  }
  EXPECT_EQ(again.counts["VF"].replaced, sent.counts["VF"].documents);
  EXPECT_EQ(again.counts["VF"].documents, sent.counts["VF"].documents);
  EXPECT_EQ(again.counts["Cenik"].documents, 0);  // every item was there already

  // A failed run counts nothing: everything was put back.
  ReceivePage receive;
  receive.agendas = AllAgendas();
  RunReport failed;
  {
    test::ScriptedUi ui;
    ui.Answer(kIdYes);
    ui.Answer(kIdYes);
    RunEnvironment env = Environment(ui, kHead);
    env.report = &failed;
    FailWriteAfter(3);
    EXPECT_EQ(ReceiveBatch(env, receive), RunOutcome::kFailed);
    FailWriteAfter(-1);
  }
  EXPECT_TRUE(failed.counts.empty());
  EXPECT_NE(failed.error.find("Při importu dat došlo k chybě"), std::string::npos) << failed.error;
}

}  // namespace
}  // namespace dalimor

namespace dalimor {
namespace {

size_t MemoRows(const std::string& folder) {
  return Rows(Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(folder), "LMemo.DB"))).size();
}

int64_t TextsOf(const RunPreview& preview) {
  int64_t texts = 0;
  for (const PreviewLine& line : preview.lines)
    if (line.rows == "texty") texts += line.added;
  return texts;
}

// The preview's counts are the report's counts, agenda by agenda.
void ExpectSameCounts(const RunPreview& preview, const RunReport& report, const std::string& what) {
  ASSERT_EQ(preview.counts.size(), report.counts.size()) << what;
  for (const auto& [code, counts] : report.counts) {
    const auto it = preview.counts.find(code);
    ASSERT_NE(it, preview.counts.end()) << what << " " << code;
    EXPECT_EQ(it->second.documents, counts.documents) << what << " " << code;
    EXPECT_EQ(it->second.replaced, counts.replaced) << what << " " << code;
    EXPECT_EQ(it->second.items, counts.items) << what << " " << code;
  }
}

}  // namespace

// A preview writes nothing, and what it counts is what the run then does,
// under several option sets of a send and of a receive in turn.
TEST_F(TransferRun, PreviewCountsWhatTheRunThenDoes) {
  Initialise(kBranch);
  const std::string branch = CompanyFolder(kBranch);
  const std::string head = CompanyFolder(kHead);
  struct SendCase {
    const char* name;
    std::function<void(SendPage&)> set;
  };
  const auto all = [](auto& page) { page.agendas = AllAgendas(); };
  const std::vector<SendCase> sends = {
      {"first send of everything", all},
      {"again, nothing new", all},
      {"again, overwriting, price list all", [&](SendPage& p) {
         all(p);
         p.overwrite = true;
         p.price_list_all = true;
       }},
      {"emptied first, a range and a series", [](SendPage& p) {
         p.agendas["VF"] = AgendaInput{true, "01.01.2010", "31.12.2010", ""};
         p.agendas["SklOper"].ticked = true;
         p.agendas["Cenik"].ticked = true;
         p.empty_first = true;
       }},
      {"everything on top of that", all},
  };
  for (const SendCase& c : sends) {
    SendPage page;
    c.set(page);
    test::ScriptedUi ui;
    ui.Answer(kIdYes);
    RunEnvironment env = Environment(ui, kBranch);
    const auto batch_before = Snapshot(batch());
    const auto branch_before = Snapshot(branch);
    const RunPreview preview = PreviewSend(env, page);
    ASSERT_TRUE(preview.refusal.empty()) << preview.refusal;
    EXPECT_EQ(Snapshot(batch()), batch_before) << c.name;
    EXPECT_EQ(Snapshot(branch), branch_before) << c.name;
    EXPECT_TRUE(ui.boxes.empty()) << c.name;
    const size_t memos = page.empty_first ? 0 : MemoRows(batch());
    RunReport report;
    env.report = &report;
    ASSERT_EQ(SendBatch(env, page), RunOutcome::kDone) << ui.boxes.back().text;
    ExpectSameCounts(preview, report, c.name);
    EXPECT_EQ(static_cast<int64_t>(MemoRows(batch()) - memos), TextsOf(preview)) << c.name;
  }

  struct ReceiveCase {
    const char* name;
    std::function<void(ReceivePage&)> set;
  };
  const std::vector<ReceiveCase> receives = {
      {"a range and a series, price list of the items", [](ReceivePage& p) {
         p.agendas["PF"] = AgendaInput{true, "01.01.2010", "", ""};
         p.agendas["VF"] = AgendaInput{true, "", "", "FV"};
         p.agendas["Cenik"].ticked = true;
       }},
      {"everything", all},
      {"everything again, overwriting, price list all", [&](ReceivePage& p) {
         all(p);
         p.overwrite = true;
         p.price_list_all = true;
       }},
  };
  for (const ReceiveCase& c : receives) {
    ReceivePage page;
    c.set(page);
    test::ScriptedUi ui;
    ui.Answer(kIdYes);
    ui.Answer(kIdYes);  // the batch comes from another company
    RunEnvironment env = Environment(ui, kHead);
    const auto head_before = Snapshot(head);
    const RunPreview preview = PreviewReceive(env, page);
    ASSERT_TRUE(preview.refusal.empty()) << preview.refusal;
    EXPECT_EQ(Snapshot(head), head_before) << c.name;
    const size_t memos = MemoRows(head + "LDATA/S/");
    RunReport report;
    env.report = &report;
    ASSERT_EQ(ReceiveBatch(env, page), RunOutcome::kDone) << ui.boxes.back().text;
    ExpectSameCounts(preview, report, c.name);
    EXPECT_EQ(static_cast<int64_t>(MemoRows(head + "LDATA/S/") - memos), TextsOf(preview))
        << c.name;
  }
}

// A preview refuses what the run would refuse, before reading a table.
TEST_F(TransferRun, PreviewRefusesWhatTheRunRefuses) {
  test::ScriptedUi ui;
  RunEnvironment env = Environment(ui, kHead);
  ReceivePage page;
  page.agendas = AllAgendas();
  EXPECT_EQ(PreviewReceive(env, page).refusal, "Soubory pro import dat nejsou k dispozici.");
  env.transfer_folder = CompanyFolder(kBranch);
  EXPECT_EQ(PreviewReceive(env, page).refusal, kMsgAccountingFolder);
  SendPage send;
  send.agendas = AllAgendas();
  EXPECT_EQ(PreviewSend(env, send).refusal, kMsgAccountingFolder);
  // Not while a run works on the folders.
  env.transfer_folder = batch();
  std::optional<FolderLock> held = FolderLock::TryAcquire(CompanyFolder(kHead), "příjem dávky");
  ASSERT_TRUE(held);
  const std::string busy = PreviewSend(env, send).refusal;
  EXPECT_NE(busy.find("příjem dávky"), std::string::npos) << busy;
  EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace dalimor
