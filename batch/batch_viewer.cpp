#include "batch/batch_viewer.h"

#include <array>

#include "engine/engine_error.h"

namespace dalimor {
namespace {

struct LabelTables {
  std::string_view label;
  ViewerTables tables;
};

// The names are used as they stand; the engine finds them without regard to
// case, and "CPOKLSD" without extension is the ".DB" table.
constexpr std::array<LabelTables, 10> kLabels = {{
    {"laPFPoc", {"SPFH.DB", "SPFP.DB"}},
    {"laVFPoc", {"Svfh.DB", "Svfp.DB"}},
    {"laSklOperPoc", {"SklOperH.DB", "SklOperP.DB"}},
    {"laObjPoc", {"SObjH.DB", "SObjP.DB"}},
    {"laPoklPoc", {"CPokl.DB", "CPOKLSD"}},
    {"laIntDoklPoc", {"CIntdokl.DB", "CINTDOKLSD.DB"}},
    {"laBankaPoc", {"CBANKA.DB", "CBANKAP.DB"}},
    {"laPZPoc", {"Cpz.DB", ""}},
    {"laDenikPoc", {"Cdenik.DB", ""}},
    {"laCenikPoc", {"SCenik.DB", ""}},
}};

}  // namespace

std::optional<ViewerTables> ViewerTablesFor(std::string_view label_name) {
  for (const LabelTables& entry : kLabels)
    if (entry.label == label_name) return entry.tables;
  return std::nullopt;
}

std::string BatchViewerModel::Open(const std::string& folder_text, const ViewerTables& tables) {
  Close();
  master_name_ = std::string(tables.master);
  try {
    master_.SetDatabaseName(folder_text);
    master_.SetTableName(std::string(tables.master));
    master_.Open(OpenMode::kReadOnly);
    if (!tables.detail.empty()) {
      detail_.SetDatabaseName(folder_text);
      detail_.SetTableName(std::string(tables.detail));
      detail_.Open(OpenMode::kReadOnly);
      has_detail_ = true;
      LinkDetail();
    }
  } catch (const EngineError& e) {
    return e.what();
  }
  return "";
}

void BatchViewerModel::Close() {
  detail_.SetMaster(nullptr, "");
  detail_.Close();
  master_.Close();
  has_detail_ = linked_ = false;
}

void BatchViewerModel::LinkDetail() {
  if (!detail_.Active() || detail_.IsEmpty()) return;
  const bool c_agenda =
      master_name_ == "CPokl.DB" || master_name_ == "CBANKA.DB" || master_name_ == "CIntdokl.DB";
  const std::string series = c_agenda ? "DoklRada" : "DoklSRada";
  const std::string number = c_agenda ? "DoklCislo" : "DoklSCislo";
  const std::string remembered_series = detail_.FieldByName(series).AsString();
  const std::string remembered_number = detail_.FieldByName(number).AsString();
  const int64_t remembered_key = detail_.FieldByName("Klic").AsInteger();
  detail_.SetMaster(nullptr, "");
  detail_.SetMaster(&master_, series + ";" + number);
  linked_ = true;
  detail_.Locate(series + ";" + number + ";Klic",
                 {remembered_series, remembered_number, remembered_key});
}

}  // namespace dalimor
