#include "app/agenda_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>

#include "app/qt_text.h"

namespace dalimor {
namespace {

// The order in which the all-agendas box ticks and unticks the agendas.
constexpr std::array<std::string_view, kAgendaCount> kTickOrder = {
    "PF", "VF", "SklOper", "Pokl", "Banka", "IntDokl", "PZ", "Denik", "Cenik", "Obj"};
// The dated agendas in the order fill-dates walks them.
constexpr std::array<std::string_view, 9> kFillOrder = {
    "PF", "VF", "SklOper", "Obj", "Pokl", "Banka", "IntDokl", "PZ", "Denik"};

// What the date of an agenda's filter means, for the date boxes' hints.
std::string DateMeaning(std::string_view code) {
  if (code == "SklOper" || code == "Obj") return "datum vystavení dokladu";
  if (code == "PF" || code == "VF" || code == "Denik")
    return "okamžik uskutečnění účetního případu";
  return "okamžik vystavení účetního dokladu";
}

int MaxVisibleSeries(std::string_view code) {
  if (code == "PZ") return 18;
  if (code == "Denik") return 30;
  return 8;
}

// The done mark: a small green tick, 16 x 13.
QPixmap DoneMarkPixmap() {
  QPixmap pixmap(16, 13);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(QColor(0, 128, 0), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.drawPolyline(QPolygonF({QPointF(2.5, 7.0), QPointF(6.0, 10.5), QPointF(13.5, 2.5)}));
  return pixmap;
}

void MakeNavy(QLabel* label) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
  label->setPalette(palette);
}

QLabel* HeadingLabel(const QString& text, Qt::Alignment alignment) {
  auto* label = new QLabel(text);
  label->setAlignment(alignment | Qt::AlignBottom);
  return label;
}

}  // namespace

void SetHint(QWidget* widget, const std::string& hint) {
  widget->setProperty("hint", ToQt(hint));
  widget->setToolTip(ToDisplayLines(hint));
  QString status = ToQt(hint);
  status.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  widget->setStatusTip(status);
}

AgendaPage::AgendaPage(PageKind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
  const bool send = kind == PageKind::kSend;
  setObjectName(send ? "paOdeslani" : "paPrijem");

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 4);
  layout->setSpacing(4);

  auto* title =
      new QLabel(send ? QStringLiteral("Odeslání dávky") : QStringLiteral("Příjem dávky"));
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  layout->addWidget(title);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(2);
  BuildRows(grid);
  layout->addLayout(grid);
  layout->addSpacing(4);

  overwrite_ = new QCheckBox(send ? QStringLiteral("Existující doklady při odeslání přepsat")
                                  : QStringLiteral("Existující doklady při příjmu přepsat"));
  overwrite_->setObjectName(send ? "ckDoklPrepsatO" : "ckDoklPrepsatP");
  SetHint(overwrite_, send ? "Při odeslání přepsat existující doklady."
                           : "Při příjmu přepsat existující doklady.");
  connect(overwrite_, &QCheckBox::toggled, this, [this] { emit Changed(); });

  run_button_ = new QPushButton(send ? QStringLiteral("Ode&slat") : QStringLiteral("Přijmou&t"));
  run_button_->setObjectName(send ? "btOdeslat" : "btPrijmout");
  SetHint(run_button_, send ? "Odeslat dávku." : "Přijmout dávku.");
  run_button_->setMinimumWidth(96);
  // What the run would do, counted without writing anything.
  preview_button_ = new QPushButton(QStringLiteral("Ná&hled..."));
  preview_button_->setObjectName(send ? "btNahledO" : "btNahledP");
  SetHint(preview_button_, send ? "Zobrazit, co by odeslání s těmito volbami provedlo."
                                : "Zobrazit, co by příjem s těmito volbami provedl.");
  preview_button_->setMinimumWidth(send ? 96 : 80);
  // On the send page the two buttons stand beside its two check boxes; the
  // receive page, taller, has them side by side on one row.
  QBoxLayout* run_buttons = send ? static_cast<QBoxLayout*>(new QVBoxLayout)
                                 : static_cast<QBoxLayout*>(new QHBoxLayout);
  run_buttons->setSpacing(send ? 2 : 6);
  if (!send) run_buttons->addWidget(preview_button_);
  run_buttons->addWidget(run_button_);
  if (send) run_buttons->addWidget(preview_button_);

