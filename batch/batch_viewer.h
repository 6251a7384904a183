#pragma once
// What the batch content viewer shows, without the window: which tables a
// count label opens, the header cursor and the item cursor that follows it.

#include <optional>
#include <string>
#include <string_view>

#include "engine/table_cursor.h"

namespace dalimor {

struct ViewerTables {
  std::string_view master;
  std::string_view detail;  // empty: no lower grid
};

// The pair opened by a count label ("laPFPoc" ... "laCenikPoc"); none for
// another name.
std::optional<ViewerTables> ViewerTablesFor(std::string_view label_name);

// The viewer's two read-only tables.
class BatchViewerModel {
 public:
  // Opens the upper table from the transfer-folder text as typed, then the
  // lower one and links it (LinkDetail).  Returns the engine's message when
  // a table cannot be opened (the tables opened before stay open), else an
  // empty text.
  std::string Open(const std::string& folder_text, const ViewerTables& tables);
  void Close();

  // Ties the lower table to the upper one by the link fields (DoklRada;
  // DoklCislo for the cash, bank and internal-document headers, DoklSRada;
  // DoklSCislo otherwise), keeping the lower table's current row when it
  // belongs to the selected header.  Does nothing when the lower table is
  // empty.
  void LinkDetail();

  bool has_detail() const { return has_detail_; }
  bool linked() const { return linked_; }
  TableCursor& master() { return master_; }
  TableCursor& detail() { return detail_; }

 private:
  std::string master_name_;
  bool has_detail_ = false;
  bool linked_ = false;
  TableCursor master_;
  TableCursor detail_;
};

}  // namespace dalimor
