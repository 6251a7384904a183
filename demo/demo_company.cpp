#include "demo/demo_company.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>

#include "demo/demo_random.h"
#include "demo/demo_table_writer.h"
#include "demo/demo_tables.h"
#include "demo/demo_texts.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr int kFirstYear = 2009;
constexpr int kLastYear = 2011;
// Kalmeo's user number in the UID columns of the rows it wrote itself.
constexpr int64_t kKalmeoUser = 1;

Value Money(double amount) {
  return RoundToHellers(amount);
}
double Round2(double amount) {
  return RoundToHellers(amount);
}

// An amount of whole crowns in [low, high] with random hellers.
double Amount(DemoRandom& r, int low, int high) {
  const int crowns = r.Range(low, high);
  const int hellers = r.Range(0, 99);
  return crowns + hellers / 100.0;
}

// --------------------------------------------------------------- calendar

double YearStart(int year) {
  return DateTimeFromDate(year, 1, 1);
}
int DaysInYear(int year) {
  return IsLeapYear(year) ? 366 : 365;
}

// Documents of a series spread over the year in number order.
double DocumentDate(int year, int n, int count, DemoRandom& r) {
  const int days = DaysInYear(year);
  const int step = std::max(1, days / count);
  const int day = std::min(days - 1, (n - 1) * days / count + r.Range(0, step - 1));
  return YearStart(year) + day;
}

double LastDay() {
  return DateTimeFromDate(kLastYear, 12, 31);
}

// A moment during the working day of `date`.
Timestamp WorkTime(double date, DemoRandom& r) {
  const int minute = 7 * 60 + r.Range(0, 10 * 60);
  const int second = r.Range(0, 59);
  return Timestamp{date + (minute * 60 + second) / 86400.0};
}

int VatPercent(VatRate rate, int year) {
  switch (rate) {
    case VatRate::kZero:
      return 0;
    case VatRate::kReduced:
      return year < 2010 ? 9 : 10;
    case VatRate::kStandard:
      return year < 2010 ? 19 : 20;
  }
  return 0;
}

// -------------------------------------------------------------- series

enum class Kind {
  kReceivedInvoice,
  kIssuedInvoice,
  kStock,
  kOrder,
  kCash,
  kBank,
  kInternal,
  kReceivable,
  kNone
};

struct Series {
  Kind kind;
  std::string_view register_code;  // AGENDA in Ldoklady.DB
  std::string_view series;
  std::string_view name;
  int per_year;  // documents per year at scale 1
};

// Every series of the register, in its key order within an agenda.  A
// series with no documents per year is only registered.
constexpr std::array<Series, 19> kSeries = {{
    {Kind::kReceivedInvoice, "PF", "FP", "Přijaté faktury – tuzemsko", 5},
    {Kind::kReceivedInvoice, "PF", "FP2", "Přijaté faktury – zahraničí", 3},
    {Kind::kIssuedInvoice, "VF", "FV", "Vystavené faktury", 8},
    {Kind::kIssuedInvoice, "VF", "FV2", "Vystavené faktury – prodejna", 4},
    {Kind::kIssuedInvoice, "VF", "FVZ", "Zálohové faktury", 0},
    {Kind::kStock, "SO", "PR", "Příjemky na sklad", 4},
    {Kind::kStock, "SO", "VY", "Výdejky ze skladu", 4},
    {Kind::kOrder, "O", "OP", "Objednávky přijaté", 4},
    {Kind::kOrder, "O", "OV", "Objednávky vydané", 3},
    {Kind::kCash, "P", "P1", "Hlavní pokladna", 8},
    {Kind::kCash, "P", "P2", "Pokladna prodejny", 5},
    {Kind::kBank, "B", "B1", "Běžný účet – Komerční banka", 6},
    {Kind::kBank, "B", "B2", "Běžný účet – ČSOB", 3},
    {Kind::kInternal, "ID", "ID", "Interní doklady", 4},
    {Kind::kInternal, "ID", "IDK", "Interní doklady – kurzové rozdíly", 2},
    {Kind::kReceivable, "PZ", "PZ", "Ostatní pohledávky a závazky", 3},
    {Kind::kReceivable, "PZ", "ZAL", "Poskytnuté a přijaté zálohy", 2},
    {Kind::kNone, "PP", "PPU", "Příkazy k úhradě", 0},
    {Kind::kNone, "PP", "PPI", "Inkasní příkazy", 0},
}};

// The tables of a kind of document: header, items (empty for none).
struct KindTables {
  std::string_view header, items;
};
KindTables TablesOf(const Series& s) {
  switch (s.kind) {
    case Kind::kReceivedInvoice:
      return {"SPFH.DB", "Spfp.DB"};
    case Kind::kIssuedInvoice:
      return {"Svfh.DB", "Svfp.DB"};
    case Kind::kStock:
      return {"SklOperH.DB", "SklOperP.DB"};
    case Kind::kOrder:
      return {"SObjH.DB", "SObjP.DB"};
    case Kind::kCash:
      return {"CPokl.DB", "CPoklSD.DB"};
    case Kind::kBank:
      return {"CBanka.DB", "CBankap.DB"};
    case Kind::kInternal:
      return {"CIntdokl.DB", "CIntDoklSD.DB"};
    case Kind::kReceivable:
      return {"Cpz.DB", {}};
    case Kind::kNone:
      break;
  }
  return {};
}

// How many item lines a document of the series draws: each kind's own
// range, or 1 to `max_lines` when that is set (bank statements keep at
// least two lines where the maximum allows).  Exchange-rate documents
// revalue one account and always have one line.
struct LineCount {
  int low = 0, high = 0;
};
LineCount LinesOf(const Series& s, int max_lines) {
  LineCount n{1, 1};
  switch (s.kind) {
    case Kind::kReceivedInvoice:
      n.high = 4;
      break;
    case Kind::kIssuedInvoice:
      n.high = 5;
      break;
    case Kind::kStock:
      n.high = 6;
      break;
    case Kind::kOrder:
      n.high = 5;
      break;
    case Kind::kCash:
      n.high = 3;
      break;
    case Kind::kBank:
      n = {2, 7};
      break;
    case Kind::kInternal:
      if (s.series == "IDK") return n;
      n.high = 4;
      break;
    case Kind::kReceivable:
    case Kind::kNone:
      return {0, 0};
  }
  if (max_lines > 0) n = {std::min(n.low, max_lines), max_lines};
  return n;
}

struct PriceItem {
  std::string sklad;
  std::string code;
  std::string name;
  std::string unit;
  VatRate rate = VatRate::kStandard;
  double price = 0;     // selling price without VAT
  double purchase = 0;  // purchase price without VAT
};

