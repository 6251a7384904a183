#include "transfer/journal_catalog.h"

#include "engine/run_journal.h"

namespace dalimor {

std::shared_ptr<SqlTable> JournalingCatalog::Open(const std::string& path_text, bool for_write) {
  if (for_write && journal_) journal_->Protect(path_text);
  return tables_.Open(path_text, for_write);
}

}  // namespace dalimor
