#include "tests/engine/pxlib_reader.h"

#ifdef DALIMOR_HAVE_PXLIB

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/paradox/field.h"
#include "tests/engine/value_printer.h"

// pxlib does not free all it allocates (field names, index data); its
// leaks are not ours to report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libpx.so\n"; }

namespace dalimor::test {
namespace {

uint32_t Le32(const char* p) {
  return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) |
         (static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24);
}

bool AllZero(const std::string& s) {
  return s.find_first_not_of('\0') == std::string::npos;
}

}  // namespace

PxlibDoc::PxlibDoc() {
  doc_ = PX_new3(&PxlibDoc::OnError, nullptr, nullptr, nullptr, this);
}

PxlibDoc::~PxlibDoc() {
  if (doc_) {
    PX_close(doc_);
    PX_delete(doc_);
  }
  if (index_) {
    PX_close(index_);
    PX_delete(index_);
  }
}

void PxlibDoc::OnError(pxdoc_t*, int level, const char* message, void* data) {
  auto* self = static_cast<PxlibDoc*>(data);
  self->error_ += "[" + std::to_string(level) + "] " + (message ? message : "") + "\n";
}

bool PxlibDoc::Open(const std::string& path) {
  error_.clear();
  if (PX_open_file(doc_, path.c_str()) < 0) return false;
  offsets_.clear();
  int offset = 0;
  for (int i = 0; i < field_count(); ++i) {
    offsets_.push_back(offset);
    offset += field(i).px_flen;
  }
  return true;
}

bool PxlibDoc::UseIndex(const std::string& px_path) {
  error_.clear();
  index_ = PX_new3(&PxlibDoc::OnError, nullptr, nullptr, nullptr, this);
  if (PX_open_file(index_, px_path.c_str()) < 0) return false;
  if (PX_read_primary_index(index_) < 0) return false;
  if (PX_add_primary_index(doc_, index_) < 0) return false;
  return error_.empty();
}

int PxlibDoc::record_count() const { return doc_->px_head->px_numrecords; }
int PxlibDoc::record_size() const { return doc_->px_head->px_recordsize; }
int PxlibDoc::field_count() const { return doc_->px_head->px_numfields; }
const pxfield_t& PxlibDoc::field(int i) const { return doc_->px_head->px_fields[i]; }

bool PxlibDoc::Record(int recno, std::string& out) {
  out.assign(static_cast<size_t>(record_size()), '\0');
  return PX_get_record(doc_, recno, out.data()) != nullptr;
}

Value PxlibDoc::Decode(int i, const std::string& record, CodePage code_page, bool* in_blob_file) {
  const pxfield_t& f = field(i);
  std::string bytes = record.substr(static_cast<size_t>(offsets_[static_cast<size_t>(i)]),
                                    static_cast<size_t>(f.px_flen));
  char* data = bytes.data();
  const int len = f.px_flen;
  *in_blob_file = false;
  switch (f.px_ftype) {
    case pxfAlpha: {
      char* v = nullptr;
      if (PX_get_data_alpha(doc_, data, len, &v) <= 0 || !v) return {};
      std::string s(v, strnlen(v, static_cast<size_t>(len)));
      doc_->free(doc_, v);
      if (s.empty()) return {};
      return ToUtf8(s, code_page);
    }
    case pxfBytes: {
      // This pxlib build allocates the value itself.
      char* p = nullptr;
      if (AllZero(bytes) || PX_get_data_bytes(doc_, data, len, &p) <= 0 || !p) return {};
      std::string out(p, static_cast<size_t>(len));
      doc_->free(doc_, p);
      return Bytes{out};
    }
    case pxfBCD: {
      // pxlib takes only an all-zero first byte for NULL; Paradox also
      // writes NULL as the decimals without the 0x40 flag (docs/paradox_format.md).
      if ((static_cast<uint8_t>(data[0]) & 0x40) == 0) return {};
      char* v = nullptr;
      if (PX_get_data_bcd(doc_, reinterpret_cast<unsigned char*>(data), f.px_fdc, &v) <= 0 || !v)
        return {};
      const double d = std::strtod(v, nullptr);
      doc_->free(doc_, v);
      return d;
    }
    default:
      break;
  }
  const bool blob = f.px_ftype == pxfMemoBLOb || f.px_ftype == pxfBLOb ||
                    f.px_ftype == pxfFmtMemoBLOb || f.px_ftype == pxfOLE ||
                    f.px_ftype == pxfGraphic;
  if (!blob && AllZero(bytes)) return {};
  switch (f.px_ftype) {
    case pxfDate: {
      long v = 0;
      if (PX_get_data_long(doc_, data, 4, &v) <= 0) return {};
      return Date{static_cast<double>(v - kParadoxDayOfDateTimeZero)};
    }
    case pxfShort: {
      short v = 0;
      if (PX_get_data_short(doc_, data, 2, &v) <= 0) return {};
      return int64_t{v};
    }
    case pxfLong:
    case pxfAutoInc: {
      long v = 0;
      if (PX_get_data_long(doc_, data, 4, &v) <= 0) return {};
      return static_cast<int64_t>(v);
    }
    case pxfTime: {
      long v = 0;
      if (PX_get_data_long(doc_, data, 4, &v) <= 0) return {};
      return Time{static_cast<int64_t>(v)};
    }
    case pxfCurrency:
    case pxfNumber: {
      double v = 0;
      if (PX_get_data_double(doc_, data, 8, &v) <= 0) return {};
      return v;
    }
    case pxfTimestamp: {
      double v = 0;
      if (PX_get_data_double(doc_, data, 8, &v) <= 0) return {};
      return Timestamp{v / kMillisecondsPerDay - static_cast<double>(kParadoxDayOfDateTimeZero)};
    }
    case pxfLogical: {
      char v = 0;
      if (PX_get_data_byte(doc_, data, 1, &v) <= 0) return {};
      return v != 0;
    }
    default:
      break;
  }
  if (!blob) {
    ADD_FAILURE() << "pxlib field type " << int{f.px_ftype} << " not handled";
    return {};
  }
  const int leader = len - kBlobTrailerSize;
  const uint32_t size = Le32(data + leader + 4);
  if (size == 0) return {};
  if (size > static_cast<uint32_t>(leader) || Le32(data + leader) != 0) {
    *in_blob_file = true;
    return Bytes{std::string(data, static_cast<size_t>(leader))};
  }
  int mod = 0, blob_size = 0;
  char* v = nullptr;
  if (PX_get_data_blob(doc_, data, len, &mod, &blob_size, &v) <= 0 || !v) return {};
  std::string raw(v, static_cast<size_t>(blob_size));
  doc_->free(doc_, v);
  if (f.px_ftype == pxfMemoBLOb || f.px_ftype == pxfFmtMemoBLOb) return ToUtf8(raw, code_page);
  if ((f.px_ftype == pxfGraphic || f.px_ftype == pxfOLE) && raw.size() >= 8) raw.erase(0, 8);
  return Bytes{raw};
}