// Bank accounts of the two bank series.
struct BankAccount {
  std::string_view account;
  std::string_view bank_code;
};
constexpr BankAccount kBankAccounts[] = {{"1928374655/0100", "0100"}, {"271635489/0300", "0300"}};

// Sums of one document's lines by VAT rate.
struct VatSums {
  double zero = 0, reduced = 0, reduced_vat = 0, standard = 0, standard_vat = 0;
  void Add(int percent, bool reduced_rate, double base, double vat) {
    if (percent == 0)
      zero += base;
    else if (reduced_rate) {
      reduced += base;
      reduced_vat += vat;
    } else {
      standard += base;
      standard_vat += vat;
    }
  }
  double Base() const { return Round2(zero + reduced + standard); }
  double Vat() const { return Round2(reduced_vat + standard_vat); }
};

// ------------------------------------------------------------ generator

class CompanyGenerator {
 public:
  CompanyGenerator(const std::string& data_folder, const DemoCompanyPlan& plan) : plan_(plan) {
    for (const DemoTableDef& def : DemoCompanyTableDefs()) {
      const auto size = plan.block_sizes.find(def.file_name);
      tables_.push_back(std::make_unique<DemoTableWriter>(
          data_folder, def, size == plan.block_sizes.end() ? 0 : size->second));
    }
  }

  void Run(const std::vector<DemoCarriedDocument>& carried_in,
           std::vector<DemoCarriedDocument>* carry_out) {
    carry_out_ = carry_out;
    WritePriceList();
    for (const Series& s : kSeries) WriteSeries(s);
    for (const DemoCarriedDocument& d : carried_in) InsertCarried(d);
    WriteRegister();
    WriteKeyCounters();
    for (auto& t : tables_) t->Finish();
  }

 private:
  DemoTableWriter& T(std::string_view file_name) {
    for (auto& t : tables_)
      if (t->file_name() == file_name) return *t;
    throw std::logic_error("no demo table " + std::string(file_name));
  }

  DemoRandom RandomFor(std::string_view what, int64_t number) const {
    return DemoRandom(
        MixSeed(MixSeed(MixSeed(plan_.seed, static_cast<uint64_t>(plan_.office)), what),
                static_cast<uint64_t>(number)));
  }

  std::string Number(int year, int n) const {
    char text[48];
    std::snprintf(text, sizeof text, "%04d%02d%05d", year, plan_.office % 100, n % 100000);
    return text;
  }

  int64_t NextKlic(std::string_view table) {
    int64_t& next = next_klic_[std::string(table)];
    if (next == 0) next = 1;
    return next++;
  }

  void NoteKlic(std::string_view table, int64_t klic) {
    int64_t& next = next_klic_[std::string(table)];
    next = std::max(next, klic + 1);
  }

  // ---------------------------------------------------------- price list

  void WritePriceList() {
    DemoTableWriter& t = T("SCenik.DB");
    const auto base = DemoStockItems();
    const auto partners = DemoPartners();
    for (int variant = 0; variant < plan_.scale; ++variant) {
      for (size_t b = 0; b < base.size(); ++b) {
        const int g = variant * static_cast<int>(base.size()) + static_cast<int>(b);
        if (g % plan_.missing_item_modulus == plan_.missing_item_offset) continue;
        // The item itself is common to the companies; its stock, supplier
        // and notes are each company's own.
        DemoRandom common(MixSeed(plan_.seed ^ 0x5C3A1Eu, static_cast<uint64_t>(g)));
        DemoRandom r = RandomFor("SCenik", g);
        const DemoStockItem& s = base[b];
        PriceItem item;
        item.sklad = b % 5 == 1 ? "MAT" : "ZBOZI";
        item.code = std::string(s.code);
        item.name = std::string(s.name);
        if (variant > 0) {
          item.code += "/" + std::to_string(variant);
          item.name += " (typ " + std::to_string(variant) + ")";
        }
        item.unit = std::string(s.unit);
        item.rate = s.rate;
        item.price = variant == 0 ? s.price : Round2(s.price * (0.8 + common.Unit() * 0.6));
        if (plan_.raised_prices && g % 6 == 1) item.price = Round2(item.price * 1.05);
        item.purchase = Round2(item.price * 0.78);

        DemoRow row(t);
        row["Sklad"] = item.sklad;
        row["PolozkaSkladu"] = item.code;
        row["Nazev"] = item.name;
        row["MJ"] = item.unit;
        if (common.Chance(85)) {
          char ean[32];
          std::snprintf(ean, sizeof ean, "859%010llu",
                        static_cast<unsigned long long>(common.Next() % 10000000000ULL));
          row["EAN"] = std::string(ean);
        }
        row["SazbaDPH"] = static_cast<double>(VatPercent(item.rate, kLastYear));
        row["NakupniCena"] = Money(item.purchase);
        row["ProdejniCena"] = Money(item.price);
        row["ProdejniCenaSDPH"] =
            Money(item.price * (1 + VatPercent(item.rate, kLastYear) / 100.0));
        row["Zasoba"] = static_cast<double>(r.Range(0, 400));
        if (r.Chance(60)) row["MinZasoba"] = static_cast<double>(r.Range(1, 5) * 10);
        if (r.Chance(70)) row["Dodavatel"] = std::string(r.Pick(partners).name);
        row["UcetZasob"] = std::string(item.sklad == "MAT" ? "112000" : "132000");
        row["Aktivni"] = !r.Chance(4);
        if (r.Chance(8))
          row["Poznamka"] = std::string(
              "Dodací lhůta u dodavatele 14 dní.\r\nObjednávat po celých paletách, "
              "menší množství jen po dohodě se skladem.");
        row["Zmeneno"] = WorkTime(YearStart(kLastYear) + r.Range(0, 364), r);
        t.Insert(row.values());
        const std::string key = ItemKey(item.sklad, item.code);
        price_keys_.insert(key);
        if (carry_out_) price_rows_.emplace(key, row.values());
        (item.sklad == "MAT" ? material_ : goods_).push_back(price_list_.size());
        price_list_.push_back(std::move(item));
      }
    }
  }

  static std::string ItemKey(std::string_view sklad, std::string_view code) {
    return std::string(sklad) + '\x1f' + std::string(code);
  }

  const PriceItem& PickItem(DemoRandom& r, std::string_view sklad = {}) {
    const std::vector<size_t>* pool = &goods_;
    if (sklad == "MAT" || (sklad.empty() && r.Chance(25))) pool = &material_;
    return price_list_[(*pool)[static_cast<size_t>(r.Next() % pool->size())]];
  }

