#include "demo/demo_texts.h"

#include <array>

namespace dalimor {
namespace {

// Invented firms and people; the numbers have the shape of real ones.
constexpr std::array<DemoPartner, 26> kPartners = {{
    {"Stavebniny Dvořák s.r.o.", "26914832", "CZ26914832", "Křenová 65", "Brno", "602 00",
     "2001234567/2010"},
    {"Železářství Novák a syn", "45781236", "CZ45781236", "Husova 12", "Kolín", "280 02",
     "183921457/0300"},
    {"Café d'Art s.r.o.", "27145698", "CZ27145698", "Na Příkopě 22", "Praha 1", "110 00",
     "1029384756/0800"},
    {"Šťastný & Kučera, v.o.s.", "63478215", "CZ63478215", "Třída Svobody 8", "Olomouc", "779 00",
     "86-5523140267/0100"},
    {"Elektro Hájek spol. s r.o.", "25874196", "CZ25874196", "Průmyslová 1432", "Jihlava", "586 01",
     "230987612/0600"},
    {"Zemědělské družstvo Třebíč", "00145822", "CZ00145822", "Hrotovická 270", "Třebíč", "674 01",
     "1702345/0710"},
    {"Pekárna U Čápa", "48517369", "", "Dlouhá 5", "Tábor", "390 01", "2100456789/2010"},
    {"Chládek – instalatérství", "71234598", "", "Chodská 17", "Domažlice", "344 01",
     "670100-2201345678/6210"},
    {"Účetní kancelář Růžičková", "69874521", "CZ7158120845", "Lidická 44", "Brno", "602 00",
     "27-1234560277/0100"},
    {"Dřevovýroba Žďár a.s.", "46347941", "CZ46347941", "Jihlavská 1558", "Žďár nad Sázavou",
     "591 01", "9876543/0300"},
    {"Autodíly Černý s.r.o.", "28456123", "CZ28456123", "Vídeňská 89", "Brno", "639 00",
     "35-4567123/0100"},
    {"Kovo Ostrava a.s.", "47677481", "CZ47677481", "Ruská 2887/101", "Ostrava-Vítkovice", "703 00",
     "1111222233/2700"},
    {"Jiří Procházka", "74125896", "", "Polní 311", "Kuřim", "664 34", "5201478963/0800"},
    {"Marie Svobodová – kadeřnictví", "65893214", "", "Náměstí Míru 3", "Blansko", "678 01",
     "1478523690/0800"},
    {"Tiskárna Horák s.r.o.", "25312458", "CZ25312458", "Palackého 27", "Pardubice", "530 02",
     "2458963/0300"},
    {"Obec Lysice", "00280577", "", "Zámecká 1", "Lysice", "679 71", "1484631/0100"},
    {"O'Brien Trading s.r.o.", "24789632", "CZ24789632", "Karlínské náměstí 59/7", "Praha 8",
     "186 00", "2800123456/2010"},
    {"Farmářské trhy Hradec o.s.", "22698745", "", "Masarykovo náměstí 1", "Hradec Králové",
     "500 02", "3698521/5500"},
    {"Řeznictví Beneš", "87412563", "CZ6803121234", "Kostelní 9", "Vyškov", "682 01",
     "963258741/0600"},
    {"Vinařství Mikulov s.r.o.", "26258741", "CZ26258741", "Pavlovská 12", "Mikulov", "692 01",
     "1020304050/5500"},
    {"Lesy Šumava, s.p.", "42196868", "CZ42196868", "Nádražní 1", "Vimperk", "385 01",
     "101010101/0710"},
    {"Chemické závody Ústí a.s.", "45788235", "CZ45788235", "Revoluční 86", "Ústí nad Labem",
     "400 32", "1234500/0300"},
    {"Papírnictví Kočí", "60745236", "", "Štefánikova 41", "Zlín", "760 01", "258741369/0800"},
    {"Hotel Ještěd s.r.o.", "27851236", "CZ27851236", "Horní Hanychov 153", "Liberec", "460 08",
     "7894561230/2010"},
    {"Strojírny Čtvrtník a spol.", "46981237", "CZ46981237", "Tovární 2", "Prostějov", "796 01",
     "4561237/0100"},
    {"Ing. Petr Ševčík – projekce", "73698521", "CZ7501014567", "Úvoz 18", "Brno", "602 00",
     "2147483647/0800"},
}};

// Prices without VAT in CZK.
constexpr std::array<DemoStockItem, 44> kStockItems = {{
    {"CEM-325", "Cement portlandský 32,5 R, 25 kg", "ks", VatRate::kStandard, 139.00},
    {"SR-M8X40", "Šroub M8x40 pozinkovaný", "ks", VatRate::kStandard, 2.40},
    {"HRE-100", "Hřebíky stavební 100 mm", "kg", VatRate::kStandard, 54.90},
    {"CIHLA-P10", "Cihla plná P10 290x140x65", "ks", VatRate::kStandard, 11.20},
    {"BAR-INT10", "Barva interiérová bílá 10 l", "ks", VatRate::kStandard, 489.00},
    {"LAK-CIR", "Lak na dřevo čirý 0,75 l", "ks", VatRate::kStandard, 219.00},
    {"KAB-CYKY3", "Kabel CYKY 3x2,5 mm2", "m", VatRate::kStandard, 23.50},
    {"ZAR-LED9", "Žárovka LED 9 W E27 teplá bílá", "ks", VatRate::kStandard, 89.00},
    {"CERP-750", "Čerpadlo ponorné kalové 750 W", "ks", VatRate::kStandard, 2890.00},
    {"CHLAD-5L", "Chladicí kapalina do -30 °C, 5 l", "ks", VatRate::kStandard, 245.00},
    {"CHRANIC", "Chrániče sluchu mušlové", "ks", VatRate::kStandard, 159.00},
    {"RUK-KOZ", "Rukavice pracovní kožené", "pár", VatRate::kStandard, 64.00},
    {"SEKERA-15", "Sekera štípací 1,5 kg", "ks", VatRate::kStandard, 699.00},
    {"LOPATA", "Lopata písková s násadou", "ks", VatRate::kStandard, 279.00},
    {"KOLECKO-85", "Kolečko stavební 85 l", "ks", VatRate::kStandard, 1190.00},
    {"PAPIR-A4", "Papír kancelářský A4, 80 g, 500 listů", "bal", VatRate::kStandard, 99.00},
    {"TONER-12A", "Toner pro tiskárnu LaserJet, černý", "ks", VatRate::kStandard, 1650.00},
    {"KAVA-1KG", "Káva zrnková 1 kg", "ks", VatRate::kReduced, 389.00},
    {"ČISTIČ-1L", "Čisticí prostředek univerzální 1 l", "ks", VatRate::kStandard, 59.00},
    {"ŠTĚTEC-50", "Štětec plochý 50 mm", "ks", VatRate::kStandard, 42.00},
    {"ŽEBŘÍK-3D", "Žebřík hliníkový třídílný 3x9 příček", "ks", VatRate::kStandard, 3490.00},
    {"VRT-SADA19", "Sada vrtáků do kovu 19 ks", "sada", VatRate::kStandard, 349.00},
    {"VRT-AKU18", "Vrtačka aku 18 V 'Profi' se dvěma akumulátory", "ks", VatRate::kStandard,
     4290.00},
    {"SILIKON-S", "Silikon sanitární bílý 310 ml", "ks", VatRate::kStandard, 109.00},
    {"PUR-750", "Pěna montážní PUR 750 ml", "ks", VatRate::kStandard, 169.00},
    {"OSB-12", "Deska OSB 3 12 mm 2500x1250", "ks", VatRate::kStandard, 389.00},
    {"HRANOL-10", "Hranol smrkový 100x100 mm, sušený", "m", VatRate::kStandard, 119.00},
    {"FOLIE-PE", "Fólie PE 4x25 m, 0,1 mm", "role", VatRate::kStandard, 529.00},
    {"IZOL-100", "Izolace z minerální vlny 100 mm", "m2", VatRate::kStandard, 96.00},
    {"SADRA-30", "Sádra stavební bílá 30 kg", "ks", VatRate::kStandard, 289.00},
    {"LEP-OBKL", "Lepidlo na obklady flexibilní 25 kg", "ks", VatRate::kStandard, 329.00},
    {"DLAZBA-30", "Dlažba keramická 30x30 béžová", "m2", VatRate::kStandard, 349.00},
    {"PPR-32", "Trubka PPR 32 mm PN 20", "m", VatRate::kStandard, 68.00},
    {"PPR-K32", "Koleno PPR 32 mm 90°", "ks", VatRate::kStandard, 21.00},
    {"BAT-UMYV", "Baterie umyvadlová stojánková", "ks", VatRate::kStandard, 1290.00},
    {"ZASUVKA-2", "Zásuvka dvojnásobná bílá", "ks", VatRate::kStandard, 119.00},
    {"VYPINAC-1", "Vypínač jednopólový řazení 1", "ks", VatRate::kStandard, 79.00},
    {"JISTIC-B16", "Jistič 16 A, charakteristika B", "ks", VatRate::kStandard, 149.00},
    {"MALTA-Z25", "Malta zdicí 25 kg", "ks", VatRate::kStandard, 89.00},
    {"PISEK-04", "Písek praný 0–4 mm", "t", VatRate::kStandard, 520.00},
    {"KNIHA-DEN", "Kniha „Deník stavby“ A4", "ks", VatRate::kReduced, 79.00},
    {"MAPA-CR", "Autoatlas České republiky 1:100 000", "ks", VatRate::kReduced, 299.00},
    {"LEKARNA", "Lékárnička pro stavbu, vybavená", "ks", VatRate::kZero, 650.00},
    {"CHODNIK-BET", "Dlažba betonová chodníková 20x10", "m2", VatRate::kStandard, 249.00},
}};

constexpr std::array<DemoStockItem, 6> kServiceLines = {{
    {"", "Doprava zboží na stavbu", "km", VatRate::kStandard, 28.00},
    {"", "Montáž a zapojení", "hod", VatRate::kStandard, 450.00},
    {"", "Poradenství a zaměření na místě", "hod", VatRate::kStandard, 600.00},
    {"", "Manipulace a vykládka", "hod", VatRate::kStandard, 380.00},
    {"", "Zapůjčení palet (vratné)", "ks", VatRate::kZero, 150.00},
    {"", "Balné", "ks", VatRate::kStandard, 45.00},
}};

constexpr std::array<DemoPostingText, 7> kCashIncome = {{
    {"Tržba za hotové – prodej zboží", "211000", "604000"},
    {"Tržba za hotové – služby", "211000", "602000"},
    {"Výběr z účtu do pokladny", "211000", "261000"},
    {"Úhrada faktury v hotovosti", "211000", "311000"},
    {"Vrácení nevyčerpané zálohy na cestu", "211000", "335000"},
    {"Příjem za prodej vyřazeného materiálu", "211000", "648000"},
    {"Doplatek od zákazníka", "211000", "311000"},
}};

constexpr std::array<DemoPostingText, 10> kCashExpense = {{
    {"Nákup kancelářských potřeb", "501000", "211000"},
    {"Poštovné a známky", "518000", "211000"},
    {"Občerstvení pro jednání s dodavatelem", "513000", "211000"},
    {"Pohonné hmoty – služební vůz", "501100", "211000"},
    {"Parkovné Brno-střed", "518000", "211000"},
    {"Cestovní náhrady – služební cesta Olomouc", "512000", "211000"},
    {"Záloha na služební cestu", "335000", "211000"},
    {"Odvod tržby do banky", "261000", "211000"},
    {"Drobný materiál na údržbu", "501000", "211000"},
    {"Úhrada faktury dodavatele v hotovosti", "321000", "211000"},
}};

constexpr std::array<DemoPostingText, 10> kBank = {{
    {"Úhrada faktury odběratelem", "221001", "311000"},
    {"Úhrada faktury dodavateli", "321000", "221001"},
    {"Poplatky za vedení účtu", "568000", "221001"},
    {"Připsané úroky", "221001", "662000"},
    {"Výplata mezd", "331000", "221001"},
    {"Odvod sociálního pojištění", "336100", "221001"},
    {"Odvod zdravotního pojištění", "336200", "221001"},
    {"Záloha na DPH", "343000", "221001"},
    {"Převod do pokladny", "261000", "221001"},
    {"Nájemné za sklad – měsíční platba", "518100", "221001"},
}};

constexpr std::array<DemoPostingText, 8> kInternal = {{
    {"Odpisy dlouhodobého majetku", "551000", "082000"},
    {"Zaúčtování mezd", "521000", "331000"},
    {"Zákonné sociální pojištění", "524000", "336100"},
    {"Kurzové rozdíly k 31. 12.", "563000", "221002"},
    {"Časové rozlišení nájmu", "381000", "518100"},
    {"Inventarizační rozdíl – manko", "549000", "132000"},
    {"Opravný doklad – chybné zaúčtování", "518000", "501000"},
    {"Zaúčtování spotřeby materiálu", "501000", "112000"},
}};

constexpr std::array<std::string_view, 10> kInvoiceTexts = {{
    "Fakturujeme Vám dodávku stavebního materiálu",
    "Dodávka zboží dle objednávky",
    "Fakturace za měsíc – materiál a doprava",
    "Prodej elektroinstalačního materiálu",
    "Dodávka sanitární techniky",
    "Nákup nářadí pro dílnu",
    "Materiál na rekonstrukci koupelny",
    "Zboží dle dodacího listu",
    "Dodávka 'na zkoušku' – vzorky",
    "Kancelářské potřeby a občerstvení",
}};

constexpr std::array<std::string_view, 8> kOrderTexts = {{
    "Objednávka materiálu na stavbu",
    "Doplnění skladových zásob",
    "Objednávka nářadí",
    "Objednávka dle cenové nabídky",
    "Rámcová objednávka – 1. etapa",
    "Objednávka zboží pro prodejnu",
    "Urgentní objednávka – oprava střechy",
    "Objednávka kancelářských potřeb",
}};

constexpr std::array<std::string_view, 8> kPeople = {{
    "Jana Dvořáková",
    "Petr Novotný",
    "Lucie Marková",
    "Tomáš Černý",
    "Zdeňka Šimková",
    "Radek Kříž",
    "Hana Řeháková",
    "Ondřej Chalupa",
}};

constexpr std::array<std::string_view, 4> kCentres = {{"SKLAD", "PRODEJ", "SPRAVA", "DOPRAVA"}};
constexpr std::array<std::string_view, 5> kProjects = {
    {"Z2009-014", "Z2010-003", "Z2010-027", "Z2011-008", "Z2011-019"}};

constexpr std::array<std::string_view, 6> kInvoiceUpper = {{
    "Fakturujeme Vám za dodávku zboží dle Vaší objednávky.",
    "Na základě uzavřené kupní smlouvy Vám fakturujeme následující zboží a služby:",
    "Fakturujeme Vám za dodávku materiálu na stavbu „Rodinný dům Kuřim“.\r\n"
    "Dodací list byl potvrzen Vaším stavbyvedoucím.",
    "Vyúčtování zálohy a doplatek za dodávku dle dodacích listů.",
    "Fakturujeme Vám za zboží převzaté na naší prodejně.",
    "Dobrý den,\r\nzasíláme fakturu za dodávku, o kterou jste si řekli telefonicky.\r\n"
    "S pozdravem obchodní oddělení",
}};

constexpr std::array<std::string_view, 5> kOrderUpper = {{
    "Objednáváme u Vás následující zboží:",
    "Na základě Vaší cenové nabídky objednáváme:",
    "Objednáváme zboží s dodáním na adresu stavby.\r\nKontaktní osoba: stavbyvedoucí, "
    "tel. 603 123 456.",
    "Prosíme o dodání do konce měsíce. Při nedostupnosti zboží nás kontaktujte.",
    "Objednávka na základě rámcové smlouvy č. 14/2009.",
}};

constexpr std::array<std::string_view, 10> kTermsClauses = {{
    "Děkujeme za Vaši objednávku a těšíme se na další spolupráci.",
    "Zboží zůstává až do úplného zaplacení kupní ceny majetkem dodavatele.",
    "Při nedodržení lhůty splatnosti si dovolujeme účtovat úrok z prodlení ve výši 0,05 % "
    "z dlužné částky za každý den prodlení.",
    "Reklamace vyřizuje oddělení 'Servis' do 30 dnů od jejich uplatnění; k reklamaci "
    "přiložte kopii dokladu a popis vady.",
    "Dodavatel je zapsán v obchodním rejstříku vedeném Krajským soudem v Brně, oddíl C, "
    "vložka 41 567.",
    "Vratné obaly a palety účtujeme zálohově; po vrácení v nepoškozeném stavu zálohu "
    "dobropisujeme.",
    "Převzetí zboží potvrzuje odběratel podpisem dodacího listu. Na pozdější námitky "
    "k počtu kusů nebude brán zřetel.",
    "Při platbě převodem uvádějte jako variabilní symbol číslo faktury.",
    "Záruční doba na nářadí a elektrospotřebiče je 24 měsíců, na ostatní zboží dle "
    "záručního listu výrobce.",
    "Ceny jsou uvedeny včetně recyklačních poplatků. Nebezpečné odpady přijímáme na "
    "sběrném dvoře v pracovní dny od 7.00 do 15.30 hodin.",
}};

constexpr std::array<std::string_view, 12> kMonths = {{
    "leden",
    "únor",
    "březen",
    "duben",
    "květen",
    "červen",
    "červenec",
    "srpen",
    "září",
    "říjen",
    "listopad",
    "prosinec",
}};

}  // namespace

std::span<const DemoPartner> DemoPartners() {
  return kPartners;
}
std::span<const DemoStockItem> DemoStockItems() {
  return kStockItems;
}
std::span<const DemoStockItem> DemoServiceLines() {
  return kServiceLines;
}
std::span<const DemoPostingText> DemoCashIncomeTexts() {
  return kCashIncome;
}
std::span<const DemoPostingText> DemoCashExpenseTexts() {
  return kCashExpense;
}
std::span<const DemoPostingText> DemoBankTexts() {
  return kBank;
}
std::span<const DemoPostingText> DemoInternalTexts() {
  return kInternal;
}
std::span<const std::string_view> DemoInvoiceTexts() {
  return kInvoiceTexts;
}
std::span<const std::string_view> DemoOrderTexts() {
  return kOrderTexts;
}
std::span<const std::string_view> DemoPeople() {
  return kPeople;
}
std::span<const std::string_view> DemoCentres() {
  return kCentres;
}
std::span<const std::string_view> DemoProjects() {
  return kProjects;
}
std::span<const std::string_view> DemoInvoiceUpperTexts() {
  return kInvoiceUpper;
}
std::span<const std::string_view> DemoOrderUpperTexts() {
  return kOrderUpper;
}
std::span<const std::string_view> DemoTermsClauses() {
  return kTermsClauses;
}

std::string_view DemoMonthName(int month) {
  return month >= 1 && month <= 12 ? kMonths[static_cast<size_t>(month - 1)] : "";
}

}  // namespace dalimor
