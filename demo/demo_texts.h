#pragma once
// The Czech material the demo documents are made of: business partners,
// stock items, and the texts of cash, bank and internal documents, invoices
// and orders.  Every text is representable in code page 1250.

#include <span>
#include <string_view>

namespace dalimor {

struct DemoPartner {
  std::string_view name;
  std::string_view ico;
  std::string_view dic;  // empty: not a VAT payer (NULL in the tables)
  std::string_view street;
  std::string_view city;
  std::string_view postcode;
  std::string_view account;  // "number/bank"
};

enum class VatRate { kZero, kReduced, kStandard };

struct DemoStockItem {
  std::string_view code;  // PolozkaSkladu
  std::string_view name;
  std::string_view unit;
  VatRate rate;
  double price;  // selling price without VAT in CZK
};

// A line of a cash, bank or internal document: its text and the accounts
// debited and credited.
struct DemoPostingText {
  std::string_view text;
  std::string_view debit;
  std::string_view credit;
};

std::span<const DemoPartner> DemoPartners();
std::span<const DemoStockItem> DemoStockItems();
// Invoice lines that name no stock item (transport, work, services).
std::span<const DemoStockItem> DemoServiceLines();
std::span<const DemoPostingText> DemoCashIncomeTexts();
std::span<const DemoPostingText> DemoCashExpenseTexts();
std::span<const DemoPostingText> DemoBankTexts();
std::span<const DemoPostingText> DemoInternalTexts();
std::span<const std::string_view> DemoInvoiceTexts();
std::span<const std::string_view> DemoOrderTexts();
std::span<const std::string_view> DemoPeople();
std::span<const std::string_view> DemoCentres();   // Stredisko
std::span<const std::string_view> DemoProjects();  // Zakazka

// Upper texts of issued invoices and orders: one paragraph each.
std::span<const std::string_view> DemoInvoiceUpperTexts();
std::span<const std::string_view> DemoOrderUpperTexts();
// Clauses of the terms printed as lower texts, several lines each; a lower
// text is a run of them joined by CR LF.
std::span<const std::string_view> DemoTermsClauses();

// Czech month names in the nominative ("leden" ... "prosinec"), 1-based.
std::string_view DemoMonthName(int month);

}  // namespace dalimor