  static double Quantity(std::string_view unit, DemoRandom& r) {
    if (unit == "m") return r.Range(5, 250);
    if (unit == "kg") return r.Range(2, 100) / 2.0;
    if (unit == "m2") return r.Range(50, 1200) / 10.0;
    if (unit == "t") return r.Range(1, 12) / 2.0;
    if (unit == "km") return r.Range(8, 180);
    if (unit == "hod") return r.Range(1, 16);
    return r.Range(1, 40);
  }

  // ------------------------------------------------------------ documents

  void WriteSeries(const Series& s) {
    if (s.kind == Kind::kNone || s.per_year == 0) return;
    for (int year = kFirstYear; year <= kLastYear; ++year) {
      const int count = s.per_year * plan_.scale;
      for (int n = 1; n <= count; ++n) {
        DemoRandom r = RandomFor(s.series, year * 1000000LL + n);
        const double date = DocumentDate(year, n, count, r);
        Doc doc{s, Number(year, n), year, n, date};
        doc.carry = carry_out_ && year == kLastYear && n <= 2 * plan_.scale;
        switch (s.kind) {
          case Kind::kReceivedInvoice:
          case Kind::kIssuedInvoice:
            WriteInvoice(doc, r);
            break;
          case Kind::kStock:
            WriteStockMovement(doc, r);
            break;
          case Kind::kOrder:
            WriteOrder(doc, r);
            break;
          case Kind::kCash:
            WriteCash(doc, r);
            break;
          case Kind::kBank:
            WriteBank(doc, r);
            break;
          case Kind::kInternal:
            WriteInternal(doc, r);
            break;
          case Kind::kReceivable:
            WriteReceivable(doc, r);
            break;
          case Kind::kNone:
            break;
        }
        if (year == kLastYear) last_number_[std::string(s.series)] = doc.number;
      }
    }
  }

  // One document being written, and what it hands on when carried.
  struct Doc {
    const Series& series;
    std::string number;
    int year;
    int n;  // number within the series and year
    double date;
    bool carry = false;
    DemoCarriedDocument carried{};
  };

  // Inserts the header, items and journal rows of a document, and keeps a
  // copy of them when the document is carried to the other company.
  void InsertHeader(Doc& doc, DemoTableWriter& t, const DemoRow& row) {
    t.Insert(row.values());
    if (doc.carry) {
      doc.carried.header_table = std::string(t.file_name());
      doc.carried.header = row.values();
    }
  }
  void InsertItem(Doc& doc, DemoTableWriter& t, const DemoRow& row) {
    t.Insert(row.values());
    if (doc.carry) {
      doc.carried.item_table = std::string(t.file_name());
      doc.carried.items.push_back(row.values());
    }
  }
  // An item row naming a price-list item (none for service lines).
  void InsertItem(Doc& doc, DemoTableWriter& t, const DemoRow& row, const PriceItem* item) {
    InsertItem(doc, t, row);
    if (doc.carry && item)
      doc.carried.price_items.push_back(price_rows_.at(ItemKey(item->sklad, item->code)));
  }
  void InsertJournal(Doc& doc, int64_t klic, int poradi, double date, std::string_view debit,
                     std::string_view credit, double amount, std::string_view text,
                     std::string_view ico, std::string_view centre) {
    DemoTableWriter& t = T("Cdenik.DB");
    DemoRow row(t);
    row["DoklRada"] = std::string(doc.series.series);
    row["DoklCislo"] = doc.number;
    row["Klic"] = klic;
    row["Poradi"] = int64_t{poradi};
    row["KdyUcPripad"] = Date{date};
    row["UcetMD"] = std::string(debit);
    row["UcetDal"] = std::string(credit);
    row["Castka"] = Money(std::fabs(amount));
    row["Text"] = DemoText(text);
    row["Stredisko"] = DemoText(centre);
    row["FirmaICO"] = DemoText(ico);
    row["Agenda"] = std::string(doc.series.register_code);
    t.Insert(row.values());
    if (doc.carry) doc.carried.journal.push_back(row.values());
  }

  // The older version of a carried document, as the other company holds
  // it: another text in the header, the last item row missing.
  void Carry(Doc& doc, std::string upper, std::string lower) {
    if (!doc.carry) return;
    DemoCarriedDocument& c = doc.carried;
    DemoTableWriter& header = T(c.header_table);
    DemoRow h(header, c.header);
    h["Text"] = std::string("Původní verze dokladu (před opravou)");
    c.header = h.values();
    if (c.items.size() > 1) {
      DemoTableWriter& items = T(c.item_table);
      const Value dropped = c.items.back()[items.Index("Klic")];
      c.items.pop_back();
      const size_t klic = T("Cdenik.DB").Index("Klic");
      std::erase_if(c.journal, [&](const Record& j) { return j[klic] == dropped; });
    }
    if (!upper.empty()) upper = "Původní text: " + upper;
    if (const size_t line = lower.find("\r\n"); line != std::string::npos) lower.resize(line);
    c.upper_text = std::move(upper);
    c.lower_text = std::move(lower);
    carry_out_->push_back(std::move(c));
  }

  static std::string_view Person(DemoRandom& r) { return r.Pick(DemoPeople()); }

  void SetPartner(DemoRow& row, const DemoPartner& p, bool address) {
    row["FirmaICO"] = std::string(p.ico);
    row["FirmaNazev"] = std::string(p.name);
    if (!address) return;
    row["FirmaDIC"] = DemoText(p.dic);
    row["FirmaUlice"] = std::string(p.street);
    row["FirmaMisto"] = std::string(p.city);
    row["FirmaPSC"] = std::string(p.postcode);
  }

  static void SetVatSums(DemoRow& row, const VatSums& sums) {
    row["ZakladOsvob"] = Money(sums.zero);
    row["ZakladSnizena"] = Money(sums.reduced);
    row["DPHSnizena"] = Money(sums.reduced_vat);
    row["ZakladZakladni"] = Money(sums.standard);
    row["DPHZakladni"] = Money(sums.standard_vat);
  }

  // A memo row of LMemo.DB under the next key; now and then a row of a
  // deleted document stays behind, as in real data.
  int64_t AddMemo(const std::string& text, Timestamp changed, DemoRandom& r) {
    DemoTableWriter& t = T("LMemo.DB");
    if (r.Chance(3)) {
      DemoRow orphan(t);
      orphan["Klic"] = next_memo_++;
      orphan["Poznamka"] = std::string("Text stornovaného dokladu – nepoužívat.");
      orphan["Zmeneno"] = changed;
      orphan["UID"] = kKalmeoUser;
      t.Insert(orphan.values());
    }
    DemoRow row(t);
    const int64_t key = next_memo_++;
    row["Klic"] = key;
    row["Poznamka"] = text;
    row["Zmeneno"] = changed;
    row["UID"] = kKalmeoUser;
    t.Insert(row.values());
    return key;
  }

