#include "archive/zip_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/code_page.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

// Raw deflate (no zlib header or trailer): negative window bits.
constexpr int kWindowBits = -15;
constexpr size_t kBufferSize = 64 * 1024;
// The most bytes of one central directory header: the fixed part and three
// fields of up to 65535 bytes each.
constexpr uint64_t kMaxCentralHeaderBytes = kZipCentralHeaderSize + 3 * uint64_t{0xFFFF};

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw ArchiveRefused("Archiv \"" + path + "\" nelze přijmout: " + why);
}

std::string Damaged(const std::string& detail) {
  return "archiv je poškozený nebo neúplný (" + detail + ").";
}

std::string Entry(const std::string& shown_name) { return "soubor \"" + shown_name + "\""; }

}  // namespace

std::string DecodedEntryName(const ZipCentralHeader& header) {
  const std::string& raw = header.fields.name;
  std::u32string code_points;
  return (header.fields.flags & kZipFlagUtf8Name) && DecodeUtf8(raw, code_points)
             ? raw
             : ToUtf8(raw, CodePage::k852);
}

std::string ShownEntryName(const ZipCentralHeader& header) {
  std::string shown;
  for (const char c : DecodedEntryName(header)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      shown += "#" + std::to_string(byte);
    else
      shown.push_back(c);
  }
  return shown;
}

ZipReader::ZipReader(const std::string& path, size_t max_entries)
    : path_(path), input_(kBufferSize), output_(kBufferSize) {
  // Non-blocking, so that a pipe given for an archive cannot hang the run.
  fd_ = OpenNative(PathFromUtf8(path), O_RDONLY | kOpenNonBlock);
  if (fd_ < 0) Refuse(path_, std::string("soubor nelze otevřít (") + std::strerror(errno) + ").");
  const std::optional<NativeFileInfo> info = StatNative(fd_);
  if (!info || info->kind != NativeKind::kRegular) {
    CloseNative(fd_);
    fd_ = -1;
    Refuse(path_, "nejde o obyčejný soubor.");
  }
  size_ = info->size;
  try {
    ReadDirectory(max_entries);
  } catch (...) {
    CloseNative(fd_);
    fd_ = -1;
    throw;
  }
}

ZipReader::~ZipReader() {
  if (stream_ready_) inflateEnd(&stream_);
  if (fd_ >= 0) CloseNative(fd_);
}

