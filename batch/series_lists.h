#pragma once
// The document-series boxes of the send and receive pages: the send boxes
// list the series of Kalmeo's register "Ldoklady.DB" for their agenda, the
// receive boxes the series found in the batch's header tables.  Plain list
// models; the window shows them.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "util/ui.h"

namespace dalimor {

class IniFile;

// One series box: its entries (a filled box starts with the blank entry
// " ") and the selected position (-1: none).
struct SeriesBox {
  std::vector<std::string> entries;
  int selected = -1;
  // The box's text: the selected entry, or empty.
  std::string Text() const;
};

// The eighteen boxes by control name ("cbPFDRO" ... "cbDenikDRP").
using SeriesBoxes = std::map<std::string, SeriesBox>;

struct SendSeriesBox {
  std::string_view box;
  std::string_view agenda;  // register code; "*" for the journal
  std::string_view extra1;
  std::string_view extra2;
};
struct ReceiveSeriesBox {
  std::string_view box;
  std::string_view table;
  std::string_view field;
};

// The boxes in the order they are filled.
extern const SendSeriesBox kSendSeriesBoxes[9];
extern const ReceiveSeriesBox kReceiveSeriesBoxes[9];

// "SELECT RADA FROM '<folder>Ldoklady.DB'" CR "WHERE ...", the register
// query of one send box; `folder` is the company data folder + "LDATA\S\".
std::string BuildSeriesQuery(std::string_view folder, std::string_view table,
                             std::string_view agenda, std::string_view extra1,
                             std::string_view extra2);
// "SELECT <field> FROM '<folder><table>'" CR "GROUP BY <field>".
std::string BuildGroupQuery(std::string_view folder, std::string_view table,
                            std::string_view field);

// Fills one box from a statement's first column: the blank entry, then one
// entry per row; when anything fails the box is left without any entry.
void LoadSendSeries(Ui& ui, SeriesBox& box, const std::string& company_data_folder,
                    std::string_view agenda, std::string_view extra1, std::string_view extra2);
void LoadBatchSeries(Ui& ui, std::string_view field, SeriesBox& box,
                     const std::string& transfer_folder, std::string_view table);

// Fills the nine send boxes (when `send_page` is set) and then the nine
// receive boxes, with the busy cursor on.  `typ_organizace` is the active
// company's TypOrganizace; folders end in the separator.
void FillSeriesLists(Ui& ui, SeriesBoxes& boxes, bool send_page,
                     const std::string& company_data_folder, const std::string& typ_organizace,
                     const std::string& transfer_folder);

// Reselects the positions saved in the window-state file (sections
// "Odeslani" and "Prijem", keys = box names, default -1); a position the
// box does not have selects nothing; boxes without entries stay as they are.
void RestoreSeriesChoices(SeriesBoxes& boxes, const IniFile& state);

}  // namespace dalimor