  // Sets the two text keys of a header: a memo key, 0 for none, and now and
  // then NULL where a text was never entered.
  void SetMemoKeys(DemoRow& row, const std::string& upper, const std::string& lower,
                   Timestamp changed, DemoRandom& r) {
    row["TextNahoruKlic"] = upper.empty() ? (r.Chance(10) ? Value{} : Value{int64_t{0}})
                                          : Value{AddMemo(upper, changed, r)};
    row["TextDoluKlic"] = lower.empty() ? (r.Chance(10) ? Value{} : Value{int64_t{0}})
                                        : Value{AddMemo(lower, changed, r)};
  }

  // Terms and thanks as lower text: a few clauses, sometimes the whole
  // numbered terms.
  std::string TermsText(DemoRandom& r) {
    const auto clauses = DemoTermsClauses();
    std::string text;
    if (r.Chance(20)) {
      // The numbered terms; the first time and now and then after with
      // amendments that make the text run over several kilobytes.
      const int amendments = !long_text_written_ || r.Chance(25) ? r.Range(3, 5) : 0;
      long_text_written_ = true;
      for (int part = 0; part <= amendments; ++part) {
        text += part == 0 ? std::string("Všeobecné obchodní podmínky:")
                          : "\r\n\r\nDodatek č. " + std::to_string(part) + " k podmínkám:";
        for (size_t i = 0; i < clauses.size(); ++i)
          text += "\r\n" + std::to_string(i + 1) + ". " + std::string(clauses[i]);
      }
      return text;
    }
    const int count = r.Range(1, 4);
    const size_t first = static_cast<size_t>(r.Next() % clauses.size());
    for (int i = 0; i < count; ++i) {
      if (i > 0) text += "\r\n";
      text += clauses[(first + static_cast<size_t>(i)) % clauses.size()];
    }
    return text;
  }

  // Item rows of invoices, stock movements and orders.
  struct Line {
    const PriceItem* item = nullptr;  // nullptr: a service line
    const DemoStockItem* service = nullptr;
    double quantity = 0, price = 0, discount = 0, base = 0, vat = 0;
    int percent = 0;
    int64_t klic = 0;
  };

  int LineCountOf(const Doc& doc, DemoRandom& r) const {
    const LineCount n = LinesOf(doc.series, plan_.max_lines);
    return r.Range(n.low, n.high);
  }

  std::vector<Line> MakeLines(Doc& doc, DemoRandom& r, bool purchase, bool services,
                              std::string_view sklad = {}) {
    std::vector<Line> lines(static_cast<size_t>(LineCountOf(doc, r)));
    for (Line& line : lines) {
      std::string_view unit;
      VatRate rate;
      if (services && r.Chance(12)) {
        line.service = &r.Pick(DemoServiceLines());
        unit = line.service->unit;
        rate = line.service->rate;
        line.price = line.service->price;
      } else {
        line.item = &PickItem(r, sklad);
        unit = line.item->unit;
        rate = line.item->rate;
        line.price = purchase ? line.item->purchase : line.item->price;
      }
      line.quantity = Quantity(unit, r);
      line.discount = !purchase && r.Chance(15) ? r.Range(1, 3) * 5.0 : 0.0;
      line.percent = VatPercent(rate, doc.year);
      line.base = Round2(line.quantity * line.price * (1 - line.discount / 100.0));
      line.vat = Round2(line.base * line.percent / 100.0);
    }
    return lines;
  }

  void SetLine(DemoRow& row, const Doc& doc, const Line& line) {
    row["DoklSRada"] = std::string(doc.series.series);
    row["DoklSCislo"] = doc.number;
    row["Klic"] = line.klic;
    if (line.item) {
      row["Sklad"] = line.item->sklad;
      row["PolozkaSkladu"] = line.item->code;
      row["Nazev"] = line.item->name;
      row["MJ"] = line.item->unit;
    } else {
      row["Nazev"] = std::string(line.service->name);
      row["MJ"] = std::string(line.service->unit);
    }
    row["Mnozstvi"] = line.quantity;
    row["CenaMJ"] = Money(line.price);
    row["SlevaProc"] = line.discount;
    row["SazbaDPH"] = static_cast<double>(line.percent);
    row["CelkemBezDPH"] = Money(line.base);
    row["DPH"] = Money(line.vat);
    row["CelkemSDPH"] = Money(line.base + line.vat);
  }

  static bool ReducedRate(int percent) { return percent == 9 || percent == 10; }

