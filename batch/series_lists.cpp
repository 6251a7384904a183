#include "batch/series_lists.h"

#include "engine/sql/literal.h"
#include "engine/sql/paradox_catalog.h"
#include "engine/sql/query.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

constexpr char kCr = '\r';

std::string Text(const Value& value) {
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  if (const auto* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
  return "";
}

void LoadFromStatement(Ui& ui, SeriesBox& box, const std::string& statement,
                       std::string_view field) {
  BusyCursorScope busy(ui);
  box.entries.clear();
  box.selected = -1;
  try {
    ParadoxSqlCatalog catalog;
    SqlQuery query(catalog);
    query.SetText(statement);
    query.Open();
    std::vector<std::string> entries{" "};
    int index = query.FieldIndex(field);
    if (index < 0) index = 0;
    for (query.First(); !query.Eof(); query.Next())
      entries.push_back(Text(query.FieldValue(static_cast<size_t>(index))));
    box.entries = std::move(entries);
  } catch (const std::exception&) {
    box.entries.clear();  // a box whose loading failed holds no entry at all
  }
}

}  // namespace

const SendSeriesBox kSendSeriesBoxes[9] = {
    {"cbPFDRO", "PF", "", ""},     {"cbVFDRO", "VF", "", ""},     {"cbSklOperDRO", "SO", "", ""},
    {"cbObjDRO", "O", "", ""},     {"cbPoklDRO", "P", "", ""},    {"cbBankaDRO", "B", "", ""},
    {"cbIntDoklDRO", "ID", "", ""}, {"cbPZDRO", "PZ", "PF", "VF"}, {"cbDenikDRO", "*", "", ""},
};

const ReceiveSeriesBox kReceiveSeriesBoxes[9] = {
    {"cbPFDRP", "SPFH.DB", "DoklSRada"},      {"cbVFDRP", "SVFH.DB", "DoklSRada"},
    {"cbSklOperDRP", "SklOperH.DB", "DoklSRada"}, {"cbObjDRP", "SObjH.DB", "DoklSRada"},
    {"cbPoklDRP", "CPokl.DB", "DoklRada"},    {"cbBankaDRP", "CBanka.DB", "DoklRada"},
    {"cbIntDoklDRP", "CIntdokl.DB", "DoklRada"}, {"cbPZDRP", "Cpz.DB", "DoklSRada"},
    {"cbDenikDRP", "Cdenik.DB", "DoklRada"},
};

std::string SeriesBox::Text() const {
  if (selected < 0 || static_cast<size_t>(selected) >= entries.size()) return "";
  return entries[static_cast<size_t>(selected)];
}

std::string BuildSeriesQuery(std::string_view folder, std::string_view table,
                             std::string_view agenda, std::string_view extra1,
                             std::string_view extra2) {
  std::string text = "SELECT RADA FROM " + SqlTextLiteral(std::string(folder) + std::string(table));
  text.push_back(kCr);
  if (agenda != "*") {
    text += "WHERE (AGENDA =" + SqlTextLiteral(agenda) + ")";
    if (!extra1.empty()) text += " OR (AGENDA =" + SqlTextLiteral(extra1) + ")";
    if (!extra2.empty()) text += " OR (AGENDA =" + SqlTextLiteral(extra2) + ")";
  } else if (extra1 == "J") {
    text += "WHERE ((AGENDA = " + SqlTextLiteral("B") + ") OR (AGENDA = " + SqlTextLiteral("P") +
            ") OR (AGENDA = " + SqlTextLiteral("ID") + "))";
  } else {
    text += "WHERE NOT ((AGENDA = " + SqlTextLiteral("SO") + ") OR (AGENDA = " +
            SqlTextLiteral("O") + ") OR (AGENDA = " + SqlTextLiteral("PP") + "))";
  }
  return text;
}

std::string BuildGroupQuery(std::string_view folder, std::string_view table,
                            std::string_view field) {
  std::string text = "SELECT " + std::string(field) + " FROM " +
                     SqlTextLiteral(std::string(folder) + std::string(table));
  text.push_back(kCr);
  return text + "GROUP BY " + std::string(field);
}

void LoadSendSeries(Ui& ui, SeriesBox& box, const std::string& company_data_folder,
                    std::string_view agenda, std::string_view extra1, std::string_view extra2) {
  const std::string folder = WithTrailingBackslash(
      Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(company_data_folder), "LDATA\\S")));
  LoadFromStatement(ui, box, BuildSeriesQuery(folder, "Ldoklady.DB", agenda, extra1, extra2),
                    "Rada");
}

void LoadBatchSeries(Ui& ui, std::string_view field, SeriesBox& box,
                     const std::string& transfer_folder, std::string_view table) {
  LoadFromStatement(ui, box, BuildGroupQuery(transfer_folder, table, field), field);
}

void FillSeriesLists(Ui& ui, SeriesBoxes& boxes, bool send_page,
                     const std::string& company_data_folder, const std::string& typ_organizace,
                     const std::string& transfer_folder) {
  BusyCursorScope busy(ui);
  if (send_page) {
    for (const SendSeriesBox& b : kSendSeriesBoxes) {
      const std::string_view extra1 = b.agenda == "*" ? std::string_view(typ_organizace) : b.extra1;
      LoadSendSeries(ui, boxes[std::string(b.box)], company_data_folder, b.agenda, extra1,
                     b.extra2);
    }
  }
  for (const ReceiveSeriesBox& b : kReceiveSeriesBoxes)
    LoadBatchSeries(ui, b.field, boxes[std::string(b.box)], transfer_folder, b.table);
}

void RestoreSeriesChoices(SeriesBoxes& boxes, const IniFile& state) {
  auto restore = [&](std::string_view section, std::string_view name) {
    const auto it = boxes.find(std::string(name));
    if (it == boxes.end() || it->second.entries.empty()) return;
    const int position = state.ReadInteger(section, name, -1);
    it->second.selected =
        position >= 0 && static_cast<size_t>(position) < it->second.entries.size() ? position : -1;
  };
  for (const SendSeriesBox& b : kSendSeriesBoxes) restore("Odeslani", b.box);
  for (const ReceiveSeriesBox& b : kReceiveSeriesBoxes) restore("Prijem", b.box);
}

}  // namespace dalimor
