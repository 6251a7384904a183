#pragma once
// The price list "SCenik.DB" travels row by row through table cursors,
// whole or only as far as the item rows of the transferred agendas name its
// items (by Sklad and PolozkaSkladu).

#include <string>
#include <vector>

#include "transfer/table_step.h"

namespace dalimor {

class TableCursor;

enum class PriceListMode { kAll, kUsed };

struct PriceListOptions {
  bool all = false;                      // ckCenikVseO / ckCenikVseP
  std::vector<std::string> item_tables;  // batch item tables of the ticked agendas, in order
  bool replace = false;                  // a destination row with the key is replaced
};

// The batch item tables that name price-list items, by agenda, in the
// order they are walked.
struct PriceListAgenda {
  const char* agenda;
  const char* item_table;
};
inline constexpr PriceListAgenda kPriceListAgendas[] = {
    {"PF", "SPFP.DB"}, {"VF", "SVFP.DB"}, {"SklOper", "SKLOPERP.DB"}, {"Obj", "SOBJP.DB"}};

// Sets each field of the destination's record to the source's value of the
// field of the same name, for every non-NULL source field the destination
// has; other destination fields stay as they are.
void CopyRecordFields(TableCursor& source, TableCursor& destination);

// Company price list into the batch's (created when missing).  With
// options.replace the batch's rows of the copied items are replaced.
void SendPriceList(TransferContext& context, const std::string& company_data_folder,
                   const std::string& transfer_folder, const PriceListOptions& options);

// The batch's price list into the company's.
void ReceivePriceList(TransferContext& context, const std::string& company_data_folder,
                      const std::string& transfer_folder, const PriceListOptions& options);

// How the tables a pass only reads (the source and the item table) are
// opened: exclusively on a send; read-only on a receive, where they are
// the batch's, which a receive never writes, so that a batch on read-only
// media (a CD, a write-protected stick or share) can be received.
enum class PriceListReads { kExclusive, kReadOnly };

// One pass: all items of `source_table`, or those named by `item_table`,
// into `destination_table`.  The destination is opened exclusively, the
// source and the item table as `reads` says.
void CopyPriceListItems(TransferContext& context, const std::string& source_table,
                        const std::string& destination_table, PriceListMode mode,
                        const std::string& item_table, bool replace, PriceListReads reads);

}  // namespace dalimor