  void WriteInvoice(Doc& doc, DemoRandom& r) {
    const bool issued = doc.series.kind == Kind::kIssuedInvoice;
    const bool foreign = doc.series.series == "FP2";
    DemoTableWriter& ht = T(issued ? "Svfh.DB" : "SPFH.DB");
    DemoTableWriter& it = T(issued ? "Svfp.DB" : "Spfp.DB");
    const DemoPartner& partner = r.Pick(DemoPartners());
    std::vector<Line> lines = MakeLines(doc, r, !issued, true);
    VatSums sums;
    for (Line& line : lines) {
      line.klic = NextKlic(it.file_name());
      sums.Add(line.percent, ReducedRate(line.percent), line.base, line.vat);
    }
    const double total = Round2(sums.Base() + sums.Vat());
    const double rounding = issued ? Round2(std::round(total) - total) : 0.0;
    const double due = doc.date + (r.Chance(70) ? 14 : 30);
    const bool recent = doc.date > LastDay() - 45;
    const bool paid = r.Chance(recent ? 40 : 90);
    const double paid_on = std::min(LastDay(), due + r.Range(-10, 12));
    const std::string variable = doc.number.substr(0, 4) + doc.number.substr(5);

    DemoRow h(ht);
    h["DoklSRada"] = std::string(doc.series.series);
    h["DoklSCislo"] = doc.number;
    h["VarSymbol"] = issued ? variable : std::to_string(r.Range(100000, 99999999));
    h["KdyVystaveno"] = Date{doc.date};
    h["KdyUskutUP"] = Date{doc.date - (r.Chance(30) ? r.Range(1, 5) : 0)};
    h["KdySplatno"] = Date{due};
    if (paid) h["KdyZaplaceno"] = Date{paid_on};
    SetPartner(h, partner, true);
    h["Text"] = std::string(r.Pick(DemoInvoiceTexts()));
    h["Mena"] = std::string(foreign ? "EUR" : "CZK");
    h["Kurz"] = foreign ? 24.5 + r.Range(0, 200) / 100.0 : 1.0;
    SetVatSums(h, sums);
    h["CelkemBezDPH"] = Money(sums.Base());
    h["CelkemDPH"] = Money(sums.Vat());
    h["CelkemSDPH"] = Money(total + rounding);
    h["Zaplaceno"] = Money(paid ? total + rounding : 0.0);
    h["UcetMD"] = std::string(issued ? "311000" : "504000");
    h["UcetDal"] = std::string(issued ? "604000" : "321000");
    if (r.Chance(40)) h["Stredisko"] = std::string(r.Pick(DemoCentres()));
    if (r.Chance(25)) h["Zakazka"] = std::string(r.Pick(DemoProjects()));
    std::string upper, lower;
    if (issued) {
      h["KonstSymbol"] = std::string(r.Chance(80) ? "0308" : "0008");
      if (r.Chance(50))
        h["Objednavka"] = "OBJ-" + std::to_string(doc.year) + "/" + std::to_string(r.Range(1, 400));
      h["FormaUhrady"] = std::string(r.Chance(70)   ? "převodem"
                                     : r.Chance(60) ? "hotově"
                                                    : "dobírkou");
      h["Zaokrouhleni"] = Money(rounding);
      h["Vystavil"] = std::string(Person(r));
      const Timestamp changed = WorkTime(doc.date, r);
      if (r.Chance(70)) upper = std::string(r.Pick(DemoInvoiceUpperTexts()));
      if (r.Chance(60)) lower = TermsText(r);
      SetMemoKeys(h, upper, lower, changed, r);
      h["Zmeneno"] = changed;
    } else {
      h["CisloDokladuDod"] = std::to_string(doc.year) + "/" + std::to_string(r.Range(1000, 98000));
      if (r.Chance(10))
        h["Poznamka"] = std::string(
            "Faktura došla poštou se zpožděním,\r\nsplatnost dohodnuta "
            "telefonicky s dodavatelem.");
    }
    InsertHeader(doc, ht, h);

    for (const Line& line : lines) {
      DemoRow row(it);
      SetLine(row, doc, line);
      const std::string_view account = issued ? (line.item ? "604000" : "602000")
                                              : (!line.item                  ? "518000"
                                                 : line.item->sklad == "MAT" ? "112000"
                                                                             : "132000");
      row[issued ? "UcetDal" : "UcetMD"] = std::string(account);
      if (r.Chance(30)) row["Stredisko"] = std::string(r.Pick(DemoCentres()));
      InsertItem(doc, it, row, line.item);
      if (plan_.journal_invoices) {
        const std::string text = line.item ? line.item->name : std::string(line.service->name);
        if (issued) {
          InsertJournal(doc, line.klic, 1, doc.date, "311000", account, line.base, text,
                        partner.ico, {});
          if (line.vat > 0)
            InsertJournal(doc, line.klic, 2, doc.date, "311000", "343000", line.vat,
                          "DPH " + std::to_string(line.percent) + " %", partner.ico, {});
        } else {
          InsertJournal(doc, line.klic, 1, doc.date, account, "321000", line.base, text,
                        partner.ico, {});
          if (line.vat > 0)
            InsertJournal(doc, line.klic, 2, doc.date, "343000", "321000", line.vat,
                          "DPH " + std::to_string(line.percent) + " %", partner.ico, {});
        }
      }
    }

    // The invoice as a receivable or payable.
    DemoTableWriter& pz = T("Cpz.DB");
    DemoRow p(pz);
    p["DoklSRada"] = std::string(doc.series.series);
    p["DoklSCislo"] = doc.number;
    p["TypPZ"] = std::string(issued ? "P" : "Z");
    p["KdyVystaveno"] = Date{doc.date};
    p["KdySplatno"] = Date{due};
    if (paid) p["KdyZaplaceno"] = Date{paid_on};
    p["VarSymbol"] = h["VarSymbol"];
    p["FirmaICO"] = std::string(partner.ico);
    p["FirmaNazev"] = std::string(partner.name);
    p["Text"] = h["Text"];
    p["Mena"] = h["Mena"];
    p["Castka"] = Money(total + rounding);
    p["Zaplaceno"] = Money(paid ? total + rounding : 0.0);
    p["Zbyva"] = Money(paid ? 0.0 : total + rounding);
    p["Ucet"] = std::string(issued ? "311000" : "321000");
    pz.Insert(p.values());
    if (doc.carry) doc.carried.receivable.push_back(p.values());
    Carry(doc, upper, lower);
  }

  void WriteStockMovement(Doc& doc, DemoRandom& r) {
    const bool receipt = doc.series.series == "PR";
    DemoTableWriter& ht = T("SklOperH.DB");
    DemoTableWriter& it = T("SklOperP.DB");
    const std::string sklad = r.Chance(70) ? "ZBOZI" : "MAT";
    std::vector<Line> lines = MakeLines(doc, r, receipt, false, sklad);
    double base = 0, total = 0;
    for (Line& line : lines) {
      line.klic = NextKlic(it.file_name());
      base += line.base;
      total += line.base + line.vat;
    }
    DemoRow h(ht);
    h["DoklSRada"] = std::string(doc.series.series);
    h["DoklSCislo"] = doc.number;
    h["TypOperace"] = std::string(receipt ? "P" : "V");
    h["Sklad"] = sklad;
    h["KdyVystaveno"] = Date{doc.date};
    h["KdyUskutUP"] = Date{doc.date};
    if (receipt || r.Chance(50)) {
      const DemoPartner& partner = r.Pick(DemoPartners());
      SetPartner(h, partner, false);
    }
    h["Text"] = std::string(receipt        ? "Příjem zboží na sklad"
                            : r.Chance(50) ? "Výdej do spotřeby"
                                           : "Výdej zboží odběrateli");
    h["CelkemBezDPH"] = Money(base);
    h["CelkemSDPH"] = Money(total);
    h["PocetPolozek"] = static_cast<int64_t>(lines.size());
    if (r.Chance(60))
      h["SouvisejiciDoklad"] = std::string(receipt ? "FP" : "FV") + Number(doc.year, r.Range(1, 5));
    h["Vystavil"] = std::string(Person(r));
    InsertHeader(doc, ht, h);
    for (const Line& line : lines) {
      DemoRow row(it);
      SetLine(row, doc, line);
      const std::string stock = sklad == "MAT" ? "112000" : "132000";
      row["UcetMD"] = receipt ? stock : std::string(sklad == "MAT" ? "501000" : "504000");
      row["UcetDal"] = receipt ? std::string("131000") : stock;
      InsertItem(doc, it, row, line.item);
    }
    Carry(doc, {}, {});
  }

