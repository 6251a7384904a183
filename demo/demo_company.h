#pragma once
// The data folder of one demo company: price list, documents of every
// agenda with their items, journal rows and memo texts, the key counters
// and the register of document series.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/value.h"

namespace dalimor {

// Rows of documents that one company hands to another, so that the second
// holds documents under the same keys as the first (an earlier transfer
// whose documents were edited since).  Memo texts travel as text; the
// receiving company gives them its own keys.
struct DemoCarriedDocument {
  std::string header_table;
  Record header;
  std::string item_table;  // empty for single-table documents
  std::vector<Record> items;
  std::vector<Record> journal;     // rows of "Cdenik.DB" belonging to the document
  std::vector<Record> receivable;  // the row of "Cpz.DB" mirroring an invoice
  // Rows of "SCenik.DB" of the items the item rows name; the receiving
  // company adds those it lacks, as a transfer of the used items would.
  std::vector<Record> price_items;
  std::string upper_text;  // empty: no text
  std::string lower_text;
};

struct DemoCompanyPlan {
  int office = 1;  // part of every document number
  int scale = 1;   // multiplies the document counts
  uint64_t seed = 1;
  bool journal_invoices = true;  // invoices are booked in the journal too
  int missing_item_modulus = 7;  // price-list items g with g % modulus == offset are absent
  int missing_item_offset = 0;
  bool raised_prices = false;  // some prices differ from the common list
  int memo_counter_gap = 0;    // LKlice's memo counter stands this far past the next key
  // The most item lines of a document (DemoOptions::max_lines); 0: each
  // kind's own maximum.
  int max_lines = 0;
  // Block sizes of tables by file name; a table not named gets its usual one.
  std::map<std::string, int, std::less<>> block_sizes;
};

// The rows each table of the company's data folder will hold under `plan`,
// by file name, counted generously (a journal row for the VAT of every
// taxed line, two memo texts and an orphan for every header with texts),
// without documents carried in from another company.
std::map<std::string, uint64_t, std::less<>> ExpectedDemoRows(const DemoCompanyPlan& plan);

// Writes the company's tables into `data_folder` (which gets the
// sub-folders SDATA/S, CDATA/S and LDATA/S).  Documents picked for carrying
// go to `carry_out` (when not null): the first few of each series in the
// last year.  `carried_in` are inserted as they are, with their memo texts
// under new keys.
void WriteDemoCompany(const std::string& data_folder, const DemoCompanyPlan& plan,
                      const std::vector<DemoCarriedDocument>& carried_in,
                      std::vector<DemoCarriedDocument>* carry_out);

}  // namespace dalimor