  auto* options = new QGridLayout;
  options->setContentsMargins(0, 0, 0, 0);
  options->setVerticalSpacing(2);
  options->addWidget(overwrite_, 0, 0);
  if (send) {
    empty_first_ = new QCheckBox(QStringLiteral("Před odesláním smazat obsah dávky"));
    empty_first_->setObjectName("ckDoklSmazatO");
    SetHint(empty_first_, "Před odesláním dojde vždy ke smazání obsahu dávky.");
    connect(empty_first_, &QCheckBox::toggled, this, [this] { emit Changed(); });
    options->addWidget(empty_first_, 1, 0);
    options->addLayout(run_buttons, 0, 1, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
  } else {
    options->addLayout(run_buttons, 0, 1, Qt::AlignRight | Qt::AlignVCenter);
    // The batch can come as the zip archive a branch mailed: it is checked,
    // unpacked into a private temporary folder and received from there.
    archive_box_ = new QCheckBox(QStringLiteral("Přijmout z archivu zip:"));
    archive_box_->setObjectName("ckArchivP");
    SetHint(archive_box_,
            "Přijmout dávku přímo z archivu zip (např. z přílohy e-mailu) místo z přenosné "
            "složky. Archiv se před příjmem zkontroluje.");
    archive_path_ = new QLineEdit;
    archive_path_->setObjectName("edArchivP");
    archive_path_->setPlaceholderText(QStringLiteral("cesta k souboru .zip"));
    SetHint(archive_path_, "Archiv zip s dávkou.");
    archive_button_ = new QPushButton(QStringLiteral("Vy&brat zip..."));
    archive_button_->setObjectName("btArchivP");
    SetHint(archive_button_, "Vyberte archiv zip s dávkou.");
    auto* archive_row = new QHBoxLayout;
    archive_row->setContentsMargins(0, 0, 0, 0);
    archive_row->setSpacing(6);
    archive_row->addWidget(archive_box_);
    archive_row->addWidget(archive_path_, 1);
    archive_row->addWidget(archive_button_);
    options->addLayout(archive_row, 1, 0, 1, 2);
    connect(archive_box_, &QCheckBox::toggled, this, [this] { emit Changed(); });
    connect(archive_path_, &QLineEdit::textEdited, this, [this](const QString& text) {
      if (!text.isEmpty()) archive_box_->setChecked(true);
      emit Changed();
    });
    connect(archive_button_, &QPushButton::clicked, this, [this] { emit ArchiveButtonClicked(); });
  }
  options->setColumnStretch(0, 1);
  layout->addLayout(options);

  if (!send) {
    auto* info = new QGridLayout;
    info->setContentsMargins(0, 4, 0, 0);
    info->setVerticalSpacing(2);
    export_date_ = new QLabel;
    export_date_->setObjectName("laExportDatum");
    MakeNavy(export_date_);
    export_company_ = new QLabel;
    export_company_->setObjectName("laExportFirma");
    MakeNavy(export_company_);
    export_company_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    info->addWidget(new QLabel(QStringLiteral("Datum a čas posledního exportu:")), 0, 0);
    info->addWidget(export_date_, 0, 1);
    info->addWidget(new QLabel(QStringLiteral("Naposledy exportovaná firma:")), 1, 0);
    info->addWidget(export_company_, 1, 1);
    info->setColumnStretch(1, 1);
    layout->addLayout(info);
  }

  auto* message_caption = new QLabel(send ? QStringLiteral("Zpráva pro příjemce dávky:")
                                          : QStringLiteral("Zpráva od odesílatele dávky:"));
  layout->addWidget(message_caption);
  message_ = new QPlainTextEdit;
  message_->setObjectName(send ? "mePoznO" : "mePoznP");
  message_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  message_->setTabChangesFocus(true);
  message_->setMinimumHeight(40);
  if (send) {
    SetHint(message_, "Můžete zadat zprávu pro příjemce dávky.");
    connect(message_, &QPlainTextEdit::textChanged, this, [this] { emit Changed(); });
  } else {
    SetHint(message_, "Zpráva od odesílatele dávky.");
    message_->setReadOnly(true);
    message_->setEnabled(false);
    // The sender's message is there to be read: its text keeps the normal
    // colour although the box takes no input.
    QPalette palette = message_->palette();
    palette.setColor(QPalette::Disabled, QPalette::Text,
                     palette.color(QPalette::Active, QPalette::Text));
    message_->setPalette(palette);
  }
  layout->addWidget(message_, 1);
}

std::string AgendaPage::ArchiveToReceive() const {
  if (!archive_box_ || !archive_box_->isChecked()) return {};
  return ToStd(archive_path_->text().trimmed());
}

QLineEdit* AgendaPage::MakeDateBox(const std::string& name, const std::string& hint) {
  auto* box = new QLineEdit;
  box->setObjectName(ToQt(name));
  if (!hint.empty()) SetHint(box, hint);
  box->setFixedWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("00.00.0000")) + 12);
  box->installEventFilter(this);
  connect(box, &QLineEdit::textChanged, this, [this] { emit Changed(); });
  return box;
}

