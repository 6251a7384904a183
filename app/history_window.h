#pragma once
// "Historie přenosů": the run log of one year as a read-only table that
// sorts by any column (newest runs first at the start), with a choice of
// the year when the log holds several.

#include <QDialog>
#include <string>

class QComboBox;
class QLabel;
class QStandardItemModel;
class QTableView;

namespace dalimor {

class TfmHistorie : public QDialog {
  Q_OBJECT

 public:
  // Shows the log in `folder`: the year `current` when it has a file, else
  // the latest year that has one.
  TfmHistorie(const std::string& folder, int current, QWidget* parent = nullptr);

  QComboBox* year_box() const { return years_; }
  QTableView* table() const { return table_; }
  QLabel* empty_label() const { return empty_; }
  // Fills the table with the lines of `year`.
  void ShowYear(int year);

 private:
  std::string folder_;
  QComboBox* years_ = nullptr;
  QLabel* year_label_ = nullptr;
  QTableView* table_ = nullptr;
  QStandardItemModel* model_ = nullptr;
  QLabel* empty_ = nullptr;
};

}  // namespace dalimor
