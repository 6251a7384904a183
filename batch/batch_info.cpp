#include "batch/batch_info.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"

namespace dalimor {
namespace {

std::string FilePath(const std::string& folder, std::string_view name) {
  return ResolvePathIgnoringCase(folder, name).string();
}

// Lone CR or LF become CR LF, so that line breaks of any kind show.
std::string NormalizeLineBreaks(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      result += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      result += "\r\n";
    } else {
      result.push_back(c);
    }
  }
  return result;
}

}  // namespace

const std::string& BatchInfo::CountOf(std::string_view agenda) const {
  static const std::string kZero = "0";
  for (size_t i = 0; i < kCountKeys.size(); ++i)
    if (kCountKeys[i].agenda == agenda) return counts[i];
  return kZero;
}

BatchInfo ReadBatchInfo(const std::string& transfer_folder) {
  BatchInfo info;
  const std::string info_path = FilePath(transfer_folder, kExportInfoName);
  if (FileExists(info_path)) {
    std::ifstream in(info_path, std::ios::binary);
    if (!in)
      throw FileError("Cannot open file \"" + info_path + "\". " + std::strerror(errno));
    std::ostringstream bytes;
    bytes << in.rdbuf();
    info.message = NormalizeLineBreaks(ToUtf8(bytes.str(), CodePage::k1250));
  }
  const IniFile ini(FilePath(transfer_folder, kExportIniName));
  info.date_time = ini.ReadString(kLastSendSection, "DateTime", "");
  info.company_name = ini.ReadString(kLastSendSection, "CompanyName", "");
  for (size_t i = 0; i < kCountKeys.size(); ++i)
    info.counts[i] = ini.ReadString(kRecordCountSection, kCountKeys[i].key, "0");
  return info;
}

std::string ReadBatchCompany(const std::string& transfer_folder) {
  return IniFile(FilePath(transfer_folder, kExportIniName))
      .ReadString(kLastSendSection, "CompanyName", "");
}

void WriteBatchInfo(const std::string& transfer_folder, std::string_view message,
                    std::string_view company_name, const Clock& clock,
                    const RegionalSettings& settings, const RecordCounter& count) {
  const std::string info_path = FilePath(transfer_folder, kExportInfoName);
  {
    std::ofstream out(info_path, std::ios::binary | std::ios::trunc);
    if (!out)
      throw FileError("Cannot create file \"" + info_path + "\". " + std::strerror(errno));
    // Line breaks as the window's message box gives them, whoever wrote
    // the message: a lone LF or CR becomes CR LF.
    const std::string bytes = FromUtf8(NormalizeLineBreaks(message), CodePage::k1250);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out)
      throw FileError("Cannot create file \"" + info_path + "\". " + std::strerror(errno));
  }
  IniFile ini(FilePath(transfer_folder, kExportIniName));
  ini.WriteString(kLastSendSection, "DateTime", DateTimeToStr(clock.Now(), settings));
  ini.WriteString(kLastSendSection, "CompanyName", company_name);
  for (const CountKey& key : kCountKeys)
    ini.WriteString(kRecordCountSection, key.key,
                    count(FilePath(transfer_folder, key.table)));
}

}  // namespace dalimor