std::string ZipReader::ReadAt(uint64_t offset, size_t size) const {
  if (offset > size_ || size_ - offset < size)
    Refuse(path_, Damaged("záznam přesahuje konec souboru"));
  std::string bytes(size, '\0');
  size_t done = 0;
  while (done < size) {
    const int64_t got = ReadNativeAt(fd_, bytes.data() + done, size - done, offset + done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Refuse(path_, std::string("soubor nelze číst (") + std::strerror(errno) + ").");
    if (got == 0) Refuse(path_, Damaged("soubor se během čtení zkrátil"));
    done += static_cast<size_t>(got);
  }
  return bytes;
}

void ZipReader::ReadDirectory(size_t max_entries) {
  // The end record is the last record; only a comment may follow it.
  if (size_ < kZipEndRecordSize) Refuse(path_, "nejde o archiv zip (soubor je příliš krátký).");
  const uint64_t tail_size =
      std::min<uint64_t>(size_, kZipEndRecordSize + kZipMaxCommentLength);
  const std::string tail = ReadAt(size_ - tail_size, static_cast<size_t>(tail_size));
  const std::string signature = EncodeZipEndRecord({}).substr(0, 4);
  size_t found = std::string::npos;
  for (size_t at = tail.size() - kZipEndRecordSize + 1; at-- > 0;) {
    if (tail.compare(at, 4, signature) != 0) continue;
    const ZipEndRecord candidate = DecodeZipEndRecord(std::string_view(tail).substr(at), path_);
    if (at + kZipEndRecordSize + candidate.comment_length == tail.size()) {
      found = at;
      break;
    }
  }
  if (found == std::string::npos)
    Refuse(path_, "nejde o archiv zip, nebo je zkrácený (chybí konec adresáře archivu).");
  const uint64_t end_offset = size_ - tail_size + found;
  const ZipEndRecord end = DecodeZipEndRecord(std::string_view(tail).substr(found), path_);

  uint64_t entries = end.total_entries;
  uint64_t directory_size = end.central_directory_size;
  uint64_t directory_offset = end.central_directory_offset;
  uint64_t directory_end = end_offset;  // where the central directory must end
  bool multi_disk = end.disk_number != 0 || end.central_directory_disk != 0 ||
                    end.entries_on_disk != end.total_entries;
  try {
    // A Zip64 locator just before the end record points to the Zip64 end
    // record, which then holds the counts, size and offset.
    if (end_offset >= kZip64EndLocatorSize) {
      const std::string locator_bytes =
          ReadAt(end_offset - kZip64EndLocatorSize, kZip64EndLocatorSize);
      const std::string locator_signature = locator_bytes.substr(0, 4);
      if (locator_signature == std::string("PK\x06\x07", 4)) {
        const Zip64EndLocator locator = DecodeZip64EndLocator(locator_bytes, path_);
        multi_disk = multi_disk || locator.end_record_disk != 0 || locator.total_disks > 1;
        const uint64_t locator_offset = end_offset - kZip64EndLocatorSize;
        if (locator.end_record_offset > locator_offset ||
            locator_offset - locator.end_record_offset < kZip64EndRecordSize)
          Refuse(path_, Damaged("záznam Zip64 leží mimo archiv"));
        const Zip64EndRecord record =
            DecodeZip64EndRecord(ReadAt(locator.end_record_offset, kZip64EndRecordSize), path_);
        if (record.record_size < kZip64EndRecordSize - 12 ||
            locator.end_record_offset + 12 + record.record_size != locator_offset)
          Refuse(path_, Damaged("záznam Zip64 nesouhlasí"));
        multi_disk = multi_disk || record.disk_number != 0 || record.central_directory_disk != 0 ||
                     record.entries_on_disk != record.total_entries;
        entries = record.total_entries;
        directory_size = record.central_directory_size;
        directory_offset = record.central_directory_offset;
        directory_end = locator.end_record_offset;
      }
    }
  } catch (const ZipFormatError& e) {
    Refuse(path_, Damaged(e.what()));
  }
  if (multi_disk) Refuse(path_, "archiv je rozdělen na více částí, ty přijmout nelze.");
  if (entries > max_entries)
    Refuse(path_, "archiv obsahuje " + std::to_string(entries) + " souborů, dávka jich má nejvýše " +
                      std::to_string(max_entries) + ".");
  if (directory_offset > directory_end || directory_end - directory_offset != directory_size)
    Refuse(path_, Damaged("adresář archivu nesouhlasí s jeho koncem"));
  if (directory_size > entries * kMaxCentralHeaderBytes)
    Refuse(path_, Damaged("adresář archivu je delší, než jeho položky mohou být"));

  directory_offset_ = directory_offset;
  const std::string directory = ReadAt(directory_offset, static_cast<size_t>(directory_size));
  size_t at = 0;
  try {
    for (uint64_t i = 0; i < entries; ++i) {
      ZipDirectoryEntry entry;
      entry.header = DecodeZipCentralHeader(std::string_view(directory).substr(at), path_);
      const size_t size = EncodedSize(entry.header);
      if (directory.size() - at < size)
        Refuse(path_, Damaged("položka adresáře přesahuje jeho konec"));
      const std::string_view extra = std::string_view(directory).substr(
          at + kZipCentralHeaderSize + entry.header.fields.name.size(),
          entry.header.extra_length);
      const Zip64ExtraValues values = DecodeZip64Extra(entry.header, extra, path_);
      entry.compressed_size = values.compressed_size;
      entry.uncompressed_size = values.uncompressed_size;
      entry.local_header_offset = values.local_header_offset;
      if (entry.header.disk_number_start != 0)
        Refuse(path_, "archiv je rozdělen na více částí, ty přijmout nelze.");
      entries_.push_back(std::move(entry));
      at += size;
    }
  } catch (const ZipFormatError& e) {
    Refuse(path_, Damaged(e.what()));
  }
  if (at != directory.size()) Refuse(path_, Damaged("adresář archivu má víc položek, než udává"));

  for (ZipDirectoryEntry& entry : entries_) LocateData(entry, ShownEntryName(entry.header));
  // No two entries may share data: overlapping entries are how a small
  // archive claims far more content than it carries.
  std::vector<const ZipDirectoryEntry*> by_offset;
  for (const ZipDirectoryEntry& entry : entries_) by_offset.push_back(&entry);
  std::sort(by_offset.begin(), by_offset.end(), [](const auto* a, const auto* b) {
    return a->local_header_offset < b->local_header_offset;
  });
  uint64_t used_to = 0;
  for (const ZipDirectoryEntry* entry : by_offset) {
    if (entry->local_header_offset < used_to)
      Refuse(path_, Damaged("data souborů se překrývají"));
    used_to = entry->data_offset + entry->compressed_size;
  }
}

void ZipReader::LocateData(ZipDirectoryEntry& entry, const std::string& shown_name) const {
  const ZipEntryFields& central = entry.header.fields;
  std::string fixed = ReadAt(entry.local_header_offset, kZipLocalHeaderSize);
  ZipLocalHeader local;
  try {
    // The fixed part tells how long the name and the extra field are.
    const uint16_t name_length =
        static_cast<uint16_t>(static_cast<unsigned char>(fixed[26]) |
                              (static_cast<unsigned char>(fixed[27]) << 8));
    const uint16_t extra_length =
        static_cast<uint16_t>(static_cast<unsigned char>(fixed[28]) |
                              (static_cast<unsigned char>(fixed[29]) << 8));
    local = DecodeZipLocalHeader(
        fixed + ReadAt(entry.local_header_offset + kZipLocalHeaderSize, name_length), path_);
    entry.data_offset = entry.local_header_offset + kZipLocalHeaderSize + name_length + extra_length;
  } catch (const ZipFormatError& e) {
    Refuse(path_, Damaged(Entry(shown_name) + ": " + e.what()));
  }
  const ZipEntryFields& fields = local.fields;
  if (fields.name != central.name || fields.method != central.method ||
      (fields.flags & kZipFlagEncrypted) != (central.flags & kZipFlagEncrypted))
    Refuse(path_, Damaged("místní hlavička souboru \"" + shown_name + "\" nesouhlasí s adresářem"));
  // Without a data descriptor the local header carries the CRC and the
  // sizes (or all-ones where a Zip64 field holds them).
  if (!(fields.flags & kZipFlagDataDescriptor)) {
    const auto same = [](uint32_t local_value, uint64_t value) {
      return local_value == 0xFFFFFFFFu || local_value == value;
    };
    if (fields.crc32 != central.crc32 || !same(fields.compressed_size, entry.compressed_size) ||
        !same(fields.uncompressed_size, entry.uncompressed_size))
      Refuse(path_,
             Damaged("místní hlavička souboru \"" + shown_name + "\" nesouhlasí s adresářem"));
  }
  if (entry.data_offset > directory_offset_ ||
      directory_offset_ - entry.data_offset < entry.compressed_size)
    Refuse(path_, Damaged("data souboru \"" + shown_name + "\" přesahují konec archivu"));
}

void ZipReader::WriteOut(int out, const unsigned char* data, size_t size) const {
  while (size > 0) {
    const int64_t written = WriteNative(out, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      if (error == ENOSPC || error == kErrorQuotaExceeded)
        Refuse(path_, "v dočasné složce došlo místo na disku.");
      Refuse(path_, std::string("rozbalený soubor nelze zapsat (") + std::strerror(error) + ").");
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
}

void ZipReader::Extract(const ZipDirectoryEntry& entry, const std::string& shown_name, int out,
                        const std::function<void()>& progress) {
  const uint16_t method = entry.header.fields.method;
  const bool deflated = method == kZipMethodDeflate;
  if (deflated) {
    if (!stream_ready_) {
      if (inflateInit2(&stream_, kWindowBits) != Z_OK)
        Refuse(path_, "rozbalování nelze zahájit (nedostatek paměti).");
      stream_ready_ = true;
    } else if (inflateReset(&stream_) != Z_OK) {
      Refuse(path_, "rozbalování nelze zahájit.");
    }
  }
  const std::string corrupt = Entry(shown_name) + " je poškozený (data neodpovídají záznamu v archivu).";
  uint32_t crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
  uint64_t read_total = 0;
  uint64_t written_total = 0;
  bool stream_end = !deflated;
  const auto emit = [&](const unsigned char* data, size_t size) {
    // Never more than the directory says: a stream that goes on is refused
    // before its excess reaches the disk.
    if (entry.uncompressed_size - written_total < size) Refuse(path_, corrupt);
    crc = static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
    WriteOut(out, data, size);
    written_total += size;
  };
  while (read_total < entry.compressed_size) {
    const size_t piece =
        static_cast<size_t>(std::min<uint64_t>(input_.size(), entry.compressed_size - read_total));
    size_t got = 0;
    while (got < piece) {
      const int64_t n =
          ReadNativeAt(fd_, input_.data() + got, piece - got, entry.data_offset + read_total + got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Refuse(path_, std::string("soubor nelze číst (") + std::strerror(errno) + ").");
      if (n == 0) Refuse(path_, Damaged("soubor se během čtení zkrátil"));
      got += static_cast<size_t>(n);
    }
    read_total += piece;
    if (!deflated) {
      emit(input_.data(), piece);
    } else {
      if (stream_end) Refuse(path_, corrupt);  // data after the end of the stream
      stream_.next_in = input_.data();
      stream_.avail_in = static_cast<uInt>(piece);
      do {
        stream_.next_out = output_.data();
        stream_.avail_out = static_cast<uInt>(output_.size());
        const int result = inflate(&stream_, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
          Refuse(path_, corrupt);
        const size_t produced = output_.size() - stream_.avail_out;
        if (produced > 0) emit(output_.data(), produced);
        if (result == Z_STREAM_END) {
          stream_end = true;
          if (stream_.avail_in != 0 || read_total != entry.compressed_size)
            Refuse(path_, corrupt);
          break;
        }
        if (result == Z_BUF_ERROR && produced == 0) break;  // needs more input
      } while (stream_.avail_in > 0 || stream_.avail_out == 0);
    }
    if (progress) progress();
  }
  if (!stream_end || written_total != entry.uncompressed_size) Refuse(path_, corrupt);
  if (crc != entry.header.fields.crc32)
    Refuse(path_, Entry(shown_name) + " je poškozený (kontrolní součet CRC nesouhlasí).");
}

}  // namespace dalimor
