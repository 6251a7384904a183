#include "batch/batch_info.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "batch/initialisation.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

std::string FilePath(const std::string& folder, std::string_view name) {
  return Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(folder), name));
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

[[noreturn]] void ThrowUnsafe(const std::string& path) {
  throw FileError(FillTemplate(kMsgUnsafeInfoFileTemplate, path));
}

// Throws FileError (kMsgUnsafeInfoFileTemplate) when a link or anything but
// a regular file stands at `path`; a missing or unreadable file passes.
void RefuseUnlessPlain(const std::string& path) {
  if (OpenPlainFile(PathFromUtf8(path), O_RDONLY).status() == PlainFileStatus::kNotPlain)
    ThrowUnsafe(path);
}

// The bytes of "exportinfo.txt"; empty when there is none.  Opened as
// OpenPlainFile does it: never through a link, never waiting on a pipe.
std::string ReadInfoFile(const std::string& path) {
  const PlainFile file = OpenPlainFile(PathFromUtf8(path), O_RDONLY);
  if (file.status() == PlainFileStatus::kMissing) return {};
  if (file.status() == PlainFileStatus::kNotPlain) ThrowUnsafe(path);
  if (file.status() == PlainFileStatus::kFailed)
    throw FileError("Cannot open file \"" + path + "\". " + std::strerror(file.error()));
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const int64_t n = ReadNative(file.fd(), buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      return bytes;
    } else if (errno != EINTR) {
      throw FileError("Cannot open file \"" + path + "\". " + std::strerror(errno));
    }
  }
}

// Writes "exportinfo.txt" in place.  A file with another name besides (a
// hard link, which may be a company's own table) is refused like a link:
// emptying it would empty the other name too.
void WriteInfoFile(const std::string& path, std::string_view bytes) {
  const auto fail = [&](const std::string& reason) {
    throw FileError("Cannot create file \"" + path + "\". " + reason);
  };
  const std::string not_plain =
      "The file is a symbolic link, has another name or is not a regular file.";
  PlainFile file = OpenPlainFile(PathFromUtf8(path), O_WRONLY | O_CREAT);
  if (file.status() == PlainFileStatus::kMissing) fail(std::strerror(ENOENT));
  if (file.status() == PlainFileStatus::kNotPlain) fail(not_plain);
  if (file.status() == PlainFileStatus::kFailed) fail(std::strerror(file.error()));
  const std::optional<NativeFileInfo> info = StatNative(file.fd());
  if (!info) fail(std::strerror(errno));
  if (info->links > 1) fail(not_plain);
  if (!TruncateNative(file.fd(), 0)) fail(std::strerror(errno));
  while (!bytes.empty()) {
    const int64_t n = WriteNative(file.fd(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  if (!file.Close()) fail(std::strerror(errno));
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
  const std::string ini_path = FilePath(transfer_folder, kExportIniName);
  info.message = NormalizeLineBreaks(ToUtf8(ReadInfoFile(info_path), CodePage::k1250));
  // The INI reads a refused file as missing; the check says why instead.
  RefuseUnlessPlain(ini_path);
  const IniFile ini(ini_path, IniLinks::kRefuse);
  info.date_time = ini.ReadString(kLastSendSection, "DateTime", "");
  info.company_name = ini.ReadString(kLastSendSection, "CompanyName", "");
  for (size_t i = 0; i < kCountKeys.size(); ++i)
    info.counts[i] = ini.ReadString(kRecordCountSection, kCountKeys[i].key, "0");
  return info;
}

std::string ReadBatchCompany(const std::string& transfer_folder) {
  return IniFile(FilePath(transfer_folder, kExportIniName), IniLinks::kRefuse)
      .ReadString(kLastSendSection, "CompanyName", "");
}

void WriteBatchInfo(const std::string& transfer_folder, std::string_view message,
                    std::string_view company_name, const Clock& clock,
                    const RegionalSettings& settings, const RecordCounter& count) {
  const std::string info_path = FilePath(transfer_folder, kExportInfoName);
  // Line breaks as the window's message box gives them, whoever wrote the
  // message: a lone LF or CR becomes CR LF.
  WriteInfoFile(info_path, FromUtf8(NormalizeLineBreaks(message), CodePage::k1250));
  IniFile ini(FilePath(transfer_folder, kExportIniName), IniLinks::kRefuse);
  ini.WriteString(kLastSendSection, "DateTime", DateTimeToStr(clock.Now(), settings));
  ini.WriteString(kLastSendSection, "CompanyName", company_name);
  for (const CountKey& key : kCountKeys)
    ini.WriteString(kRecordCountSection, key.key,
                    count(FilePath(transfer_folder, key.table)));
}

}  // namespace dalimor
