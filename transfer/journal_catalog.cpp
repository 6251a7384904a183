#include "transfer/journal_catalog.h"

#include "engine/run_journal.h"
#include "platform/native_io.h"

namespace dalimor {

std::shared_ptr<SqlTable> JournalingCatalog::Open(const std::string& path_text, bool for_write) {
  if (for_write && journal_) journal_->Protect(PathFromUtf8(path_text), TableKeeping::kChangedBytes);
  std::shared_ptr<SqlTable> table = tables_.Open(path_text, for_write);
  // Only a table the run could open counts as changed by it.
  if (for_write && journal_) journal_->Touch(PathFromUtf8(path_text), TableKeeping::kChangedBytes);
  return table;
}

}  // namespace dalimor