void AgendaPage::BuildRows(QGridLayout* grid) {
  const bool send = kind_ == PageKind::kSend;
  const std::string page = letter();
  const std::string include_hint = send ? "Zaškrtněte, pokud chcete do odeslání zahrnout agendu "
                                        : "Zaškrtněte, pokud chcete do příjmu zahrnout agendu ";
  const std::string moved = send ? "odeslány" : "přijaty";
  const std::string series_hint =
      send ? "Vyplňte dokladovou řadu. Pokud není vyplněna, provede se odeslání všech dokladových "
             "řad."
           : "Vyplňte dokladovou řadu. Pokud není vyplněna, provede se příjem všech dokladových "
             "řad.";

  // Column headings; the fill-dates button stands right of "Datum do".
  grid->addWidget(HeadingLabel(QStringLiteral("Zahrnout do dávky"), Qt::AlignLeft), 0, 0);
  grid->addWidget(HeadingLabel(QStringLiteral("Datum od"), Qt::AlignLeft), 0, 1);
  auto* to_heading = new QHBoxLayout;
  to_heading->setContentsMargins(0, 0, 0, 0);
  to_heading->setSpacing(2);
  to_heading->addWidget(HeadingLabel(QStringLiteral("Datum do"), Qt::AlignLeft));
  fill_dates_ = new QToolButton;
  fill_dates_->setObjectName(send ? "btNaplnitDatumO" : "btNaplnitDatumP");
  fill_dates_->setText(QStringLiteral("↓"));
  fill_dates_->setAutoRaise(false);
  fill_dates_->setFixedSize(20, 18);
  SetHint(fill_dates_, send ? "Naplnit Datum od - Datum do podle prvního pro všechny označené "
                              "agendy."
                            : "Naplnit Datum od - Datum do podle prvního pro všechny označené "
                              "agendy");
  connect(fill_dates_, &QToolButton::clicked, this, &AgendaPage::FillDatesClicked);
  to_heading->addWidget(fill_dates_, 0, Qt::AlignBottom);
  to_heading->addStretch(1);
  grid->addLayout(to_heading, 0, 2);
  grid->addWidget(HeadingLabel(QStringLiteral("Dokladová\nřada"), Qt::AlignHCenter), 0, 3);
  if (!send)
    grid->addWidget(HeadingLabel(QStringLiteral("Poč.\nzázn. v\ndávce"), Qt::AlignHCenter), 0, 5);

  const QPixmap mark_pixmap = DoneMarkPixmap();

  // The all-agendas row.
  Row all;
  all.include = new QCheckBox(QStringLiteral("Všechny agendy"));
  all.include->setObjectName(ToQt("ckVse" + page));
  connect(all.include, &QCheckBox::toggled, this, &AgendaPage::AllAgendasClicked);
  all.from = MakeDateBox("edVseDatOd" + page, "");
  all.to = MakeDateBox("edVseDatDo" + page, "");
  grid->addWidget(all.include, 1, 0);
  grid->addWidget(all.from, 1, 1);
  grid->addWidget(all.to, 1, 2);
  rows_.emplace(std::string(kAllAgendasCode), all);

  int line = 2;
  for (const Agenda& agenda : Agendas()) {
    const std::string code(agenda.code);
    Row row;
    row.include = new QCheckBox(ToQt(agenda.caption));
    row.include->setObjectName(ToQt("ck" + code + page));
    if (send || code != "Cenik")
      SetHint(row.include, include_hint + std::string(agenda.caption) + ".");
    QCheckBox* include = row.include;
    connect(include, &QCheckBox::toggled, this,
            [this, include](bool checked) { AgendaClicked(include, checked); });
    grid->addWidget(row.include, line, 0);

    if (code == "Cenik") {
      price_list_all_ = new QCheckBox(send ? QStringLiteral("Odeslat všechny položky ceníku")
                                           : QStringLiteral("Příjmout všechny položky ceníku"));
      price_list_all_->setObjectName(send ? "ckCenikVseO" : "ckCenikVseP");
      SetHint(price_list_all_,
              send ? "Zaškrtněte, pokud chcete do odeslání zahrnout všechny položky ceníku.\r\nV "
                     "opačném případě se odešlou pouze položky dle přijatých a vystavených faktur, "
                     "skl. operací a objednávek."
                   : "Zaškrtněte, pokud chcete do příjmu zahrnout všechny položky ceníku.\r\nV "
                     "opačném případě se příjmou pouze položky dle přijatých a vystavených faktur, "
                     "skl. operací a objednávek.");
      connect(price_list_all_, &QCheckBox::toggled, this, [this] { emit Changed(); });
      grid->addWidget(price_list_all_, line, 1, 1, 3);
    } else {
      const std::string meaning = DateMeaning(code);
      std::string from_hint = "Datum (" + meaning + "), od kterého budou doklady " + moved + ".";
      if (code != "SklOper" && code != "Obj")
        from_hint += "\r\nPři nevyplněném údaji bude podmínka z dolní strany neohraničená.";
      const std::string to_hint = "Datum (" + meaning + "), do kterého budou doklady " + moved +
                                  ".\r\nPři nevyplněném údaji bude podmínka z horní strany "
                                  "neohraničená.";
      row.from = MakeDateBox("ed" + code + "DatOd" + page, from_hint);
      row.to = MakeDateBox("ed" + code + "DatDo" + page, to_hint);
      grid->addWidget(row.from, line, 1);
      grid->addWidget(row.to, line, 2);

      row.series = new QComboBox;
      row.series->setObjectName(ToQt("cb" + code + "DR" + page));
      row.series->setEditable(false);
      row.series->setMaxVisibleItems(MaxVisibleSeries(code));
      row.series->setFixedWidth(60);
      row.series->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
      SetHint(row.series, series_hint);
      QComboBox* series = row.series;
      connect(series, &QComboBox::activated, this,
              [this, series](int index) { SeriesChosen(series, index); });
      grid->addWidget(row.series, line, 3);
    }

    row.mark = new QLabel;
    row.mark->setObjectName(ToQt("im" + code + page));
    row.mark->setPixmap(mark_pixmap);
    row.mark->setFixedSize(16, 13);
    // Hidden marks keep their place, so that showing one moves nothing.
    QSizePolicy keep = row.mark->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    row.mark->setSizePolicy(keep);
    row.mark->hide();
    grid->addWidget(row.mark, line, 4, Qt::AlignVCenter);

    if (!send) {
      row.count = new QLabel(QStringLiteral("0"));
      row.count->setObjectName(ToQt("la" + code + "Poc"));
      MakeNavy(row.count);
      row.count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      row.count->setCursor(Qt::PointingHandCursor);
      row.count->setMinimumWidth(
          row.count->fontMetrics().horizontalAdvance(QStringLiteral("00000")));
      row.count->installEventFilter(this);
      grid->addWidget(row.count, line, 5);
    }
    rows_.emplace(code, row);
    ++line;
  }
  grid->setColumnStretch(0, 1);
}