void ExpectSameAsPxlib(const ParadoxTable& table, const std::string& db_path) {
  PxlibDoc px;
  ASSERT_TRUE(px.Open(db_path)) << db_path << ": " << px.error();
  ASSERT_EQ(static_cast<uint32_t>(px.record_count()), table.record_count()) << db_path;
  ASSERT_EQ(static_cast<size_t>(px.field_count()), table.fields().size()) << db_path;
  for (int i = 0; i < px.field_count(); ++i) {
    const FieldDef& def = table.fields()[static_cast<size_t>(i)];
    EXPECT_EQ(px.field(i).px_ftype, static_cast<char>(def.type)) << db_path << " field " << i;
    EXPECT_EQ(std::string(px.field(i).px_fname), FromUtf8(def.name, table.text_code_page()))
        << db_path << " field " << i;
  }
  std::string raw;
  int shown = 0;
  for (int r = 0; r < px.record_count(); ++r) {
    ASSERT_TRUE(px.Record(r, raw)) << db_path << " record " << r << ": " << px.error();
    const Record ours = table.Read(table.PositionAt(static_cast<uint32_t>(r)));
    for (int i = 0; i < px.field_count(); ++i) {
      bool in_blob_file = false;
      const Value theirs = px.Decode(i, raw, table.text_code_page(), &in_blob_file);
      const Value& mine = ours[static_cast<size_t>(i)];
      if (in_blob_file) {
        // pxlib cannot read the .MB here: our value must at least exist
        // and begin with the leader pxlib sees (memos and binary blobs).
        EXPECT_FALSE(IsNull(mine)) << db_path << " record " << r << " field " << i;
        const std::string& leader = std::get<Bytes>(theirs).data;
        std::string stored;
        if (const auto* text = std::get_if<std::string>(&mine)) stored = FromUtf8(*text, table.text_code_page());
        if (const auto* bytes = std::get_if<Bytes>(&mine); bytes && px.field(i).px_ftype == pxfBLOb)
          stored = bytes->data;
        const bool copies_leader =
            px.field(i).px_ftype == pxfMemoBLOb || px.field(i).px_ftype == pxfBLOb;
        if (copies_leader && !stored.empty()) {
          EXPECT_EQ(stored.substr(0, leader.size()), leader) << db_path << " record " << r << " field " << i;
        }
        continue;
      }
      if (!(theirs == mine) && shown++ < 5)
        ADD_FAILURE() << db_path << " record " << r << " field " << i << " ("
                      << table.fields()[static_cast<size_t>(i)].name << "): pxlib "
                      << Show(theirs) << ", ours " << Show(mine);
    }
  }
}

}  // namespace dalimor::test

#endif  // DALIMOR_HAVE_PXLIB