  void WriteOrder(Doc& doc, DemoRandom& r) {
    const bool received = doc.series.series == "OP";
    DemoTableWriter& ht = T("SObjH.DB");
    DemoTableWriter& it = T("SObjP.DB");
    const DemoPartner& partner = r.Pick(DemoPartners());
    std::vector<Line> lines = MakeLines(doc, r, !received, false);
    double base = 0, total = 0;
    for (Line& line : lines) {
      line.klic = NextKlic(it.file_name());
      base += line.base;
      total += line.base + line.vat;
    }
    const bool done = doc.date < LastDay() - 60 ? r.Chance(90) : r.Chance(30);
    const Timestamp changed = WorkTime(doc.date, r);
    DemoRow h(ht);
    h["DoklSRada"] = std::string(doc.series.series);
    h["DoklSCislo"] = doc.number;
    h["TypObjednavky"] = std::string(received ? "P" : "V");
    if (received && r.Chance(60))
      h["CisloObjPartnera"] =
          "OBJ-" + std::to_string(doc.year) + "/" + std::to_string(r.Range(1, 400));
    h["Datum"] = Date{doc.date};
    if (r.Chance(80)) h["DatumDodani"] = Date{doc.date + r.Range(3, 21)};
    SetPartner(h, partner, true);
    h["Text"] = std::string(r.Pick(DemoOrderTexts()));
    h["CelkemBezDPH"] = Money(base);
    h["CelkemSDPH"] = Money(total);
    h["Vyrizeno"] = done;
    h["Vystavil"] = std::string(Person(r));
    std::string upper, lower;
    if (r.Chance(60)) upper = std::string(r.Pick(DemoOrderUpperTexts()));
    if (r.Chance(40)) lower = TermsText(r);
    SetMemoKeys(h, upper, lower, changed, r);
    h["Zmeneno"] = changed;
    InsertHeader(doc, ht, h);
    for (const Line& line : lines) {
      DemoRow row(it);
      SetLine(row, doc, line);
      if (done)
        row["DodanoMnozstvi"] = line.quantity;
      else if (r.Chance(50))
        row["DodanoMnozstvi"] = std::floor(line.quantity * r.Unit());
      InsertItem(doc, it, row, line.item);
    }
    Carry(doc, upper, lower);
  }

  void WriteCash(Doc& doc, DemoRandom& r) {
    const bool income = r.Chance(45);
    DemoTableWriter& ht = T("CPokl.DB");
    DemoTableWriter& it = T("CPoklSD.DB");
    const auto texts = income ? DemoCashIncomeTexts() : DemoCashExpenseTexts();
    const int count = LineCountOf(doc, r);
    const std::string cash_account = doc.series.series == "P1" ? "211000" : "211100";
    struct CashLine {
      const DemoPostingText* text;
      int percent;
      double base, vat;
      int64_t klic;
    };
    std::vector<CashLine> lines;
    VatSums sums;
    for (int i = 0; i < count; ++i) {
      const DemoPostingText& t = r.Pick(texts);
      // Transfers, advances and settled invoices carry no VAT.
      const std::string_view other = income ? t.credit : t.debit;
      const bool taxed = other.starts_with("5") || other.starts_with("6");
      const bool reduced = taxed && r.Chance(15);
      const int percent =
          taxed ? VatPercent(reduced ? VatRate::kReduced : VatRate::kStandard, doc.year) : 0;
      const double base = Amount(r, 50, taxed ? 4000 : 30000);
      const double vat = Round2(base * percent / 100.0);
      lines.push_back({&t, percent, base, vat, NextKlic(it.file_name())});
      sums.Add(percent, reduced, base, vat);
    }
    const bool with_partner = r.Chance(40);
    const DemoPartner& partner = r.Pick(DemoPartners());
    DemoRow h(ht);
    h["DoklRada"] = std::string(doc.series.series);
    h["DoklCislo"] = doc.number;
    h["TypDokladu"] = std::string(income ? "P" : "V");
    h["KdyVystaveno"] = Date{doc.date};
    h["KdyUcPripad"] = Date{doc.date};
    if (with_partner) SetPartner(h, partner, false);
    h["Text"] = std::string(lines.front().text->text);
    h["Mena"] = std::string("CZK");
    h["Kurz"] = 1.0;
    SetVatSums(h, sums);
    h["Castka"] = Money(sums.Base() + sums.Vat());
    h["UcetPokladny"] = cash_account;
    h["Vystavil"] = std::string(Person(r));
    if (r.Chance(70)) h["PrijalVydal"] = std::string(Person(r));
    InsertHeader(doc, ht, h);
    const std::string_view ico = with_partner ? partner.ico : std::string_view{};
    for (const CashLine& line : lines) {
      DemoRow row(it);
      const std::string debit =
          line.text->debit == "211000" ? cash_account : std::string(line.text->debit);
      const std::string credit =
          line.text->credit == "211000" ? cash_account : std::string(line.text->credit);
      row["DoklRada"] = std::string(doc.series.series);
      row["DoklCislo"] = doc.number;
      row["Klic"] = line.klic;
      row["Text"] = std::string(line.text->text);
      row["SazbaDPH"] = static_cast<double>(line.percent);
      row["Zaklad"] = Money(line.base);
      row["DPH"] = Money(line.vat);
      row["Castka"] = Money(line.base + line.vat);
      row["UcetMD"] = debit;
      row["UcetDal"] = credit;
      if (r.Chance(30)) row["Stredisko"] = std::string(r.Pick(DemoCentres()));
      if (r.Chance(15)) row["Zakazka"] = std::string(r.Pick(DemoProjects()));
      InsertItem(doc, it, row);
      InsertJournal(doc, line.klic, 1, doc.date, debit, credit, line.base, line.text->text, ico,
                    {});
      if (line.vat > 0)
        InsertJournal(doc, line.klic, 2, doc.date, income ? cash_account : "343000",
                      income ? "343000" : cash_account, line.vat,
                      "DPH " + std::to_string(line.percent) + " %", ico, {});
    }
    Carry(doc, {}, {});
  }