const AgendaPage::Row* AgendaPage::FindRow(std::string_view code) const {
  const auto it = rows_.find(code);
  return it == rows_.end() ? nullptr : &it->second;
}

QCheckBox* AgendaPage::IncludeBox(std::string_view code) const {
  const Row* row = FindRow(code);
  return row ? row->include : nullptr;
}
QLineEdit* AgendaPage::DateFromBox(std::string_view code) const {
  const Row* row = FindRow(code);
  return row ? row->from : nullptr;
}
QLineEdit* AgendaPage::DateToBox(std::string_view code) const {
  const Row* row = FindRow(code);
  return row ? row->to : nullptr;
}
QComboBox* AgendaPage::SeriesBox(std::string_view code) const {
  const Row* row = FindRow(code);
  return row ? row->series : nullptr;
}
QLabel* AgendaPage::DoneMark(std::string_view code) const {
  const Row* row = FindRow(code);
  return row ? row->mark : nullptr;
}
QLabel* AgendaPage::CountLabel(std::string_view code) const {
  const Row* row = FindRow(code);
  return row ? row->count : nullptr;
}

std::vector<QLineEdit*> AgendaPage::DateBoxes() const {
  std::vector<QLineEdit*> boxes = {DateFromBox(kAllAgendasCode), DateToBox(kAllAgendasCode)};
  for (const Agenda& agenda : Agendas()) {
    const Row* row = FindRow(agenda.code);
    if (row->from) boxes.push_back(row->from);
    if (row->to) boxes.push_back(row->to);
  }
  return boxes;
}

