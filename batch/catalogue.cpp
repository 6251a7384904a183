#include "batch/catalogue.h"

#include <filesystem>

#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

constexpr std::string_view kSJoin =
    "(tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)";
constexpr std::string_view kCJoin = "(tE.DoklRada=tM.DoklRada) AND (tE.DoklCislo=tM.DoklCislo)";

constexpr std::array<Agenda, kAgendaCount> kAgendas = {{
    {"PF", "Přijaté faktury", "Přijaté faktury...", AgendaKind::kS, "SPFH.DB", "Spfp.DB",
     "DoklSRada", "DoklSCislo", "KdyUskutUP", kSJoin},
    {"VF", "Vystavené faktury", "Vystavené faktury...", AgendaKind::kS, "Svfh.DB", "Svfp.DB",
     "DoklSRada", "DoklSCislo", "KdyUskutUP", kSJoin},
    {"SklOper", "Skladové operace", "Skladové operace...", AgendaKind::kS, "SklOperH.DB",
     "SklOperP.DB", "DoklSRada", "DoklSCislo", "KdyUskutUP", kSJoin},
    {"Obj", "Objednávky", "Objednávky...", AgendaKind::kS, "SObjH.DB", "SObjP.DB", "DoklSRada",
     "DoklSCislo", "Datum", kSJoin},
    {"Cenik", "Ceník", "", AgendaKind::kS, "SCenik.DB", "", "", "", "", ""},
    {"Pokl", "Pokladna", "Pokladna...", AgendaKind::kC, "CPokl.DB", "CPoklSD.DB", "DoklRada",
     "DoklCislo", "KdyVystaveno", kCJoin},
    {"Banka", "Banka", "Banka...", AgendaKind::kC, "CBanka.DB", "CBankap.DB", "DoklRada",
     "DoklCislo", "KdyVystaveno", kCJoin},
    {"IntDokl", "Interní doklady", "Interní doklady...", AgendaKind::kC, "CIntdokl.DB",
     "CIntDoklSD.DB", "DoklRada", "DoklCislo", "KdyVystaveno", kCJoin},
    {"PZ", "Pohledávky z závazky", "Pohledávky a závazky...", AgendaKind::kC, "Cpz.DB", "",
     "DoklSRada", "DoklSCislo", "KdyVystaveno", ""},
    {"Denik", "Deník", "Deník...", AgendaKind::kC, "Cdenik.DB", "", "DoklRada", "DoklCislo",
     "KdyUcPripad", ""},
}};

constexpr std::array<BatchTable, kBatchTableCount> kBatchTables = {{
    {"CBanka.DB", "Banka", "CDATA\\S\\CBanka.DB", "DoklRada,DoklCislo", "DoklRada,DoklCislo",
     "CBanka"},
    {"CBankap.DB", "Banka", "CDATA\\S\\CBankap.DB", "DoklRada,DoklCislo,Klic",
     "DoklRada,DoklCislo", ""},
    {"Cdenik.DB", "Denik", "CDATA\\S\\Cdenik.DB", "DoklRada,DoklCislo,Klic,Poradi",
     "DoklRada,DoklCislo,Klic,Poradi", "Cdenik"},
    {"CIntdokl.DB", "IntDokl", "CDATA\\S\\CIntdokl.DB", "DoklRada,DoklCislo",
     "DoklRada,DoklCislo", "CIntdokl"},
    {"CIntDoklSD.DB", "IntDokl", "CDATA\\S\\CIntDoklSD.DB", "DoklRada,DoklCislo,Klic",
     "DoklRada,DoklCislo", ""},
    {"CPokl.DB", "Pokl", "CDATA\\S\\CPokl.DB", "DoklRada,DoklCislo", "DoklRada,DoklCislo",
     "CPokl"},
    {"CPoklSD.DB", "Pokl", "CDATA\\S\\CPoklSD.DB", "DoklRada,DoklCislo,Klic",
     "DoklRada,DoklCislo", ""},
    {"Cpz.DB", "PZ", "CDATA\\S\\Cpz.DB", "DoklSRada,DoklSCislo", "DoklSRada,DoklSCislo", "CPZ"},
    {"SklOperH.DB", "SklOper", "SDATA\\S\\SklOperH.DB", "DoklSRada,DoklSCislo",
     "DoklSRada,DoklSCislo", "SklOperH"},
    {"SklOperP.DB", "SklOper", "SDATA\\S\\SklOperP.DB", "DoklSRada,DoklSCislo,Klic",
     "DoklSRada,DoklSCislo", ""},
    {"SPFH.DB", "PF", "SDATA\\S\\SPFH.DB", "DoklSRada,DoklSCislo", "DoklSRada,DoklSCislo",
     "SPFH"},
    {"Spfp.DB", "PF", "SDATA\\S\\Spfp.DB", "DoklSRada,DoklSCislo,Klic", "DoklSRada,DoklSCislo",
     ""},
    {"Svfh.DB", "VF", "SDATA\\S\\Svfh.DB", "DoklSRada,DoklSCislo", "DoklSRada,DoklSCislo",
     "SVFH"},
    {"Svfp.DB", "VF", "SDATA\\S\\Svfp.DB", "DoklSRada,DoklSCislo,Klic", "DoklSRada,DoklSCislo",
     ""},
    {"SObjH.DB", "Obj", "SDATA\\S\\SObjH.DB", "DoklSRada,DoklSCislo", "DoklSRada,DoklSCislo",
     "SObjH"},
    {"SObjP.DB", "Obj", "SDATA\\S\\SObjP.DB", "DoklSRada,DoklSCislo,Klic",
     "DoklSRada,DoklSCislo", ""},
    {"SCenik.DB", "Cenik", "SDATA\\S\\SCenik.DB", "Sklad,PolozkaSkladu", "Sklad,PolozkaSkladu",
     "SCenik"},
    {"LMemo.DB", "", "LDATA\\S\\LMemo.DB", "Klic", "", ""},
}};

}  // namespace