  void WriteBank(Doc& doc, DemoRandom& r) {
    const bool second = doc.series.series == "B2";
    const BankAccount& account = kBankAccounts[second ? 1 : 0];
    const std::string bank_gl = second ? "221002" : "221001";
    DemoTableWriter& ht = T("CBanka.DB");
    DemoTableWriter& it = T("CBankap.DB");
    double& balance = bank_balance_[std::string(doc.series.series)];
    if (balance == 0) balance = second ? 84250.50 : 312480.00;
    const double opening = balance;
    double income = 0, expense = 0;
    struct BankLine {
      const DemoPostingText* text;
      double amount;  // + income, - expense
      int64_t klic;
      const DemoPartner* partner;
    };
    std::vector<BankLine> lines;
    const int count = LineCountOf(doc, r);
    for (int i = 0; i < count; ++i) {
      const DemoPostingText& t = r.Pick(DemoBankTexts());
      const bool in = t.debit == "221001";
      const bool small = t.text.starts_with("Poplatky") || t.text.starts_with("Připsané");
      const double amount = Round2(small ? Amount(r, 35, 480) : Amount(r, 800, 180000));
      (in ? income : expense) += amount;
      const DemoPartner* partner = t.text.starts_with("Úhrada") || t.text.starts_with("Nájemné")
                                       ? &r.Pick(DemoPartners())
                                       : nullptr;
      lines.push_back({&t, in ? amount : -amount, NextKlic(it.file_name()), partner});
    }
    balance = Round2(opening + income - expense);
    DemoRow h(ht);
    h["DoklRada"] = std::string(doc.series.series);
    h["DoklCislo"] = doc.number;
    h["CisloVypisu"] = int64_t{doc.n};
    h["KdyVystaveno"] = Date{doc.date};
    h["BankovniUcet"] = std::string(account.account);
    h["KodBanky"] = std::string(account.bank_code);
    h["Mena"] = std::string("CZK");
    h["PocatecniZustatek"] = Money(opening);
    h["Prijmy"] = Money(income);
    h["Vydaje"] = Money(expense);
    h["KonecnyZustatek"] = Money(balance);
    h["Text"] =
        "Výpis z účtu č. " + std::to_string(r.Range(1, 12)) + "/" + std::to_string(doc.year);
    InsertHeader(doc, ht, h);
    for (const BankLine& line : lines) {
      const std::string debit =
          line.text->debit == "221001" ? bank_gl : std::string(line.text->debit);
      const std::string credit =
          line.text->credit == "221001" ? bank_gl : std::string(line.text->credit);
      const double booked = doc.date - r.Range(0, 2);
      DemoRow row(it);
      row["DoklRada"] = std::string(doc.series.series);
      row["DoklCislo"] = doc.number;
      row["Klic"] = line.klic;
      row["KdyUcPripad"] = Date{booked};
      if (line.partner) {
        row["VarSymbol"] = std::to_string(doc.year) + std::to_string(r.Range(100000, 999999));
        row["KonstSymbol"] = std::string("0308");
        row["ProtiUcet"] = std::string(line.partner->account);
        row["FirmaNazev"] = std::string(line.partner->name);
      } else if (r.Chance(20)) {
        row["SpecSymbol"] = std::to_string(r.Range(1000, 99999));
      }
      row["Text"] = std::string(line.text->text);
      row["Castka"] = Money(line.amount);
      row["UcetMD"] = debit;
      row["UcetDal"] = credit;
      if (r.Chance(20)) row["Stredisko"] = std::string(r.Pick(DemoCentres()));
      InsertItem(doc, it, row);
      InsertJournal(doc, line.klic, 1, booked, debit, credit, line.amount, line.text->text,
                    line.partner ? line.partner->ico : std::string_view{}, {});
    }
    Carry(doc, {}, {});
  }

  void WriteInternal(Doc& doc, DemoRandom& r) {
    DemoTableWriter& ht = T("CIntdokl.DB");
    DemoTableWriter& it = T("CIntDoklSD.DB");
    const bool exchange = doc.series.series == "IDK";
    const int count = exchange ? 1 : LineCountOf(doc, r);
    struct InternalLine {
      DemoPostingText text;
      double amount;
      int64_t klic;
      std::string_view centre;
      std::string_view project;
    };
    std::vector<InternalLine> lines;
    double total = 0;
    for (int i = 0; i < count; ++i) {
      DemoPostingText t = exchange ? DemoPostingText{"Kurzový rozdíl – přecenění účtu v EUR",
                                                     r.Chance(50) ? "563000" : "221002", "221002"}
                                   : r.Pick(DemoInternalTexts());
      if (exchange && t.debit == "221002") t.credit = "663000";
      const double amount = Round2(Amount(r, 100, 90000));
      total += amount;
      lines.push_back({t, amount, NextKlic(it.file_name()),
                       r.Chance(40) ? r.Pick(DemoCentres()) : std::string_view{},
                       r.Chance(20) ? r.Pick(DemoProjects()) : std::string_view{}});
    }
    DemoRow h(ht);
    h["DoklRada"] = std::string(doc.series.series);
    h["DoklCislo"] = doc.number;
    h["KdyVystaveno"] = Date{doc.date};
    h["KdyUcPripad"] = Date{doc.date};
    h["Text"] = std::string(lines.front().text.text);
    h["Castka"] = Money(total);
    h["Vystavil"] = std::string(Person(r));
    if (r.Chance(15))
      h["Poznamka"] =
          "Schváleno vedoucím střediska dne " + std::to_string(DateFromDateTime(doc.date).day) +
          ". " + std::to_string(DateFromDateTime(doc.date).month) + ". " +
          std::to_string(doc.year) + ".\r\nPodklady uloženy v šanonu „Interní doklady“.";
    InsertHeader(doc, ht, h);
    for (const InternalLine& line : lines) {
      DemoRow row(it);
      row["DoklRada"] = std::string(doc.series.series);
      row["DoklCislo"] = doc.number;
      row["Klic"] = line.klic;
      row["Text"] = std::string(line.text.text);
      row["Castka"] = Money(line.amount);
      row["UcetMD"] = std::string(line.text.debit);
      row["UcetDal"] = std::string(line.text.credit);
      row["Stredisko"] = DemoText(line.centre);
      row["Zakazka"] = DemoText(line.project);
      InsertItem(doc, it, row);
      InsertJournal(doc, line.klic, 1, doc.date, line.text.debit, line.text.credit, line.amount,
                    line.text.text, {}, line.centre);
    }
    Carry(doc, {}, {});
  }

  void WriteReceivable(Doc& doc, DemoRandom& r) {
    DemoTableWriter& t = T("Cpz.DB");
    const bool advance = doc.series.series == "ZAL";
    const bool receivable = r.Chance(50);
    const DemoPartner& partner = r.Pick(DemoPartners());
    const double amount = Round2(Amount(r, 500, 120000));
    const double due = doc.date + 30;
    const bool paid = r.Chance(doc.date > LastDay() - 60 ? 30 : 80);
    const double paid_amount = paid ? amount : r.Chance(30) ? Round2(amount / 2) : 0.0;
    DemoRow row(t);
    row["DoklSRada"] = std::string(doc.series.series);
    row["DoklSCislo"] = doc.number;
    row["TypPZ"] = std::string(receivable ? "P" : "Z");
    row["KdyVystaveno"] = Date{doc.date};
    row["KdySplatno"] = Date{due};
    if (paid) row["KdyZaplaceno"] = Date{std::min(LastDay(), due + r.Range(-20, 10))};
    row["VarSymbol"] = doc.number.substr(2);
    row["FirmaICO"] = std::string(partner.ico);
    row["FirmaNazev"] = std::string(partner.name);
    row["Text"] = std::string(
        advance
            ? (receivable ? "Přijatá záloha na dodávku" : "Poskytnutá záloha dodavateli")
            : (receivable ? "Přefakturace nákladů na dopravu" : "Smluvní pokuta za pozdní dodání"));
    row["Mena"] = std::string("CZK");
    row["Castka"] = Money(amount);
    row["Zaplaceno"] = Money(paid_amount);
    row["Zbyva"] = Money(amount - paid_amount);
    row["Ucet"] = std::string(advance ? (receivable ? "324000" : "314000")
                                      : (receivable ? "378000" : "379000"));
    InsertHeader(doc, t, row);
    Carry(doc, {}, {});
  }