std::map<std::string, AgendaInput> AgendaPage::Inputs() const {
  std::map<std::string, AgendaInput> inputs;
  for (const Agenda& agenda : Agendas()) {
    const Row* row = FindRow(agenda.code);
    AgendaInput input;
    input.ticked = row->include->isChecked();
    if (row->from) input.date_from = ToStd(row->from->text());
    if (row->to) input.date_to = ToStd(row->to->text());
    if (row->series) input.series = ToStd(row->series->currentText());
    inputs.emplace(std::string(agenda.code), input);
  }
  return inputs;
}

void AgendaPage::ShowBatchInfo(const BatchInfo& info) {
  if (export_date_) export_date_->setText(ToQt(info.date_time));
  if (export_company_) {
    export_company_->setText(ToQt(info.company_name));
    export_company_->setToolTip(ToQt(info.company_name));
  }
  for (const CountKey& key : kCountKeys)
    if (QLabel* label = CountLabel(key.agenda)) label->setText(ToQt(info.CountOf(key.agenda)));
  message_->setPlainText(ToDisplayLines(info.message));
}

QString AgendaPage::AllRowDate(bool ticked, const QString& current, const QString& all_row_text) {
  return ticked && !all_row_text.isEmpty() ? all_row_text : current;
}

void AgendaPage::AllAgendasClicked(bool checked) {
  emit Changed();
  QCheckBox* all = all_agendas();
  // Unticked by the program (the box does not have the focus): the agenda
  // boxes stay as they are.
  if (!checked && all->window()->focusWidget() != all) return;
  for (std::string_view code : kTickOrder) IncludeBox(code)->setChecked(checked);
}

void AgendaPage::AgendaClicked(QCheckBox* box, bool checked) {
  (void)box;
  emit Changed();
  QCheckBox* all = all_agendas();
  if (all->window()->focusWidget() == all || checked) return;
  if (all->isChecked()) all->setChecked(false);
}

void AgendaPage::FillDatesClicked() {
  emit Changed();
  const QString all_from = DateFromBox(kAllAgendasCode)->text();
  const QString all_to = DateToBox(kAllAgendasCode)->text();
  for (std::string_view code : kFillOrder) {
    const Row* row = FindRow(code);
    const bool ticked = row->include->isChecked();
    row->from->setText(AllRowDate(ticked, row->from->text(), all_from));
    row->to->setText(AllRowDate(ticked, row->to->text(), all_to));
  }
}

void AgendaPage::SeriesChosen(QComboBox* box, int index) {
  // The blank entry stands for every series; its text becomes empty so that
  // the run reads no series.
  if (index == 0) box->setItemText(0, QString());
  emit Changed();
}

bool AgendaPage::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    auto* box = qobject_cast<QLineEdit*>(watched);
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Only a move to another control counts as leaving the box; the window
    // losing the focus (to a message box, another program) or a pop-up does
    // not.  The check runs once the focus has settled on the new control.
    if (box && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      const unsigned round = date_check_round_;
      QTimer::singleShot(0, box, [this, box, round] {
        if (round == date_check_round_) emit DateBoxLeft(box);
      });
    }
  } else if (event->type() == QEvent::MouseButtonRelease) {
    auto* label = qobject_cast<QLabel*>(watched);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (label && mouse->button() == Qt::LeftButton &&
        label->rect().contains(mouse->position().toPoint())) {
      emit CountLabelClicked(label->objectName());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace dalimor
