#pragma once
// The catalog of a transfer run: Paradox tables, each recorded in the run
// journal before a statement first writes it, so that a failed run can put
// it back as it was.

#include "engine/sql/paradox_catalog.h"

namespace dalimor {

class RunJournal;

class JournalingCatalog final : public SqlCatalog {
 public:
  explicit JournalingCatalog(RunJournal* journal) : journal_(journal) {}
  std::shared_ptr<SqlTable> Open(const std::string& path_text, bool for_write) override;
  std::vector<FieldDef> Describe(const std::string& path_text) override {
    return tables_.Describe(path_text);
  }

 private:
  RunJournal* journal_;
  ParadoxSqlCatalog tables_;
};

}  // namespace dalimor
