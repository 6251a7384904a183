#include "accounting/ftable.h"

#include "util/ascii.h"

namespace dalimor {

void FTable::SetTableName(std::string name) {
  TableCursor::SetTableName(AsciiUpper(name));
}

void FTable::InitNulls() {
  for (TableField& field : Fields()) {
    if (!field.IsNull()) continue;
    switch (field.type()) {
      case FieldType::kShort:
      case FieldType::kLong:
      case FieldType::kNumber:
      case FieldType::kMoney:
      case FieldType::kBcd:
        field.SetInteger(0);
        break;
      case FieldType::kLogical:
        field.SetBoolean(false);
        break;
      default:
        break;  // text: NULL and empty are one in Paradox
    }
  }
}

bool FTable::PostRecord() {
  if (State() != CursorState::kEdit && State() != CursorState::kInsert) return true;
  if (confirm_usr_post && MsgQuestion(ui_, kMsgCaption, kConfirmPostText, kMbYesNo) != kIdYes)
    return false;
  if (init_null_values) InitNulls();
  Post();
  return true;
}

bool FTable::DeleteRecord() {
  if (confirm_usr_delete && MsgQuestion(ui_, kMsgCaption, kConfirmDeleteText, kMbYesNo) != kIdYes)
    return false;
  Delete();
  return true;
}

}  // namespace dalimor
