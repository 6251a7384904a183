#pragma once
// pxlib, an independent Paradox implementation, as a second reader of the
// tables our engine reads and writes.  Only the .DB and .PX are given to it:
// its Debian build aborts on every .MB.

extern "C" {
#include <paradox.h>
}

#include <string>
#include <vector>

#include "engine/paradox/table.h"

namespace dalimor::test {

class PxlibDoc {
 public:
  PxlibDoc();
  ~PxlibDoc();
  PxlibDoc(const PxlibDoc&) = delete;
  PxlibDoc& operator=(const PxlibDoc&) = delete;

  // False (with error()) when pxlib rejects the file.
  bool Open(const std::string& path);
  // Reads the .PX with PX_read_primary_index and lets pxlib locate records
  // through it; false (with error()) when pxlib rejects the index.
  bool UseIndex(const std::string& px_path);

  int record_count() const;
  int record_size() const;
  int field_count() const;
  const pxfield_t& field(int i) const;
  // The raw record pxlib finds at `recno`; false when it finds none.
  bool Record(int recno, std::string& out);
  // The value of field `i` of a raw record, decoded with pxlib's own
  // functions and converted to our Value (text and memos converted from
  // `code_page`).  Blob fields whose value lives in the .MB come back as
  // Bytes of the leader, flagged through `in_blob_file`.
  Value Decode(int i, const std::string& record, CodePage code_page, bool* in_blob_file);

  // Messages pxlib reported (errors and warnings).
  const std::string& error() const { return error_; }

 private:
  static void OnError(pxdoc_t* doc, int level, const char* message, void* data);
  pxdoc_t* doc_ = nullptr;
  pxdoc_t* index_ = nullptr;
  std::vector<int> offsets_;
  std::string error_;
};

// Reads every record of the table with pxlib and compares it, field by
// field and in the same order, with our reading.  Adds gtest failures.
void ExpectSameAsPxlib(const ParadoxTable& table, const std::string& db_path);

}  // namespace dalimor::test
