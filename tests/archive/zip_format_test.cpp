#include "archive/zip_format.h"

#include <gtest/gtest.h>

namespace dalimor {
namespace {

ZipEntryFields SampleFields() {
  ZipEntryFields f;
  f.flags = 0x0800;
  f.dos_time = 0x7455;
  f.dos_date = 0x3E6F;
  f.crc32 = 0xDEADBEEF;
  f.compressed_size = 0x01020304;
  f.uncompressed_size = 0xA0B0C0D0;
  f.name = "SPFH.DB";
  return f;
}

void ExpectSameFields(const ZipEntryFields& a, const ZipEntryFields& b) {
  EXPECT_EQ(a.version_needed, b.version_needed);
  EXPECT_EQ(a.flags, b.flags);
  EXPECT_EQ(a.method, b.method);
  EXPECT_EQ(a.dos_time, b.dos_time);
  EXPECT_EQ(a.dos_date, b.dos_date);
  EXPECT_EQ(a.crc32, b.crc32);
  EXPECT_EQ(a.compressed_size, b.compressed_size);
  EXPECT_EQ(a.uncompressed_size, b.uncompressed_size);
  EXPECT_EQ(a.name, b.name);
}

TEST(ZipFormat, LocalHeaderLayoutIsLittleEndianWithTheNameLast) {
  ZipLocalHeader header;
  header.fields = SampleFields();
  const std::string bytes = EncodeZipLocalHeader(header);
  ASSERT_EQ(bytes.size(), kZipLocalHeaderSize + 7);
  EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x03\x04", 4));
  EXPECT_EQ(bytes.substr(4, 2), std::string("\x14\x00", 2));  // version needed 20
  EXPECT_EQ(bytes.substr(8, 2), std::string("\x08\x00", 2));  // deflate
  EXPECT_EQ(bytes.substr(14, 4), std::string("\xEF\xBE\xAD\xDE", 4));
  EXPECT_EQ(bytes.substr(26, 4), std::string("\x07\x00\x00\x00", 4));  // name 7, extra 0
  EXPECT_EQ(bytes.substr(30), "SPFH.DB");

  const ZipLocalHeader decoded = DecodeZipLocalHeader(bytes, "test");
  ExpectSameFields(decoded.fields, header.fields);
  EXPECT_EQ(EncodedSize(decoded), bytes.size());
}

TEST(ZipFormat, CentralHeaderRoundTripsEveryField) {
  ZipCentralHeader header;
  header.fields = SampleFields();
  header.external_attributes = 0x21;
  header.local_header_offset = 0x12345678;
  const std::string bytes = EncodeZipCentralHeader(header);
  ASSERT_EQ(bytes.size(), kZipCentralHeaderSize + 7);
  EXPECT_EQ(bytes.substr(4, 2), std::string("\x32\x00", 2));  // made by 5.0 on MS-DOS
  EXPECT_EQ(bytes.substr(36, 2), std::string("\x01\x00", 2));  // text bit
  EXPECT_EQ(bytes.substr(38, 4), std::string("\x21\x00\x00\x00", 4));

  const ZipCentralHeader decoded = DecodeZipCentralHeader(bytes, "test");
  ExpectSameFields(decoded.fields, header.fields);
  EXPECT_EQ(decoded.version_made_by, kZipVersionMadeByDos50);
  EXPECT_EQ(decoded.internal_attributes, 1);
  EXPECT_EQ(decoded.external_attributes, 0x21u);
  EXPECT_EQ(decoded.local_header_offset, 0x12345678u);
  EXPECT_EQ(decoded.extra_length, 0);
  EXPECT_EQ(decoded.comment_length, 0);
}

TEST(ZipFormat, EndRecordRoundTrips) {
  ZipEndRecord record;
  record.entries_on_disk = record.total_entries = 20;
  record.central_directory_size = 1000;
  record.central_directory_offset = 123456;
  const std::string bytes = EncodeZipEndRecord(record);
  ASSERT_EQ(bytes.size(), kZipEndRecordSize);
  const ZipEndRecord decoded = DecodeZipEndRecord(bytes, "test");
  EXPECT_EQ(decoded.total_entries, 20);
  EXPECT_EQ(decoded.entries_on_disk, 20);
  EXPECT_EQ(decoded.central_directory_size, 1000u);
  EXPECT_EQ(decoded.central_directory_offset, 123456u);
}

TEST(ZipFormat, DamagedRecordsFailNamingRecordSourceAndFault) {
  ZipCentralHeader central;
  central.fields = SampleFields();
  const std::string good = EncodeZipCentralHeader(central);
  std::string bad_signature = good;
  bad_signature[2] = 'X';

  const struct {
    std::string bytes;
    std::string fault;
  } cases[] = {
      {good.substr(0, 20), "truncated"},
      {bad_signature, "wrong signature"},
      {good.substr(0, good.size() - 1), "runs past the end"},
  };
  for (const auto& c : cases) {
    try {
      DecodeZipCentralHeader(c.bytes, "Davka.zip");
      ADD_FAILURE() << "no error for " << c.fault;
    } catch (const ZipFormatError& e) {
      const std::string text = e.what();
      EXPECT_NE(text.find("central directory header"), std::string::npos) << text;
      EXPECT_NE(text.find("Davka.zip"), std::string::npos) << text;
      EXPECT_NE(text.find(c.fault), std::string::npos) << text;
    }
  }
  EXPECT_THROW(DecodeZipLocalHeader(good, "x"), ZipFormatError);  // a central header
  EXPECT_THROW(DecodeZipEndRecord("PK\x05\x06", "x"), ZipFormatError);
}

TEST(ZipFormat, NameLongerThanTheLengthFieldIsRefused) {
  ZipLocalHeader header;
  header.fields.name.assign(70000, 'a');
  EXPECT_THROW(EncodeZipLocalHeader(header), ZipFormatError);
}

}  // namespace
}  // namespace dalimor
