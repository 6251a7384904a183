// A run killed earlier, seen from the window: its tables are put back when
// the program starts; a table changed since is the user's to decide, at
// start-up or when a run is asked for.

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "app/qt_text.h"
#include "engine/paradox/table.h"
#include "engine/run_journal.h"
#include "tests/app/app_test_support.h"
#include "tests/support/test_support.h"

namespace dalimor::apptest {

namespace {

namespace fs = std::filesystem;

std::string Branch(const WindowFixture& fixture) { return fixture.installation() + "/DATA/BRNO/"; }
std::string Headers(const WindowFixture& fixture) { return Branch(fixture) + "SDATA/S/SPFH.DB"; }

// One more invoice header, as Kalmeo would add it.
void AddHeader(const std::string& table_path, const std::string& number) {
  auto table = ParadoxTable::Open(table_path, OpenMode::kExclusive);
  Record row = table->Read(*table->First());
  std::get<std::string>(row[1]) = number;
  table->Insert(row);
}

uint32_t Count(const std::string& table_path) {
  return ParadoxTable::Open(table_path, OpenMode::kReadOnly)->record_count();
}

// Leaves the journal of a receive that was killed after adding a header;
// with `later_work`, another header is added afterwards, as if typed into
// Kalmeo after the crash.
void LeaveKilledRun(const WindowFixture& fixture, bool later_work) {
  const fs::path journal = fs::path(Branch(fixture)) / kJournalFolderName;
  const fs::path kept = fs::path(fixture.Path("kept-journal"));
  {
    RunJournal run(Branch(fixture));
    run.Touch(Headers(fixture));
    AddHeader(Headers(fixture), "77777777777");
    run.Settle();
    fs::copy(journal, kept, fs::copy_options::recursive);
    run.Commit();
  }
  fs::rename(kept, journal);
  if (later_work) AddHeader(Headers(fixture), "88888888888");
}

}  // namespace

class RecoveryTest : public QObject {
  Q_OBJECT

 private slots:
  void UntouchedTablesArePutBackAtStartUpWithoutAQuestion() {
    WindowFixture fixture(true);
    const uint32_t before = Count(Headers(fixture));
    LeaveKilledRun(fixture, false);
    fixture.Open();
    QVERIFY(fixture.boxes.shown.empty());
    QCOMPARE(Count(Headers(fixture)), before);
    QVERIFY(!fs::exists(fs::path(Branch(fixture)) / kJournalFolderName));
  }

  void ChangedTablesAreTheUsersToDecide_data() {
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("headers");  // added to the table before the killed run
    QTest::addColumn<bool>("journal_left");
    QTest::newRow("restore") << kIdYes << 0 << 0 << false;
    QTest::newRow("keep as is") << kIdNo << kIdYes << 2 << false;
    QTest::newRow("later") << kIdNo << kIdNo << 2 << true;
  }

  void ChangedTablesAreTheUsersToDecide() {
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(int, headers);
    QFETCH(bool, journal_left);
    WindowFixture fixture(true);
    const uint32_t before = Count(Headers(fixture));
    LeaveKilledRun(fixture, true);
    fixture.boxes.Answer(first);
    if (second) fixture.boxes.Answer(second);
    TfmMain& window = fixture.Open();
    QVERIFY(!fixture.boxes.shown.empty());
    const ShownBox& asked = fixture.boxes.shown.front();
    QVERIFY(asked.text.find("SPFH.DB") != std::string::npos);
    QVERIFY(asked.text.find("Chcete obnovit tabulky") != std::string::npos);
    QCOMPARE(asked.buttons, kMbYesNoDefaultNo);
    QCOMPARE(Count(Headers(fixture)), before + static_cast<uint32_t>(headers));
    QCOMPARE(fs::exists(fs::path(Branch(fixture)) / kJournalFolderName), journal_left);
    if (!journal_left) return;

    // Undecided: a send asks again before it starts, and starts nothing.
    const std::string folder = fixture.MakeFolder("prenos");
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
    Settle();
    window.send_page()->IncludeBox("PF")->setChecked(true);
    fixture.boxes.shown.clear();
    fixture.boxes.Answer(kIdNo);
    fixture.boxes.Answer(kIdNo);
    QTest::mouseClick(window.send_page()->run_button(), Qt::LeftButton);
    Settle();
    QCOMPARE(fixture.boxes.shown.size(), size_t{2});
    QVERIFY(fixture.boxes.shown[0].text.find("Chcete obnovit tabulky") != std::string::npos);
    QVERIFY(fs::is_empty(folder));
  }
};

DALIMOR_REGISTER_SUITE(RecoveryTest);

}  // namespace dalimor::apptest

#include "recovery_test.moc"
