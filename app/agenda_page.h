#pragma once
// The send page (paOdeslani) and the receive page (paPrijem): a row per
// agenda with its include box, date range, series box, done mark and (on the
// receive page) the record count of the batch, plus the options, the run
// button and the message box below.  The page keeps the rules between its
// own boxes (all agendas, fill dates, the blank series entry); everything
// that reaches beyond the page it reports by signal.

#include <QWidget>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_info.h"
#include "batch/catalogue.h"
#include "transfer/runs.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace dalimor {

enum class PageKind { kSend, kReceive };

// The code of the all-agendas row in control names ("ckVseO").
inline constexpr std::string_view kAllAgendasCode = "Vse";

// Sets the hint of a control: the tooltip, the status-bar text shown while
// the mouse is over it, and the property "hint" holding the text as given
// (with its CR LF).
void SetHint(QWidget* widget, const std::string& hint);

class AgendaPage : public QWidget {
  Q_OBJECT

 public:
  explicit AgendaPage(PageKind kind, QWidget* parent = nullptr);

  PageKind kind() const { return kind_; }
  // The page letter of the control names: "O" (send) or "P" (receive).
  const char* letter() const { return kind_ == PageKind::kSend ? "O" : "P"; }

  // The controls of a row by agenda code, kAllAgendasCode for the first row.
  // Null where the row has no such control (dates of Cenik, series and done
  // mark of the all-agendas row, counts on the send page).
  QCheckBox* IncludeBox(std::string_view code) const;
  QLineEdit* DateFromBox(std::string_view code) const;
  QLineEdit* DateToBox(std::string_view code) const;
  QComboBox* SeriesBox(std::string_view code) const;
  QLabel* DoneMark(std::string_view code) const;
  QLabel* CountLabel(std::string_view code) const;

  QCheckBox* all_agendas() const { return IncludeBox(kAllAgendasCode); }
  QCheckBox* price_list_all() const { return price_list_all_; }
  QCheckBox* overwrite() const { return overwrite_; }
  QCheckBox* empty_first() const { return empty_first_; }  // send page only
  QPushButton* run_button() const { return run_button_; }
  QPushButton* preview_button() const { return preview_button_; }
  QToolButton* fill_dates_button() const { return fill_dates_; }
  QPlainTextEdit* message() const { return message_; }
  QLabel* export_date() const { return export_date_; }        // receive page only
  QLabel* export_company() const { return export_company_; }  // receive page only
  // Receive page only: the batch archive to receive from instead of the
  // transfer folder (the box ticks it, the edit holds its path, the button
  // asks for one).
  QCheckBox* archive_box() const { return archive_box_; }
  QLineEdit* archive_path() const { return archive_path_; }
  QPushButton* archive_button() const { return archive_button_; }
  // The archive a receive is to take: the path when the box is ticked,
  // else empty (the transfer folder).  Always empty on the send page.
  std::string ArchiveToReceive() const;

  // The twenty date boxes, all-agendas row first, then in agenda order.
  std::vector<QLineEdit*> DateBoxes() const;

  // Forgets the checks of boxes left so far that have not been delivered
  // yet (DateBoxLeft): a check of every box has taken their place.
  void DropPendingDateChecks() { ++date_check_round_; }

  // The rows as a run reads them, by agenda code.
  std::map<std::string, AgendaInput> Inputs() const;

  // Shows what "export.ini" and "exportinfo.txt" say (receive page).
  void ShowBatchInfo(const BatchInfo& info);

  // The text fill-dates puts into a date box: the all-agendas row's text of
  // the same side when the agenda is ticked and that text is not empty,
  // else the box's current text.
  static QString AllRowDate(bool ticked, const QString& current, const QString& all_row_text);

 signals:
  // Something changed on the page that ends the display of the done marks.
  void Changed();
  // The focus left a date box (delivered after the focus has moved).
  void DateBoxLeft(QLineEdit* box);
  // A count label was clicked ("laPFPoc" ...).
  void CountLabelClicked(const QString& label_name);
  // The button that asks for a batch archive was clicked (receive page).
  void ArchiveButtonClicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Row {
    QCheckBox* include = nullptr;
    QLineEdit* from = nullptr;
    QLineEdit* to = nullptr;
    QComboBox* series = nullptr;
    QLabel* mark = nullptr;
    QLabel* count = nullptr;
  };

  const Row* FindRow(std::string_view code) const;
  void BuildRows(QGridLayout* grid);
  QLineEdit* MakeDateBox(const std::string& name, const std::string& hint);

  void AllAgendasClicked(bool checked);              // ckVseOClick / ckVsePClick
  void AgendaClicked(QCheckBox* box, bool checked);  // ckAgendyOClick / ckAgendyPClick
  void FillDatesClicked();                           // btNaplnitDatumOClick / btNaplnitDatumPClick
  void SeriesChosen(QComboBox* box, int index);      // ComboBoxChange

  PageKind kind_;
  std::map<std::string, Row, std::less<>> rows_;
  QCheckBox* price_list_all_ = nullptr;
  QCheckBox* overwrite_ = nullptr;
  QCheckBox* empty_first_ = nullptr;
  QPushButton* run_button_ = nullptr;
  QPushButton* preview_button_ = nullptr;
  QToolButton* fill_dates_ = nullptr;
  QPlainTextEdit* message_ = nullptr;
  QLabel* export_date_ = nullptr;
  QLabel* export_company_ = nullptr;
  QCheckBox* archive_box_ = nullptr;
  QLineEdit* archive_path_ = nullptr;
  QPushButton* archive_button_ = nullptr;
  // A box left is checked only if no DropPendingDateChecks came between.
  unsigned date_check_round_ = 0;
};

}  // namespace dalimor