std::span<const Agenda, kAgendaCount> Agendas() { return kAgendas; }

std::span<const BatchTable, kBatchTableCount> BatchTables() { return kBatchTables; }

const Agenda* FindAgenda(std::string_view code) {
  for (const Agenda& agenda : kAgendas)
    if (agenda.code == code) return &agenda;
  return nullptr;
}

const BatchTable* FindBatchTable(std::string_view file_name) {
  for (const BatchTable& table : kBatchTables)
    if (SameNameIgnoringCase(table.file_name, file_name)) return &table;
  return nullptr;
}

std::string BatchTableMask(const BatchTable& table) {
  const std::string_view name = table.file_name;
  return std::string(name.substr(0, name.rfind('.'))) + ".*";
}

bool BatchTablesExist(const std::string& transfer_folder, bool any) {
  for (size_t i = 0; i < kAgendaBatchTableCount; ++i) {
    const bool exists =
        FileExists(PathFromUtf8(transfer_folder) / PathFromUtf8(kBatchTables[i].file_name));
    if (any && exists) return true;
    if (!any && !exists) return false;
  }
  return !any;
}

bool IsBatchFileName(std::string_view name) {
  if (SameNameIgnoringCase(name, "export.ini") || SameNameIgnoringCase(name, "exportinfo.txt"))
    return true;
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot + 1);
  if (!SameNameIgnoringCase(extension, "DB") && !SameNameIgnoringCase(extension, "PX") &&
      !SameNameIgnoringCase(extension, "MB"))
    return false;
  for (const BatchTable& table : kBatchTables) {
    const std::string_view file = table.file_name;
    if (SameNameIgnoringCase(name.substr(0, dot), file.substr(0, file.rfind('.')))) return true;
  }
  return false;
}

std::string FindUnsafeBatchFile(const std::string& transfer_folder) {
  const auto is_batch_file = [](const std::string& name) {
    if (SameNameIgnoringCase(name, "export.ini") || SameNameIgnoringCase(name, "exportinfo.txt"))
      return true;
    for (const BatchTable& table : kBatchTables)
      if (MatchesFileMask(name, BatchTableMask(table))) return true;
    return false;
  };
  const std::optional<std::filesystem::path> folder =
      FindPathIgnoringCase(PathFromUtf8(transfer_folder));
  if (!folder) return {};
  for (const FolderEntry& entry : ListFolder(*folder)) {
    if (!is_batch_file(entry.name)) continue;
    const std::filesystem::path path = *folder / PathFromUtf8(entry.name);
    // An entry that vanished since the listing is nothing to read.
    const std::optional<NativeFileInfo> info = StatNative(path, false);
    if (!info) continue;
    if (info->kind != NativeKind::kRegular || info->links > 1) return Utf8FromPath(path);
  }
  return {};
}

}  // namespace dalimor
