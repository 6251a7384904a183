#pragma once
// The two information files of a batch: "export.ini" (time and company of
// the last send, record counts of the main batch tables) and
// "exportinfo.txt" (the sender's message, code page 1250, CR LF, no final
// line break).

#include <array>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/regional.h"
#include "util/clock.h"

namespace dalimor {

inline constexpr std::string_view kExportIniName = "export.ini";
inline constexpr std::string_view kExportInfoName = "exportinfo.txt";
inline constexpr std::string_view kLastSendSection = "LastSend";
inline constexpr std::string_view kRecordCountSection = "RecordCount";

// The count keys of [RecordCount] with their batch tables and the agenda
// whose count label shows them, in the order they are written.
struct CountKey {
  std::string_view key;
  std::string_view table;
  std::string_view agenda;
};
inline constexpr std::array<CountKey, 10> kCountKeys = {{
    {"SPFH", "SPFH.DB", "PF"},
    {"SVFH", "Svfh.DB", "VF"},
    {"SklOperH", "SklOperH.DB", "SklOper"},
    {"SObjH", "SObjH.DB", "Obj"},
    {"CPokl", "CPokl.DB", "Pokl"},
    {"CBanka", "CBanka.DB", "Banka"},
    {"CIntdokl", "CIntdokl.DB", "IntDokl"},
    {"CPZ", "Cpz.DB", "PZ"},
    {"Cdenik", "Cdenik.DB", "Denik"},
    {"SCenik", "SCenik.DB", "Cenik"},
}};

// What the receive page shows of a batch; texts as read, never parsed.
struct BatchInfo {
  std::string date_time;     // laExportDatum
  std::string company_name;  // laExportFirma
  std::array<std::string, kCountKeys.size()> counts;  // in kCountKeys order; "0" by default
  std::string message;       // mePoznP, line breaks as CR LF

  // The count of an agenda's label ("0" for an unknown agenda).
  const std::string& CountOf(std::string_view agenda) const;
};

// A failure to create or open "exportinfo.txt".
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the batch information says of an information file that is a link,
// a pipe or anything but a regular file; %s is its path.
inline constexpr const char* kMsgUnsafeInfoFileTemplate =
    "Soubor \"%s\" v přenosné složce je odkazem na jiný soubor nebo není obyčejným souborem. "
    "Informace o dávce nelze zobrazit.";

// Reads both files of the transfer folder (names matched without regard to
// case).  Missing files read as defaults.  Never creates or changes a file,
// never follows a link and never waits on a pipe.  Throws FileError "Cannot
// open file "<path>". <reason>" when "exportinfo.txt" exists but cannot be
// read, and FileError kMsgUnsafeInfoFileTemplate naming the file when either
// file is a symbolic link, a pipe, a device or a folder.
BatchInfo ReadBatchInfo(const std::string& transfer_folder);

// The company named in "export.ini" (empty when missing, and when it is a
// link or no regular file).
std::string ReadBatchCompany(const std::string& transfer_folder);

// Counts one table: the number of records as decimal text, "0" when it
// cannot be counted.
using RecordCounter = std::function<std::string(const std::string& table_path)>;

// Writes "exportinfo.txt" with `message` (UTF-8, converted to code page
// 1250, every line break as CR LF), then LastSend/DateTime (now, as the short date and
// long time of `settings`), LastSend/CompanyName and the ten record counts
// into "export.ini", updating it in place.  Neither file is written through
// a link: a link, a hard link or anything but a regular file in the place of
// "exportinfo.txt" or a link in the place of "export.ini" is refused, and
// nothing it points to changes.  Throws FileError "Cannot create file
// "<path>". <reason>" and IniFileError "Unable to write to <path>".
void WriteBatchInfo(const std::string& transfer_folder, std::string_view message,
                    std::string_view company_name, const Clock& clock,
                    const RegionalSettings& settings, const RecordCounter& count);

}  // namespace dalimor