  // ------------------------------------------------------- carried in

  void InsertCarried(const DemoCarriedDocument& d) {
    DemoTableWriter& ht = T(d.header_table);
    DemoRow h(ht, d.header);
    if (d.header_table == "Svfh.DB" || d.header_table == "SObjH.DB") {
      DemoRandom r = RandomFor("carried" + d.header_table, static_cast<int64_t>(next_memo_));
      const auto changed = std::get<Timestamp>(h["Zmeneno"]);
      if (!d.upper_text.empty()) h["TextNahoruKlic"] = AddMemo(d.upper_text, changed, r);
      if (!d.lower_text.empty()) h["TextDoluKlic"] = AddMemo(d.lower_text, changed, r);
    }
    ht.Insert(h.values());
    if (!d.items.empty()) {
      DemoTableWriter& it = T(d.item_table);
      const size_t klic = it.Index("Klic");
      for (const Record& item : d.items) {
        it.Insert(item);
        NoteKlic(it.file_name(), std::get<int64_t>(item[klic]));
      }
    }
    for (const Record& j : d.journal) T("Cdenik.DB").Insert(j);
    for (const Record& p : d.receivable) T("Cpz.DB").Insert(p);
    DemoTableWriter& prices = T("SCenik.DB");
    const size_t sklad = prices.Index("Sklad"), code = prices.Index("PolozkaSkladu");
    for (const Record& p : d.price_items) {
      const std::string key =
          ItemKey(std::get<std::string>(p[sklad]), std::get<std::string>(p[code]));
      if (price_keys_.insert(key).second) prices.Insert(p);
    }
  }

  // -------------------------------------------------- register, counters

  void WriteRegister() {
    DemoTableWriter& t = T("Ldoklady.DB");
    std::string previous_agenda;
    for (const Series& s : kSeries) {
      DemoRow row(t);
      row["AGENDA"] = std::string(s.register_code);
      row["RADA"] = std::string(s.series);
      row["Nazev"] = std::string(s.name);
      const auto last = last_number_.find(std::string(s.series));
      if (last != last_number_.end()) row["PosledniCislo"] = last->second;
      row["Vychozi"] = previous_agenda != s.register_code;
      row["UID"] = kKalmeoUser;
      previous_agenda = std::string(s.register_code);
      t.Insert(row.values());
    }
  }

  void WriteKeyCounters() {
    DemoTableWriter& t = T("LKlice.DB");
    auto add = [&](std::string_view name, int64_t next) {
      DemoRow row(t);
      row["Nazev"] = std::string(name);
      row["DalsiHodnota"] = next;
      row["UID"] = kKalmeoUser;
      t.Insert(row.values());
    };
    add("LMemo.DB", next_memo_ + plan_.memo_counter_gap);
    for (const auto& [table, next] : next_klic_) add(table, next);
    // Counters of Kalmeo's own tables that the demo does not fill.
    add("SAdresar.DB", 1 + 26 * plan_.office);
    add("LUzivatele.DB", 9);
  }

  const DemoCompanyPlan& plan_;
  std::vector<std::unique_ptr<DemoTableWriter>> tables_;
  std::vector<DemoCarriedDocument>* carry_out_ = nullptr;
  std::vector<PriceItem> price_list_;
  std::vector<size_t> goods_, material_;
  std::set<std::string> price_keys_;
  std::map<std::string, Record> price_rows_;  // by ItemKey, kept while carrying
  int64_t next_memo_ = 1;
  bool long_text_written_ = false;
  std::map<std::string, int64_t> next_klic_;
  std::map<std::string, std::string> last_number_;
  std::map<std::string, double> bank_balance_;
};

}  // namespace

std::map<std::string, uint64_t, std::less<>> ExpectedDemoRows(const DemoCompanyPlan& plan) {
  std::map<std::string, double, std::less<>> rows;
  for (const DemoTableDef& def : DemoCompanyTableDefs()) rows[std::string(def.file_name)] = 0;
  for (const Series& s : kSeries) {
    if (s.kind == Kind::kNone || s.per_year == 0) continue;
    const double documents =
        static_cast<double>(s.per_year) * plan.scale * (kLastYear - kFirstYear + 1);
    const KindTables tables = TablesOf(s);
    rows[std::string(tables.header)] += documents;
    if (s.kind == Kind::kReceivable) continue;
    const LineCount n = LinesOf(s, plan.max_lines);
    const double lines = documents * (n.low + n.high) / 2.0;
    rows[std::string(tables.items)] += lines;
    switch (s.kind) {
      case Kind::kReceivedInvoice:
      case Kind::kIssuedInvoice:
        rows["Cpz.DB"] += documents;
        if (plan.journal_invoices) rows["Cdenik.DB"] += 2 * lines;
        if (s.kind == Kind::kIssuedInvoice) rows["LMemo.DB"] += 3 * documents;
        break;
      case Kind::kOrder:
        rows["LMemo.DB"] += 3 * documents;
        break;
      case Kind::kCash:
        rows["Cdenik.DB"] += 2 * lines;
        break;
      case Kind::kBank:
      case Kind::kInternal:
        rows["Cdenik.DB"] += lines;
        break;
      default:
        break;
    }
  }
  rows["SCenik.DB"] += static_cast<double>(DemoStockItems().size()) * plan.scale;
  rows["Ldoklady.DB"] += static_cast<double>(kSeries.size());
  rows["LKlice.DB"] += 16;  // a counter for each item table, memos and a few more
  std::map<std::string, uint64_t, std::less<>> out;
  for (const auto& [table, count] : rows) out[table] = static_cast<uint64_t>(std::ceil(count));
  return out;
}

void WriteDemoCompany(const std::string& data_folder, const DemoCompanyPlan& plan,
                      const std::vector<DemoCarriedDocument>& carried_in,
                      std::vector<DemoCarriedDocument>* carry_out) {
  CompanyGenerator generator(data_folder, plan);
  generator.Run(carried_in, carry_out);
}

}  // namespace dalimor
