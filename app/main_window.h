#pragma once
// The main window TfmMain: the settings, send and receive pages with the
// page tab set at the bottom, the menu and the status bar; the start-up and
// shut-down sequences; the page guards; and the handlers that hand the
// pages to the core (initialisation, send, receive, series lists, viewer).

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "accounting/company_register.h"
#include "app/agenda_page.h"
#include "app/app_options.h"
#include "app/message_boxes.h"
#include "app/window_ui.h"
#include "batch/series_lists.h"
#include "engine/engine_config.h"
#include "platform/regional.h"
#include "transfer/run_log.h"
#include "util/clock.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace dalimor {

class GuardedTabBar;
class HelpWindow;
class PathLabel;
class IniFile;

class TfmMain : public QMainWindow, public UiHost {
  Q_OBJECT

 public:
  // Builds the window and runs the start-up sequence.  When start-up asks
  // for termination, the window closes as soon as the event loop runs.
  explicit TfmMain(AppOptions options, QWidget* parent = nullptr);
  // Runs the shut-down sequence if closing has not.
  ~TfmMain() override;

  // The seam the core talks through.
  Ui& ui() { return ui_; }
  // Replaces the message boxes (tests answer them from a script).
  void SetMessageBoxes(MessageBoxPresenter& boxes) { ui_.SetPresenter(boxes); }
  bool termination_requested() const { return termination_requested_; }
  bool done_marks_shown() const { return done_marks_shown_; }

  // Pages and controls.
  QWidget* settings_page() const { return settings_page_; }
  AgendaPage* send_page() const { return send_page_; }
  AgendaPage* receive_page() const { return receive_page_; }
  GuardedTabBar* tab_bar() const { return tab_bar_; }
  QComboBox* companies() const { return companies_; }
  QComboBox* transfer_folder() const { return transfer_folder_; }
  QProgressBar* progress_bar() const { return progress_; }
  QPushButton* stop_button() const { return stop_button_; }
  HelpWindow* help_window() const { return help_window_; }
  CompanyRegister& company_register() { return register_; }

  // The transfer folder box's text with a trailing separator; empty when
  // the box is empty.
  std::string TransferFolderPath() const;

  // TabSet1Change: the guard of a page change; on success the page is
  // shown and the focus put on its first control.
  bool TabSet1Change(int new_tab);
  // Shows exactly the pages flagged and hides the done marks.
  void ShowPage(bool settings, bool send, bool receive, QWidget* focus = nullptr);

  // UiHost
  QWidget* MessageParent() override { return this; }
  void RaiseWindow() override;
  void ShowStatusText(const std::string& text) override;
  void ShowRunControls();
  void ShowDoneMarkOf(RunPage page, const std::string& agenda) override;
  void HideDoneMarks() override;
  void SetDoneMarksShown(bool shown) override { done_marks_shown_ = shown; }
  void ShowProgress(int done, int total, int within) override;
  void BeforeMessageBox() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class RunScope;
  void RunInBackground(const std::function<void()>& work);

  void BuildWindow();
  QWidget* BuildSettingsPage();
  void FormCreate();
  void FormDestroy();
  void FillCompanyList();
  // Puts back the tables of a run that was killed (start-up), asking the
  // user where a table changed since.
  void RecoverInterruptedRuns();
  // Before a run: whether no journal of a killed run waits for the user's
  // decision (the user is asked now).
  bool PendingJournalsSettled();
  void LoadFormState();
  void SaveFormState();
  void UpdateTitle();
  void UpdateLocationLabels();
  void ReadBatchInfoIntoPage();
  bool TransferFolderExists() const;
  void FillSeries(bool send_page);
  void PullSeries();
  void PushSeries();
  void RunDialog(QDialog& dialog);
  // A date box's text completed as leaving the box completes it; false when
  // the text is rejected (then unusable).
  bool CompleteDate(std::string& text) const;
  // Reports a rejected date, empties its box and gives the box the focus.
  void RejectDate(QLineEdit* box);
  // Checks every date box of a run's page before the run reads the page.
  bool DateBoxesValid(AgendaPage& page);
  // Runs a handler; an error nobody caught goes to the default error report.
  template <typename Handler>
  void Guarded(Handler&& handler);

  // Event handlers.
  void cbFirmyChange(int index);
  void cbPrenosSlozkaExit();
  void btProchazetClick();
  void btInicializovatClick();
  void btOdeslatClick();
  void btPrijmoutClick();
  // What a run or a preview needs of the window: the active company, the
  // transfer folder, the seams.
  RunEnvironment Environment(std::function<void()> refill_receive_series = nullptr);
  // "Náhled": what a send (receive) with the page's options would do, in a
  // read-only table from which the run can be started.
  void btNahledClick(bool send);
  void UdajeExit(QLineEdit* box);
  void laPocClick(const QString& label_name);
  void miHelpClick();
  void miAboutClick();
  void miHistorieClick();
  void btArchivPClick();
  // What a run's line in the run log says besides its page and report.
  RunLogContext LogContext(const std::string& folder);
  // The folder of the run log.
  std::string RunLogFolder() const;
  // Tells the user that the run's line could not be written (empty: nothing).
  void WarnUnlogged(const std::string& warning);

  AppOptions options_;
  QtMessageBoxPresenter qt_boxes_;
  WindowUi ui_;
  SystemClock system_clock_;
  const Clock* clock_;
  RegionalSettings settings_ = CzechRegionalSettings();
  EngineConfig config_;
  CompanyRegister register_;
  std::unique_ptr<IniFile> state_ini_;  // FStateIni
  SeriesBoxes series_;

  bool done_marks_shown_ = false;  // FDoneMarksShown
  bool termination_requested_ = false;
  bool run_active_ = false;
  bool run_stoppable_ = false;    // the run offers "Zastavit"
  bool close_after_run_ = false;  // the user closed the window during the run
  bool progress_started_ = false;  // the run has reported its progress
  QPushButton* stop_button_ = nullptr;
  bool shut_down_ = false;
  bool folder_exit_pending_ = false;

  QWidget* settings_page_ = nullptr;
  AgendaPage* send_page_ = nullptr;
  AgendaPage* receive_page_ = nullptr;
  GuardedTabBar* tab_bar_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QComboBox* companies_ = nullptr;
  QComboBox* transfer_folder_ = nullptr;
  PathLabel* data_location_ = nullptr;
  PathLabel* company_location_ = nullptr;
  QCheckBox* archive_ = nullptr;
  HelpWindow* help_window_ = nullptr;
};

}  // namespace dalimor
