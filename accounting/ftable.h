#pragma once
// The system's own table component over the engine's cursor: it upper-cases
// the table name it is given, can ask before posting or deleting a record
// (through the Ui seam), and fills NULL numbers and logicals with 0 and
// false before a post.  Each posted row reaches the file at once.

#include <string>

#include "engine/table_cursor.h"
#include "util/ui.h"

namespace dalimor {

inline constexpr const char* kConfirmPostText =
    "Chcete uložit rozpracovaný záznam?\n\nAno - uložit záznam\nNe - pokračovat v editaci";
inline constexpr const char* kConfirmDeleteText = "Smazat záznam?";

class FTable : public TableCursor {
 public:
  explicit FTable(Ui& ui) : ui_(ui) {}

  // The name is upper-cased, as the component does.
  void SetTableName(std::string name);

  bool confirm_usr_post = true;
  bool confirm_usr_delete = true;
  bool init_null_values = true;

  // Asks first when confirm_usr_post is on; No keeps the record in edit
  // state and returns false.  Throws as TableCursor::Post.
  bool PostRecord();
  // Asks first when confirm_usr_delete is on; No returns false.
  bool DeleteRecord();

 private:
  void InitNulls();
  Ui& ui_;
};

}  // namespace dalimor
