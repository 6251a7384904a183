#include "app/main_window.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QFileDialog>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QEventLoop>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <array>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

#include "app/about_box.h"
#include "app/batch_viewer_window.h"
#include "app/error_report.h"
#include "app/folder_dialog.h"
#include "app/guarded_tab_bar.h"
#include "app/help_window.h"
#include "app/history_window.h"
#include "app/path_label.h"
#include "app/qt_text.h"
#include "app/status_line.h"
#include "app/window_state.h"
#include "batch/batch_viewer.h"
#include "batch/initialisation.h"
#include "batch/run_folders.h"
#include "engine/engine_error.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/native_io.h"
#include "transfer/runs.h"
#include "util/date_entry.h"

namespace dalimor {
namespace {

// The progress bar's units in one step of a run.
constexpr int kProgressPerStep = 100;

constexpr int kDefaultLeft = 20;
constexpr int kDefaultTop = 20;
constexpr int kDefaultWidth = 474;
constexpr int kDefaultHeight = 587;
constexpr int kMinimumWidth = 469;
constexpr int kMinimumHeight = 587;

constexpr const char* kMsgNoKalmeoData = "Data programu Kalmeo nejsou k dispozici.";
constexpr const char* kMsgDirectoryControlled =
    "Data programu nelze připojit. Pravděpodobně je spuštěn program Kalmeo.\r\nPokud ano, "
    "ukončete Kalmeo a spusťte program Dalimor znovu.";
constexpr const char* kLangDriverNotice =
    "Nastavení prostředí BDE\r\n\r\nPARADOX\\LANGDRIVER=%s\r\npro správnou funkci programu je "
    "potřeba nastavit parametr PARADOX\\LANGDRIVER='anczechw'\r\n\r\nProgram provede toto "
    "nastavení za vás a ukončí se. Aby se změna projevila, ukončete také všechny ostatní BDE - "
    "databázové programy.\r\nPoté můžete program spustit znovu.";
constexpr std::string_view kDirectoryControlledPrefix = "Directory is controlled";

// HideDoneMarks walks the marks in this order on each page.
constexpr std::array<std::string_view, kAgendaCount> kHideOrder = {
    "Pokl", "Banka", "IntDokl", "PZ", "Denik", "PF", "VF", "SklOper", "Obj", "Cenik"};

QLabel* NamedLabel(const char* name, const QString& text) {
  auto* label = new QLabel(text);
  label->setObjectName(name);
  return label;
}

}  // namespace

TfmMain::TfmMain(AppOptions options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      ui_(*this, options_.message_boxes ? *options_.message_boxes
                                        : static_cast<MessageBoxPresenter&>(qt_boxes_)),
      clock_(options_.clock ? options_.clock : &system_clock_),
      config_(options_.engine_config_path.empty() ? DefaultEngineConfigPath()
                                                  : options_.engine_config_path),
      register_(options_.executable_folder) {
  setObjectName("fmMain");
  BuildWindow();
  qApp->installEventFilter(this);
  FormCreate();
  // The request does not cut start-up short; the window closes as soon as
  // the event loop runs, and the shut-down then stores the state as usual.
  if (termination_requested_) QTimer::singleShot(0, this, &QWidget::close);
}

TfmMain::~TfmMain() {
  qApp->removeEventFilter(this);
  if (!shut_down_) {
    try {
      FormDestroy();
    } catch (const std::exception&) {
      // Nothing can be shown any more while the window goes.
    }
  }
}

// ---------------------------------------------------------------------------
// The window

void TfmMain::BuildWindow() {
  setWindowTitle(QString::fromUtf8(kApplicationTitle.data(),
                                   static_cast<qsizetype>(kApplicationTitle.size())));
  // System menu and minimise, no maximise; the frame stays resizable.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setMinimumSize(kMinimumWidth, kMinimumHeight);

  // Menu.
  QMenu* file_menu = menuBar()->addMenu(QStringLiteral("Soubor"));
  file_menu->setObjectName("miSoubor");
  QAction* settings_item = file_menu->addAction(QStringLiteral("Nastavení"));
  settings_item->setObjectName("miNastaveni");
  QAction* send_item = file_menu->addAction(QStringLiteral("Odeslání"));
  send_item->setObjectName("miOdeslani");
  QAction* receive_item = file_menu->addAction(QStringLiteral("Příjem"));
  receive_item->setObjectName("miPrijem");
  file_menu->addSeparator();
  QAction* history_item = file_menu->addAction(QStringLiteral("&Historie přenosů"));
  history_item->setObjectName("miHistorie");
  file_menu->addSeparator();
  QAction* quit_item = file_menu->addAction(QStringLiteral("Konec"));
  quit_item->setObjectName("miKonec");
  QMenu* help_menu = menuBar()->addMenu(QStringLiteral("Nápověda"));
  help_menu->setObjectName("miNapoveda");
  QAction* help_item = help_menu->addAction(QStringLiteral("Obsah a rejstřík"));
  help_item->setObjectName("miHelp");
  help_item->setShortcut(QKeySequence(Qt::Key_F1));
  help_item->setShortcutContext(Qt::WindowShortcut);
  QAction* about_item = help_menu->addAction(QStringLiteral("O aplikaci"));
  about_item->setObjectName("miAbout");

  // Pages, one visible at a time, and the tab set below them.
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  settings_page_ = BuildSettingsPage();
  send_page_ = new AgendaPage(PageKind::kSend);
  receive_page_ = new AgendaPage(PageKind::kReceive);
  layout->addWidget(settings_page_, 1);
  layout->addWidget(send_page_, 1);
  layout->addWidget(receive_page_, 1);
  send_page_->hide();
  receive_page_->hide();

  tab_bar_ = new GuardedTabBar;
  tab_bar_->setObjectName("TabSet1");
  tab_bar_->setShape(QTabBar::RoundedSouth);
  tab_bar_->setExpanding(false);
  tab_bar_->setDrawBase(true);
  tab_bar_->addTab(QStringLiteral("&Nastavení"));
  tab_bar_->addTab(QStringLiteral("&Odeslání"));
  tab_bar_->addTab(QStringLiteral("&Příjem"));
  tab_bar_->SetGuard([this](int index) { return TabSet1Change(index); });
  auto* tabs = new QHBoxLayout;
  tabs->setContentsMargins(4, 0, 4, 0);
  tabs->addWidget(tab_bar_);
  tabs->addStretch(1);
  layout->addLayout(tabs);
  setCentralWidget(central);

  progress_ = new QProgressBar;
  progress_->setObjectName("pbPrubeh");
  progress_->setMaximumWidth(120);
  progress_->setMaximumHeight(14);
  progress_->setTextVisible(true);
  progress_->hide();
  setStatusBar(new StatusLine);
  statusBar()->setObjectName("StatusBar1");
  statusBar()->setSizeGripEnabled(true);
  statusBar()->addPermanentWidget(progress_);
  // Stops the running send or receive at its next safe point; everything it
  // did is put back.
  stop_button_ = new QPushButton(QStringLiteral("&Zastavit"));
  stop_button_->setObjectName("btZastavit");
  stop_button_->setToolTip(QStringLiteral("Zastavit probíhající akci. Data zůstanou beze změny."));
  stop_button_->hide();
  statusBar()->addPermanentWidget(stop_button_);
  connect(stop_button_, &QPushButton::clicked, this, [this] {
    ui_.RequestStop();
    stop_button_->setEnabled(false);
  });

  connect(settings_item, &QAction::triggered, this, [this] { tab_bar_->RequestIndex(0); });
  connect(send_item, &QAction::triggered, this, [this] { tab_bar_->RequestIndex(1); });
  connect(receive_item, &QAction::triggered, this, [this] { tab_bar_->RequestIndex(2); });
  connect(quit_item, &QAction::triggered, this, &QWidget::close);
  connect(help_item, &QAction::triggered, this, [this] { Guarded([this] { miHelpClick(); }); });
  connect(about_item, &QAction::triggered, this, [this] { Guarded([this] { miAboutClick(); }); });
  connect(history_item, &QAction::triggered, this,
          [this] { Guarded([this] { miHistorieClick(); }); });
  connect(receive_page_, &AgendaPage::ArchiveButtonClicked, this,
          [this] { Guarded([this] { btArchivPClick(); }); });

  for (AgendaPage* page : {send_page_, receive_page_}) {
    connect(page, &AgendaPage::Changed, this, [this] { HideDoneMarks(); });
    connect(page, &AgendaPage::DateBoxLeft, this,
            [this](QLineEdit* box) { Guarded([this, box] { UdajeExit(box); }); });
  }
  connect(receive_page_, &AgendaPage::CountLabelClicked, this,
          [this](const QString& name) { Guarded([this, name] { laPocClick(name); }); });
  connect(send_page_->run_button(), &QPushButton::clicked, this,
          [this] { Guarded([this] { btOdeslatClick(); }); });
  connect(receive_page_->run_button(), &QPushButton::clicked, this,
          [this] { Guarded([this] { btPrijmoutClick(); }); });
  connect(send_page_->preview_button(), &QPushButton::clicked, this,
          [this] { Guarded([this] { btNahledClick(true); }); });
  connect(receive_page_->preview_button(), &QPushButton::clicked, this,
          [this] { Guarded([this] { btNahledClick(false); }); });
}

QWidget* TfmMain::BuildSettingsPage() {
  auto* page = new QWidget;
  page->setObjectName("paNastaveni");
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(8, 6, 8, 6);
  layout->setSpacing(6);

  QLabel* title = NamedLabel("Label1", QStringLiteral("Nastavení přenosu"));
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  layout->addWidget(title);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(6);
  grid->addWidget(NamedLabel("Label2", QStringLiteral("Umístění dat programu Kalmeo:")), 0, 0);
  data_location_ = new PathLabel;
  data_location_->setObjectName("laUmisteniDat");
  grid->addWidget(data_location_, 0, 1, 1, 2);
  grid->addWidget(NamedLabel("Label48", QStringLiteral("Umístění dat firmy:")), 1, 0);
  company_location_ = new PathLabel;
  company_location_->setObjectName("laUmisteniDatFirmy");
  grid->addWidget(company_location_, 1, 1, 1, 2);

  grid->addWidget(NamedLabel("Label3", QStringLiteral("Název firmy:")), 2, 0);
  companies_ = new QComboBox;
  companies_->setObjectName("cbFirmy");
  companies_->setEditable(false);
  SetHint(companies_,
          "Název firmy. Seznam se automaticky načítá ze Správce firem programu Kalmeo.");
  grid->addWidget(companies_, 2, 1, 1, 2);

  grid->addWidget(NamedLabel("Label4", QStringLiteral("Přenosná složka:")), 3, 0);
  transfer_folder_ = new QComboBox;
  transfer_folder_->setObjectName("cbPrenosSlozka");
  transfer_folder_->setEditable(true);
  // A long path shows its start and its end, in the box and in the list.
  transfer_folder_->setLineEdit(new PathLineEdit);
  transfer_folder_->view()->setTextElideMode(Qt::ElideMiddle);
  // Typing a folder does not add it to the history; only browsing does.
  transfer_folder_->setInsertPolicy(QComboBox::NoInsert);
  transfer_folder_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  transfer_folder_->setMinimumContentsLength(10);
  SetHint(transfer_folder_, "Složka pro odeslání/příjem dávky z/do programu Kalmeo.");
  transfer_folder_->installEventFilter(this);
  if (transfer_folder_->lineEdit()) transfer_folder_->lineEdit()->installEventFilter(this);
  // The box has the whole width beside the labels; its buttons stand below.
  grid->addWidget(transfer_folder_, 3, 1, 1, 2);
  auto* browse = new QPushButton(QStringLiteral("P&rocházet"));
  browse->setObjectName("btProchazet");
  SetHint(browse, "Vyberte složku pro odeslání/příjem dávky z/do programu Kalmeo.");
  auto* initialise = new QPushButton(QStringLiteral("Ini&cializovat"));
  initialise->setObjectName("btInicializovat");
  SetHint(initialise, "Inicializovat soubory v přenosné složce (přepíše existující).");
  auto* folder_buttons = new QHBoxLayout;
  folder_buttons->setSpacing(6);
  folder_buttons->addStretch(1);
  folder_buttons->addWidget(browse);
  folder_buttons->addWidget(initialise);
  grid->addLayout(folder_buttons, 4, 1, 1, 2);
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);

  auto* archive_group = new QGroupBox(QStringLiteral(" Archivace dávky "));
  archive_group->setObjectName("Label49");
  auto* archive_layout = new QVBoxLayout(archive_group);
  archive_ = new QCheckBox(QStringLiteral("Po odeslání zkomprimovat dávku do archivu zip"));
  archive_->setObjectName("ckVytvoritArchiv");
  SetHint(archive_,
          "Po odeslání zkomprimovat dávku do archivu zip. Soubor se vytvoří v přenosné "
          "složce.");
  archive_layout->addWidget(archive_);
  layout->addWidget(archive_group);
  layout->addStretch(1);

  connect(companies_, &QComboBox::activated, this,
          [this](int index) { Guarded([this, index] { cbFirmyChange(index); }); });
  connect(browse, &QPushButton::clicked, this, [this] { Guarded([this] { btProchazetClick(); }); });
  connect(initialise, &QPushButton::clicked, this,
          [this] { Guarded([this] { btInicializovatClick(); }); });
  return page;
}

template <typename Handler>
void TfmMain::Guarded(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ReportError(ui_, e.what());
  }
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

void TfmMain::FormCreate() {
  BusyCursorScope busy(ui_);
  try {
    state_ini_ = std::make_unique<IniFile>(
        PrepareStateFile(options_.state_file, options_.earlier_state_file));
    LoadComboHistory(*state_ini_, *transfer_folder_, kFolderHistorySection, kFolderHistoryKey);
    LoadFormState();

    const std::string installation = register_.InstallationFolder();
    try {
      if (!installation.empty()) register_.Open();
      if (register_.IsOpen()) FillCompanyList();
    } catch (const EngineError& e) {
      if (std::string_view(e.what()).substr(0, kDirectoryControlledPrefix.size()) ==
          kDirectoryControlledPrefix) {
        MsgWarning(ui_, kMsgCaption, kMsgDirectoryControlled);
        termination_requested_ = true;
      }
      // Any other engine error leaves the register as it is; the working
      // pages then refuse for want of company data.
    }

    if (register_.IsOpen()) {
      const std::string driver = ReadEngineConfigEntry(config_, kLangDriverParameter);
      if (driver != kCzechLangDriver) {
        if (MsgInfo(ui_, ToStd(windowTitle()), FillTemplate(kLangDriverNotice, driver)) == kIdOk) {
          WriteEngineConfigEntry(config_, kLangDriverParameter, kCzechLangDriver);
          termination_requested_ = true;
        }
      }
      RecoverInterruptedRuns();
      if (TransferFolderExists()) FillSeries(true);
      PullSeries();
      RestoreSeriesChoices(series_, *state_ini_);
      PushSeries();
    }
    UpdateTitle();
    UpdateLocationLabels();
    ReadBatchInfoIntoPage();
  } catch (const std::exception& e) {
    // The window opens with what the completed steps set up.
    ReportError(ui_, e.what());
  }
  ShowPage(true, false, false);
  done_marks_shown_ = false;
}

void TfmMain::FormDestroy() {
  shut_down_ = true;
  BusyCursorScope busy(ui_);
  if (help_window_) help_window_->close();
  if (state_ini_) {
    SaveFormState();
    SaveComboHistory(*state_ini_, *transfer_folder_, kFolderHistorySection, kFolderHistoryKey);
  }
  state_ini_.reset();
  register_.Close();
}

void TfmMain::closeEvent(QCloseEvent* event) {
  // A run keeps the window until it has finished; the user may stop it,
  // and the window closes once the run has put everything back.
  if (run_active_) {
    event->ignore();
    if (run_stoppable_ && !ui_.StopRequested() &&
        MsgQuestion(ui_, kMsgCaption,
                    "Probíhá přenos dat. Chcete jej zastavit? Data zůstanou beze změny.",
                    kMbYesNoDefaultNo) == kIdYes) {
      ui_.RequestStop();
      stop_button_->setEnabled(false);
      close_after_run_ = true;
    }
    return;
  }
  if (!shut_down_) {
    try {
      FormDestroy();
    } catch (const std::exception& e) {
      ReportError(ui_, e.what());
    }
  }
  event->accept();
}

void TfmMain::RecoverInterruptedRuns() {
  const std::string company = register_.CompanyDataAvailable() ? register_.CompanyDataFolder() : "";
  const std::string folder = TransferFolderExists() ? TransferFolderPath() : "";
  // The locks go when this returns; a folder another Dalimor works on is
  // that program's to look after.
  const RunFolders folders = PrepareRunFolders(company, folder, "spuštění programu Dalimor");
  if (folders.state == FoldersState::kFailed) MsgWarning(ui_, kMsgCaption, folders.message);
  if (folders.state == FoldersState::kDecisionPending) AskAboutPendingJournals(ui_, folders.pending);
}

bool TfmMain::PendingJournalsSettled() {
  std::vector<std::string> pending;
  for (const std::string& folder : {register_.CompanyDataFolder(), TransferFolderPath()}) {
    try {
      if (!folder.empty() && InspectJournal(PathFromUtf8(folder)).pending)
        pending.push_back(folder);
    } catch (const std::exception&) {
      pending.push_back(folder);  // a damaged journal is the user's to decide as well
    }
  }
  return pending.empty() || AskAboutPendingJournals(ui_, pending);
}

void TfmMain::FillCompanyList() {
  const std::string remembered = state_ini_->ReadString(kDataConnectSection, kCompanyNameKey, "");
  int selected = -1;
  const std::vector<std::string> items = register_.FillCompanyList(remembered, &selected);
  companies_->clear();
  for (const std::string& item : items) companies_->addItem(ToQt(item));
  companies_->setCurrentIndex(selected);
}

void TfmMain::LoadFormState() {
  const IniFile& ini = *state_ini_;
  move(ini.ReadInteger(kFormSection, "L", kDefaultLeft),
       ini.ReadInteger(kFormSection, "T", kDefaultTop));
  resize(ini.ReadInteger(kFormSection, "W", kDefaultWidth),
         ini.ReadInteger(kFormSection, "H", kDefaultHeight));
  archive_->setChecked(ini.ReadBool(kDataConnectSection, kArchiveKey, false));
  LoadPageState(ini, *send_page_);
  LoadPageState(ini, *receive_page_);
}

void TfmMain::SaveFormState() {
  IniFile& ini = *state_ini_;
  // The size is read at start-up but never written back.
  ini.WriteInteger(kFormSection, "L", pos().x());
  ini.WriteInteger(kFormSection, "T", pos().y());
  ini.WriteString(kDataConnectSection, kCompanyNameKey,
                  register_.IsOpen() ? register_.ActiveDesignation() : std::string());
  ini.WriteBool(kDataConnectSection, kArchiveKey, archive_->isChecked());
  SavePageState(ini, *send_page_);
  SavePageState(ini, *receive_page_);
}

void TfmMain::UpdateTitle() {
  setWindowTitle(ToQt(WindowTitle(register_.ActiveDesignation())));
}

void TfmMain::UpdateLocationLabels() {
  data_location_->SetPath(ToQt(register_.DataLocationCaption()));
  company_location_->SetPath(ToQt(register_.CompanyDataFolder()));
}

void TfmMain::ReadBatchInfoIntoPage() {
  const std::string folder = TransferFolderPath();
  if (folder.empty()) {
    // Without a folder there is no batch to describe.
    BatchInfo empty;
    empty.counts.fill("0");
    receive_page_->ShowBatchInfo(empty);
    return;
  }
  receive_page_->ShowBatchInfo(ReadBatchInfo(folder));
}

// ---------------------------------------------------------------------------
// Pages

std::string TfmMain::TransferFolderPath() const {
  return dalimor::TransferFolderPath(ToStd(transfer_folder_->currentText()));
}

bool TfmMain::TransferFolderExists() const {
  const std::string folder = TransferFolderPath();
  return !folder.empty() && DirectoryExists(folder);
}

bool TfmMain::TabSet1Change(int new_tab) {
  if (run_active_) return false;
  try {
    if (new_tab == 0) {
      ShowPage(true, false, false, companies_);
      return true;
    }
    const char* refusal = nullptr;
    const std::string folder = TransferFolderPath();
    if (!register_.CompanyDataAvailable())
      refusal = kMsgNoKalmeoData;
    else if (folder.empty())
      refusal = kMsgEnterFolder;
    else if (!DirectoryExists(folder))
      refusal = kMsgFolderMissing;
    if (refusal) {
      MsgInfo(ui_, kMsgCaption, refusal);
      return false;
    }
    if (new_tab == 1) {
      ShowPage(false, true, false, send_page_->all_agendas());
    } else {
      ReadBatchInfoIntoPage();
      ShowPage(false, false, true, receive_page_->all_agendas());
    }
    return true;
  } catch (const std::exception& e) {
    ReportError(ui_, e.what());
    return false;
  }
}

void TfmMain::ShowPage(bool settings, bool send, bool receive, QWidget* focus) {
  const std::array<std::pair<QWidget*, bool>, 3> pages = {
      {{settings_page_, settings}, {send_page_, send}, {receive_page_, receive}}};
  for (const auto& [page, visible] : pages)
    if (visible) page->setVisible(true);
  // The focus moves before the old page goes, so that it never passes
  // through the controls of the page being hidden.
  if (focus) focus->setFocus(Qt::OtherFocusReason);
  for (const auto& [page, visible] : pages)
    if (!visible) page->setVisible(false);
  HideDoneMarks();
}

// ---------------------------------------------------------------------------
// UiHost

void TfmMain::RaiseWindow() {
  raise();
  activateWindow();
}

void TfmMain::ShowStatusText(const std::string& text) {
  statusBar()->showMessage(ToQt(text));
  ShowRunControls();
  statusBar()->repaint();
}

// The progress bar (once the run has counted a step) and "Zastavit" (in a
// run that can stop) show while the run works, not beside its questions.
void TfmMain::ShowRunControls() {
  if (!run_active_) return;
  if (progress_started_) progress_->show();
  if (run_stoppable_) stop_button_->show();
}

void TfmMain::ShowDoneMarkOf(RunPage page, const std::string& agenda) {
  AgendaPage* shown_on = page == RunPage::kSend ? send_page_ : receive_page_;
  if (QLabel* mark = shown_on->DoneMark(agenda)) {
    mark->show();
    mark->repaint();
  }
}

void TfmMain::HideDoneMarks() {
  if (!done_marks_shown_) return;
  for (AgendaPage* page : {send_page_, receive_page_}) {
    for (std::string_view code : kHideOrder) {
      QLabel* mark = page->DoneMark(code);
      mark->hide();
      mark->repaint();
    }
  }
  done_marks_shown_ = false;
}

void TfmMain::ShowProgress(int done, int total, int within) {
  // The bar moves within a step too; its text counts whole steps.
  progress_->setRange(0, std::max(total, 1) * kProgressPerStep);
  progress_->setValue(done * kProgressPerStep + within * kProgressPerStep / 1000);
  progress_->setFormat(QStringLiteral("%1 / %2").arg(done).arg(total));
  progress_started_ = true;
  ShowRunControls();
  progress_->repaint();
}

void TfmMain::BeforeMessageBox() {
  // A box during a run mostly ends it (success, refusal, failure); counts
  // left beside it would read as work still going on.  The bar comes back
  // with the run's next status text or progress, and so does "Zastavit".
  progress_->hide();
  stop_button_->hide();
}

// ---------------------------------------------------------------------------
// Keyboard

bool TfmMain::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress) {
    // Enter moves to the next control as Tab does, except in buttons, check
    // boxes and the multi-line message box.
    const auto* key = static_cast<QKeyEvent*>(event);
    QWidget* focus = QApplication::focusWidget();
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && focus &&
        watched == focus && focus->window() == this &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        !qobject_cast<QAbstractButton*>(focus) && !qobject_cast<QPlainTextEdit*>(focus)) {
      focusNextPrevChild(true);
      return true;
    }
  } else if (type == QEvent::FocusOut &&
             (watched == transfer_folder_ || watched == transfer_folder_->lineEdit())) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    // The box and its line edit both see the focus go; one check follows.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
        !folder_exit_pending_) {
      folder_exit_pending_ = true;
      // Leaving for the box's own line edit or list is not leaving the box.
      QTimer::singleShot(0, this, [this] {
        folder_exit_pending_ = false;
        QWidget* focus = QApplication::focusWidget();
        if (focus && (focus == transfer_folder_ || transfer_folder_->isAncestorOf(focus))) return;
        Guarded([this] { cbPrenosSlozkaExit(); });
      });
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Series boxes

void TfmMain::PullSeries() {
  for (AgendaPage* page : {send_page_, receive_page_}) {
    for (const std::string& name : SeriesStateKeys(page->kind())) {
      const auto* box = page->findChild<QComboBox*>(ToQt(name));
      SeriesBox& model = series_[name];
      model.entries.clear();
      for (int i = 0; i < box->count(); ++i) model.entries.push_back(ToStd(box->itemText(i)));
      model.selected = box->currentIndex();
    }
  }
}

void TfmMain::PushSeries() {
  for (AgendaPage* page : {send_page_, receive_page_}) {
    for (const std::string& name : SeriesStateKeys(page->kind())) {
      auto* box = page->findChild<QComboBox*>(ToQt(name));
      const SeriesBox& model = series_[name];
      box->clear();
      for (const std::string& entry : model.entries) box->addItem(ToQt(entry));
      box->setCurrentIndex(model.selected < box->count() ? model.selected : -1);
    }
  }
}

void TfmMain::FillSeries(bool send_page) {
  PullSeries();
  FillSeriesLists(ui_, series_, send_page, register_.CompanyDataFolder(),
                  register_.ActiveTypOrganizace(), TransferFolderPath());
  PushSeries();
}

// ---------------------------------------------------------------------------
// Handlers of the settings page

void TfmMain::cbFirmyChange(int index) {
  if (index < 0) return;
  BusyCursorScope busy(ui_);
  register_.SelectCompany(ToStd(companies_->itemText(index)));
  UpdateTitle();
  company_location_->SetPath(ToQt(register_.CompanyDataFolder()));
  if (TransferFolderExists()) FillSeries(true);
}

void TfmMain::cbPrenosSlozkaExit() {
  if (run_active_ || shut_down_) return;
  BusyCursorScope busy(ui_);
  if (TransferFolderExists())
    FillSeries(true);
  else if (!transfer_folder_->currentText().isEmpty())
    MsgError(ui_, kMsgCaption, kMsgFolderMissing);
}

void TfmMain::btProchazetClick() {
  const QString title = QStringLiteral("Zadejte složku pro přenos souborů.");
  QString initial = transfer_folder_->currentText();
  if (!initial.isEmpty() && !DirectoryExists(ToStd(initial))) initial.clear();
  const QString chosen = options_.choose_folder ? options_.choose_folder(this, title, initial)
                                                : ChooseFolder(this, title, initial);
  if (chosen.isEmpty()) return;
  // Every confirmed folder joins the history, repeats included.
  transfer_folder_->addItem(chosen);
  transfer_folder_->setEditText(chosen);
}

// While a run lasts: no other work starts, the pages and menus take no
// input (the window still paints, and "Zastavit" works), and the progress
// bar counts the run's steps (it appears once the run has begun and goes
// when the run's closing message opens; see BeforeMessageBox).
class TfmMain::RunScope {
 public:
  // A `stoppable` run offers "Zastavit" while it works.
  RunScope(TfmMain& window, bool stoppable)
      : window_(window), focus_(QApplication::focusWidget()) {
    window_.run_active_ = true;
    window_.run_stoppable_ = stoppable;
    window_.progress_started_ = false;
    window_.progress_->setRange(0, 1);
    window_.progress_->setValue(0);
    window_.ui_.ClearStop();
    window_.stop_button_->setEnabled(true);
    for (QWidget* part : Parts()) part->setEnabled(false);
  }
  ~RunScope() {
    for (QWidget* part : Parts()) part->setEnabled(true);
    if (focus_) focus_->setFocus(Qt::OtherFocusReason);
    window_.stop_button_->hide();
    window_.run_active_ = false;
    window_.run_stoppable_ = false;
    if (window_.close_after_run_) {
      window_.close_after_run_ = false;
      QMetaObject::invokeMethod(&window_, &QWidget::close, Qt::QueuedConnection);
    }
    window_.progress_->hide();
    window_.progress_->reset();
    // A refused or failed run leaves the text of the step it stopped at.
    window_.statusBar()->clearMessage();
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  std::vector<QWidget*> Parts() const {
    return {window_.settings_page_, window_.send_page_, window_.receive_page_, window_.tab_bar_,
            window_.menuBar()};
  }
  TfmMain& window_;
  QPointer<QWidget> focus_;
};

// Runs `work` on a thread of its own while this thread goes on handling the
// window's events (the seam brings the run's questions and progress here);
// returns when the work is done.  The work's exception, if any, comes back.
void TfmMain::RunInBackground(const std::function<void()>& work) {
  QEventLoop loop;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

void TfmMain::btInicializovatClick() {
  InitializationContext context;
  context.company_data_available = register_.CompanyDataAvailable();
  context.company_data_folder = register_.CompanyDataFolder();
  context.accounting_folders = register_.LiveFolders();
  context.transfer_folder = TransferFolderPath();
  context.refill_series_lists = [this] { OnInterfaceThread([this] { FillSeries(true); }); };
  InitializationResult result = InitializationResult::kDone;
  {
    RunScope run(*this, false);
    RunInBackground([&] { result = InitializeBatch(ui_, config_, context); });
  }
  switch (result) {
    case InitializationResult::kNoTransferFolder:
    case InitializationResult::kFolderMissing:
    case InitializationResult::kAccountingFolder:
      transfer_folder_->setFocus(Qt::OtherFocusReason);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Runs

// A run button checks every date box of its page as leaving the box would:
// its shortcut leaves no box (the button does not take the focus), and a
// click whose press and release arrive together starts the run before the
// deferred check of the box it left.  Accepted texts are put back completed,
// so that the run reads what the boxes show; the first rejected box is
// reported, emptied and focused, and the run does not start.
bool TfmMain::DateBoxesValid(AgendaPage& page) {
  // This check takes the place of any still queued for a box just left,
  // which would otherwise report the same box again afterwards, or run
  // inside the error box's own event loop.
  page.DropPendingDateChecks();
  for (QLineEdit* box : page.DateBoxes()) {
    std::string text = ToStd(box->text());
    if (CompleteDate(text)) {
      const QString completed = ToQt(text);
      if (completed != box->text()) box->setText(completed);
      continue;
    }
    RejectDate(box);
    // Focusing the rejected box leaves the box that had the focus; its
    // check is dropped too, so that one press reports one date.  The next
    // run checks every box again.
    page.DropPendingDateChecks();
    return false;
  }
  return true;
}

RunEnvironment TfmMain::Environment(std::function<void()> refill_receive_series) {
  return RunEnvironment{ui_,
                        config_,
                        *clock_,
                        settings_,
                        register_.CompanyDataFolder(),
                        TransferFolderPath(),
                        register_.ActiveDesignation(),
                        std::move(refill_receive_series),
                        register_.LiveFolders()};
}

void TfmMain::btOdeslatClick() {
  if (run_active_) return;
  if (!PendingJournalsSettled()) return;
  if (!DateBoxesValid(*send_page_)) return;
  SendPage page;
  page.agendas = send_page_->Inputs();
  page.overwrite = send_page_->overwrite()->isChecked();
  page.empty_first = send_page_->empty_first()->isChecked();
  page.archive = archive_->isChecked();
  page.price_list_all = send_page_->price_list_all()->isChecked();
  page.message = FromDisplayLines(send_page_->message()->toPlainText());

  RunEnvironment env = Environment([this] { OnInterfaceThread([this] { FillSeries(false); }); });
  RunReport report;
  env.report = &report;
  {
    RunScope run(*this, true);
    RunInBackground([&] { SendBatch(env, page); });
  }
  WarnUnlogged(RecordSend(RunLogFolder(), LogContext(env.transfer_folder), page, report));
}

void TfmMain::btPrijmoutClick() {
  if (run_active_) return;
  if (!PendingJournalsSettled()) return;
  if (!DateBoxesValid(*receive_page_)) return;
  ReceivePage page;
  page.agendas = receive_page_->Inputs();
  page.overwrite = receive_page_->overwrite()->isChecked();
  page.price_list_all = receive_page_->price_list_all()->isChecked();
  page.archive = receive_page_->ArchiveToReceive();
  if (receive_page_->archive_box()->isChecked() && page.archive.empty()) {
    MsgWarning(ui_, kMsgCaption, "Vyberte archiv zip, ze kterého se má dávka přijmout.");
    receive_page_->archive_path()->setFocus(Qt::OtherFocusReason);
    return;
  }

  RunEnvironment env = Environment();
  RunReport report;
  env.report = &report;
  {
    RunScope run(*this, true);
    RunInBackground([&] { ReceiveBatch(env, page); });
  }
  WarnUnlogged(RecordReceive(RunLogFolder(),
                             LogContext(page.archive.empty() ? env.transfer_folder : page.archive),
                             page, report));
}

RunLogContext TfmMain::LogContext(const std::string& folder) {
  return {CurrentUserName(), register_.InstallationFolder(), register_.ActiveDesignation(),
          folder};
}

std::string TfmMain::RunLogFolder() const {
  return options_.run_log_folder.empty() ? UserDataFolder().string() : options_.run_log_folder;
}

void TfmMain::WarnUnlogged(const std::string& warning) {
  // The run's own outcome stands; the user only learns that this run is
  // missing from the history.
  if (!warning.empty()) MsgWarning(ui_, kMsgCaption, warning);
}

void TfmMain::btNahledClick(bool send) {
  if (run_active_) return;
  AgendaPage& agenda_page = send ? *send_page_ : *receive_page_;
  if (!DateBoxesValid(agenda_page)) return;
  SendPage send_input;
  ReceivePage receive_input;
  if (send) {
    send_input.agendas = send_page_->Inputs();
    send_input.overwrite = send_page_->overwrite()->isChecked();
    send_input.empty_first = send_page_->empty_first()->isChecked();
    send_input.price_list_all = send_page_->price_list_all()->isChecked();
  } else {
    receive_input.agendas = receive_page_->Inputs();
    receive_input.overwrite = receive_page_->overwrite()->isChecked();
    receive_input.price_list_all = receive_page_->price_list_all()->isChecked();
    receive_input.archive = receive_page_->ArchiveToReceive();
  }
  const std::map<std::string, AgendaInput>& agendas =
      send ? send_input.agendas : receive_input.agendas;
  if (std::none_of(agendas.begin(), agendas.end(), [](const auto& a) { return a.second.ticked; })) {
    MsgInfo(ui_, kMsgCaption,
            FillTemplate("Ve výběru pro %s není obsažena žádná agenda.", send ? "odeslání" : "příjem"));
    return;
  }
  RunEnvironment env = Environment();
  RunPreview preview;
  std::string error;
  {
    RunScope run(*this, false);
    ui_.SetStatusText("Probíhá příprava náhledu...");
    RunInBackground([&] {
      try {
        preview = send ? PreviewSend(env, send_input) : PreviewReceive(env, receive_input);
      } catch (const std::exception& e) {
        error = e.what();
      }
    });
  }
  if (!error.empty()) {
    MsgWarning(ui_, kMsgCaption, "Náhled se nepodařilo připravit:\r\n\r\n" + error);
    return;
  }
  if (!preview.refusal.empty()) {
    MsgWarning(ui_, kMsgCaption, preview.refusal);
    return;
  }

  QDialog dialog(this);
  dialog.setObjectName("fmNahled");
  dialog.setWindowTitle(send ? QStringLiteral("Náhled odeslání dávky")
                             : QStringLiteral("Náhled příjmu dávky"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(
      send ? QStringLiteral("Odeslání s nastavenými volbami by v dávce provedlo toto:")
           : QStringLiteral("Příjem s nastavenými volbami by v datech firmy provedl toto:")));
  const QStringList heads = {QStringLiteral("Agenda"), QStringLiteral("Záznamy"),
                             QStringLiteral("Přidá"), QStringLiteral("Nahradí"),
                             QStringLiteral("Ponechá")};
  auto* table = new QTableWidget(static_cast<int>(preview.lines.size()), heads.size());
  table->setObjectName("tbNahled");
  table->setHorizontalHeaderLabels(heads);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->verticalHeader()->hide();
  for (int row = 0; row < static_cast<int>(preview.lines.size()); ++row) {
    const PreviewLine& line = preview.lines[static_cast<size_t>(row)];
    const QStringList cells = {ToQt(line.caption), ToQt(line.rows), QString::number(line.added),
                               QString::number(line.replaced), QString::number(line.kept)};
    for (int column = 0; column < cells.size(); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      if (column >= 2) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      table->setItem(row, column, item);
    }
  }
  table->resizeColumnsToContents();
  table->setMinimumWidth(table->horizontalHeader()->length() + 24);
  table->setMinimumHeight(std::min(480, table->verticalHeader()->length() +
                                            table->horizontalHeader()->height() + 8));
  layout->addWidget(table, 1);
  auto* buttons = new QDialogButtonBox;
  QPushButton* run = buttons->addButton(send ? QStringLiteral("Ode&slat") : QStringLiteral("Přijmou&t"),
                                        QDialogButtonBox::AcceptRole);
  run->setObjectName(send ? "btNahledOdeslat" : "btNahledPrijmout");
  QPushButton* close = buttons->addButton(QStringLiteral("Zavřít"), QDialogButtonBox::RejectRole);
  close->setObjectName("btNahledZavrit");
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  RunDialog(dialog);
  if (dialog.result() != QDialog::Accepted) return;
  if (send)
    btOdeslatClick();
  else
    btPrijmoutClick();
}

void TfmMain::btArchivPClick() {
  const QString title = QStringLiteral("Vyberte archiv zip s dávkou");
  const QString initial = receive_page_->archive_path()->text().isEmpty()
                              ? transfer_folder_->currentText()
                              : receive_page_->archive_path()->text();
  const QString chosen =
      options_.choose_archive
          ? options_.choose_archive(this, title, initial)
          : QFileDialog::getOpenFileName(this, title, initial,
                                         QStringLiteral("Archivy zip (*.zip *.ZIP);;Všechny "
                                                        "soubory (*)"));
  if (chosen.isEmpty()) return;
  receive_page_->archive_path()->setText(chosen);
  receive_page_->archive_box()->setChecked(true);
}

// ---------------------------------------------------------------------------
// Agenda rows

void TfmMain::UdajeExit(QLineEdit* box) {
  if (run_active_) {
    // A run reads the page as it started; the box is checked afterwards.
    QTimer::singleShot(50, box, [this, box] { Guarded([this, box] { UdajeExit(box); }); });
    return;
  }
  if (shut_down_) return;
  std::string text = ToStd(box->text());
  if (CompleteDate(text)) {
    box->setText(ToQt(text));
    return;
  }
  RejectDate(box);
}

bool TfmMain::CompleteDate(std::string& text) const {
  try {
    return CompleteDateText(text, *clock_, settings_.decimal_separator);
  } catch (const std::exception&) {
    return false;
  }
}

void TfmMain::RejectDate(QLineEdit* box) {
  MsgError(ui_, kMsgCaption, "Neplatné datum.");
  box->clear();
  box->setFocus(Qt::OtherFocusReason);
}

void TfmMain::laPocClick(const QString& label_name) {
  const std::string folder = TransferFolderPath();
  if (folder.empty() || !BatchTablesExist(folder, false)) return;
  const std::optional<ViewerTables> tables = ViewerTablesFor(ToStd(label_name));
  if (!tables) return;
  TfmObsahDavky viewer(ToStd(transfer_folder_->currentText()), *tables, ui_, settings_, this);
  RunDialog(viewer);
}

// ---------------------------------------------------------------------------
// Help and about

void TfmMain::RunDialog(QDialog& dialog) {
  if (options_.run_dialog)
    options_.run_dialog(dialog);
  else
    dialog.exec();
}

void TfmMain::miHelpClick() {
  if (!help_window_) help_window_ = new HelpWindow(this);
  help_window_->ShowTopic(QString::fromLatin1(kHelpStartTopic));
}

void TfmMain::miHistorieClick() {
  TfmHistorie history(RunLogFolder(), clock_->Now().year, this);
  RunDialog(history);
}

void TfmMain::miAboutClick() {
  TfmAbout about(this);
  RunDialog(about);
}

}  // namespace dalimor
