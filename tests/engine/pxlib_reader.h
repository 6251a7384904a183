#pragma once
// pxlib, an independent Paradox implementation, as a second reader of the
// tables our engine reads and writes.  Only the .DB and .PX are given to it:
// its Debian build aborts on every .MB.

#include <string>
#include <vector>

#include "engine/paradox/table.h"

#ifdef DALIMOR_HAVE_PXLIB
extern "C" {
#include <paradox.h>
}

namespace dalimor::test {

inline constexpr bool kHavePxlib = true;

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

#else  // no pxlib for this build (a cross-build): no second reader

namespace dalimor::test {

inline constexpr bool kHavePxlib = false;

// Stands in for the reader where pxlib is missing; tests built on it skip
// (DALIMOR_REQUIRE_PXLIB) or leave its checks out (kHavePxlib).
class PxlibDoc {
 public:
  bool Open(const std::string&) { return false; }
  bool UseIndex(const std::string&) { return false; }
  bool Record(int, std::string&) { return false; }
  const std::string& error() const { return error_; }

 private:
  std::string error_ = "pxlib is not available in this build";
};

// Without pxlib there is nothing to compare with: the reading by our own
// engine is all the test checks.
inline void ExpectSameAsPxlib(const ParadoxTable&, const std::string&) {}

}  // namespace dalimor::test

#endif

// Skips the current test, whose subject is pxlib's reading, when pxlib is
// not part of the build.
#define DALIMOR_REQUIRE_PXLIB()                                                               \
  do {                                                                                        \
    if (!::dalimor::test::kHavePxlib) GTEST_SKIP() << "pxlib is not available in this build"; \
  } while (0)
