#include "app/history_window.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QDateTime>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <exception>

#include "app/qt_text.h"
#include "transfer/run_log.h"

namespace dalimor {

TfmHistorie::TfmHistorie(const std::string& folder, int current, QWidget* parent)
    : QDialog(parent), folder_(folder) {
  setObjectName("fmHistorie");
  setWindowTitle(QStringLiteral("Historie přenosů"));
  resize(900, 420);
  auto* layout = new QVBoxLayout(this);

  auto* top = new QHBoxLayout;
  year_label_ = new QLabel(QStringLiteral("&Rok:"));
  years_ = new QComboBox;
  years_->setObjectName("cbRok");
  year_label_->setBuddy(years_);
  top->addWidget(year_label_);
  top->addWidget(years_);
  top->addStretch(1);
  layout->addLayout(top);

  model_ = new QStandardItemModel(this);
  QStringList headers;
  for (const char* column : kRunLogColumns) headers << QString::fromUtf8(column);
  model_->setHorizontalHeaderLabels(headers);
  table_ = new QTableView;
  table_->setObjectName("tvHistorie");
  table_->setModel(model_);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSortingEnabled(true);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table_, 1);
  empty_ = new QLabel(QStringLiteral("V historii přenosů zatím není žádný záznam."));
  empty_->setObjectName("laPrazdna");
  layout->addWidget(empty_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Zavřít"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  const std::vector<int> years = RunLogYears(folder_);
  for (auto it = years.rbegin(); it != years.rend(); ++it)
    years_->addItem(QString::number(*it), *it);
  // The choice only matters when there is one.
  year_label_->setVisible(years.size() > 1);
  years_->setVisible(years.size() > 1);
  int shown = current;
  if (!years.empty() && years_->findData(current) < 0) shown = years.back();
  if (years_->findData(shown) >= 0) years_->setCurrentIndex(years_->findData(shown));
  connect(years_, &QComboBox::currentIndexChanged, this,
          [this](int index) { ShowYear(years_->itemData(index).toInt()); });
  ShowYear(shown);
}

void TfmHistorie::ShowYear(int year) {
  model_->removeRows(0, model_->rowCount());
  std::vector<std::vector<std::string>> lines;
  QString problem;
  try {
    lines = ReadRunLog(folder_, year);
  } catch (const std::exception& e) {
    problem = ToQt(e.what());
  }
  // Times read as the rest of the program writes them (10.12.2026 4:37:22)
  // and sort as stored.
  model_->setSortRole(Qt::UserRole);
  for (const std::vector<std::string>& fields : lines) {
    QList<QStandardItem*> row;
    for (const std::string& field : fields) {
      QString shown = ToQt(field);
      if (row.size() == static_cast<int>(kRunLogStartColumn) ||
          row.size() == static_cast<int>(kRunLogStartColumn) + 1) {
        const QDateTime time = QDateTime::fromString(shown, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (time.isValid()) shown = time.toString(QStringLiteral("d.M.yyyy H:mm:ss"));
      }
      auto* item = new QStandardItem(shown);
      item->setData(ToQt(field), Qt::UserRole);
      item->setToolTip(shown);
      row << item;
    }
    model_->appendRow(row);
  }
  table_->resizeColumnsToContents();
  // The newest runs first.
  table_->sortByColumn(static_cast<int>(kRunLogStartColumn), Qt::DescendingOrder);
  empty_->setVisible(lines.empty());
  if (!problem.isEmpty()) empty_->setText(problem);
}

}  // namespace dalimor
