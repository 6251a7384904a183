#include "demo/demo_tables.h"

#include <array>

#include "engine/paradox/block.h"
#include "engine/paradox/field.h"
#include "engine/table_definition.h"
#include "platform/file_system.h"

namespace dalimor {
namespace {

// The block sizes the engine creates tables with, smallest first.  (Paradox
// also knows 8 KB blocks, which the engine does not create.)
constexpr int kBlockSizes[] = {1024, 2048, 4096, 16384, 32768};
// Blocks a Paradox table can have at most.
constexpr uint64_t kMaxBlocks = 65535;
// Data blocks are filled to about two thirds after inserts in random order.
constexpr uint64_t kFillNumerator = 2, kFillDenominator = 3;

// Partner block shared by the document headers.
#define DEMO_PARTNER                                                            \
  "FirmaICO:A:8,FirmaDIC:A:14,FirmaNazev:A:60,FirmaUlice:A:40,FirmaMisto:A:30," \
  "FirmaPSC:A:6,"
// VAT recapitulation: base at 0 %, reduced and standard rate, with the tax.
#define DEMO_VAT_SUMS "ZakladOsvob:$,ZakladSnizena:$,DPHSnizena:$,ZakladZakladni:$,DPHZakladni:$,"
// Item rows that name price-list items.
#define DEMO_STOCK_ITEM                                                           \
  "DoklSRada:A:5,DoklSCislo:A:11,Klic:I,Sklad:A:5,PolozkaSkladu:A:20,Nazev:A:60," \
  "Mnozstvi:N,MJ:A:5,CenaMJ:$,SlevaProc:N,SazbaDPH:N,CelkemBezDPH:$,DPH:$,CelkemSDPH:$,"

constexpr DemoTableDef kCompanyRegister = {
    "DataPrg/GDATA/S", "GFIRMY.DB",
    "Id:I,Oznaceni:A:50,Nazev:A:255,TypOrganizace:A:1,DatumOtevUcetKnih:D,Adresar:A:128,"
    "KdyPouziti:@,KdyZaloha:@,SitovaData:L,ObchJmeno:A:50,DodatekObJmena:A:30,Oddeleni:A:30,"
    "Jmeno:A:20,Prijmeni:A:25,RodnePrijmeni:A:25,Titul:A:20,RodneCislo:A:11,CisloOP:A:12,"
    "StatniPrislusnost:A:10,Ulice:A:40,CisloPopisne:A:10,POBox:A:15,PSC:A:10,Misto:A:30,"
    "Okres:A:20,Stat:A:20,ICO:A:8,DIC:A:14,UTO:A:4,Telefon:A:25,Fax:A:25,Mobil:A:25,"
    "Email:A:35,WWW:A:35,KodBanky:A:4,BaUcet:A:5,SpecSym:A:10,NazevBaUctu:A:5,"
    "MistoBaUctu:A:30,PlatDPH:L,CtvrtletniPlatceDPH:L,PravnickaOsoba:L,Poznamka:M:10",
    "Id", 4096};

constexpr DemoTableDef kStationTable = {"DataPrg/GDATA/S", "GFIRMAST.DB",
                                        "FirmaId:I,StaniceId:A:38", "FirmaId,StaniceId"};

constexpr std::array<DemoTableDef, 20> kCompanyTables = {{
    // --- S-agendas ---
    {"SDATA/S", "SPFH.DB",
     "DoklSRada:A:5,DoklSCislo:A:11,CisloDokladuDod:A:20,VarSymbol:A:10,KdyVystaveno:D,"
     "KdyUskutUP:D,KdySplatno:D,KdyZaplaceno:D," DEMO_PARTNER
     "Text:A:60,Mena:A:3,Kurz:N," DEMO_VAT_SUMS
     "CelkemBezDPH:$,CelkemDPH:$,CelkemSDPH:$,Zaplaceno:$,UcetMD:A:6,UcetDal:A:6,"
     "Stredisko:A:10,Zakazka:A:10,Poznamka:M:10",
     "DoklSRada,DoklSCislo", 2048,
     "KdyVystaveno;DoklSCislo;Firma:FirmaNazev:ci;DatumRada:KdyVystaveno,DoklSRada;"
     "CisloDod:CisloDokladuDod"},
    {"SDATA/S", "Spfp.DB", DEMO_STOCK_ITEM "UcetMD:A:6,Stredisko:A:10", "DoklSRada,DoklSCislo,Klic",
     2048, "PolozkaSkladu;SkladPolozka:Sklad,PolozkaSkladu"},
    {"SDATA/S", "Svfh.DB",
     "DoklSRada:A:5,DoklSCislo:A:11,VarSymbol:A:10,KonstSymbol:A:4,Objednavka:A:20,"
     "KdyVystaveno:D,KdyUskutUP:D,KdySplatno:D,KdyZaplaceno:D,FormaUhrady:A:20," DEMO_PARTNER
     "Text:A:60,Mena:A:3,Kurz:N," DEMO_VAT_SUMS
     "CelkemBezDPH:$,CelkemDPH:$,CelkemSDPH:$,Zaokrouhleni:$,Zaplaceno:$,UcetMD:A:6,"
     "UcetDal:A:6,Stredisko:A:10,Zakazka:A:10,TextNahoruKlic:I,TextDoluKlic:I,"
     "Vystavil:A:30,Zmeneno:@",
     "DoklSRada,DoklSCislo", 2048,
     "KdyVystaveno;DoklSCislo;Firma:FirmaNazev:ci;DatumRada:KdyVystaveno,DoklSRada;VarSymbol"},
    {"SDATA/S", "Svfp.DB", DEMO_STOCK_ITEM "UcetDal:A:6,Stredisko:A:10",
     "DoklSRada,DoklSCislo,Klic", 2048, "PolozkaSkladu;SkladPolozka:Sklad,PolozkaSkladu"},
    {"SDATA/S", "SklOperH.DB",
     "DoklSRada:A:5,DoklSCislo:A:11,TypOperace:A:1,Sklad:A:5,KdyVystaveno:D,KdyUskutUP:D,"
     "FirmaICO:A:8,FirmaNazev:A:60,Text:A:60,CelkemBezDPH:$,CelkemSDPH:$,PocetPolozek:S,"
     "SouvisejiciDoklad:A:20,Vystavil:A:30",
     "DoklSRada,DoklSCislo", 2048, "KdyVystaveno;DoklSCislo;Firma:FirmaNazev:ci"},
    {"SDATA/S", "SklOperP.DB", DEMO_STOCK_ITEM "UcetMD:A:6,UcetDal:A:6",
     "DoklSRada,DoklSCislo,Klic", 2048, "PolozkaSkladu"},
    {"SDATA/S", "SObjH.DB",
     "DoklSRada:A:5,DoklSCislo:A:11,TypObjednavky:A:1,CisloObjPartnera:A:20,Datum:D,"
     "DatumDodani:D," DEMO_PARTNER
     "Text:A:60,CelkemBezDPH:$,CelkemSDPH:$,Vyrizeno:L,TextNahoruKlic:I,TextDoluKlic:I,"
     "Vystavil:A:30,Zmeneno:@",
     "DoklSRada,DoklSCislo", 2048,
     "Datum;DoklSCislo;Firma:FirmaNazev:ci;DatumRada:Datum,DoklSRada"},
    {"SDATA/S", "SObjP.DB", DEMO_STOCK_ITEM "DodanoMnozstvi:N", "DoklSRada,DoklSCislo,Klic", 2048,
     "PolozkaSkladu"},
    {"SDATA/S", "SCenik.DB",
     "Sklad:A:5,PolozkaSkladu:A:20,Nazev:A:60,MJ:A:5,EAN:A:13,SazbaDPH:N,NakupniCena:$,"
     "ProdejniCena:$,ProdejniCenaSDPH:$,Zasoba:N,MinZasoba:N,Dodavatel:A:60,UcetZasob:A:6,"
     "Aktivni:L,Poznamka:M:10,Zmeneno:@",
     "Sklad,PolozkaSkladu", 2048, "PolozkaSkladu;Nazev:Nazev:ci;EAN;Dodavatel:Dodavatel,Nazev:ci"},
    // --- C-agendas ---
    {"CDATA/S", "CBanka.DB",
     "DoklRada:A:5,DoklCislo:A:11,CisloVypisu:S,KdyVystaveno:D,BankovniUcet:A:25,"
     "KodBanky:A:4,Mena:A:3,PocatecniZustatek:$,Prijmy:$,Vydaje:$,KonecnyZustatek:$,"
     "Text:A:60",
     "DoklRada,DoklCislo", 2048, "KdyVystaveno;DoklCislo"},
    {"CDATA/S", "CBankap.DB",
     "DoklRada:A:5,DoklCislo:A:11,Klic:I,KdyUcPripad:D,VarSymbol:A:10,KonstSymbol:A:4,"
     "SpecSymbol:A:10,ProtiUcet:A:25,FirmaNazev:A:60,Text:A:60,Castka:$,UcetMD:A:6,"
     "UcetDal:A:6,Stredisko:A:10",
     "DoklRada,DoklCislo,Klic", 2048, "KdyUcPripad;Firma:FirmaNazev:ci"},
    {"CDATA/S", "Cdenik.DB",
     "DoklRada:A:5,DoklCislo:A:11,Klic:I,Poradi:I,KdyUcPripad:D,UcetMD:A:6,UcetDal:A:6,"
     "Castka:$,Text:A:60,Stredisko:A:10,Zakazka:A:10,FirmaICO:A:8,Agenda:A:3",
     "DoklRada,DoklCislo,Klic,Poradi", 2048, "KdyUcPripad;UcetDatum:UcetMD,KdyUcPripad"},
    {"CDATA/S", "CIntdokl.DB",
     "DoklRada:A:5,DoklCislo:A:11,KdyVystaveno:D,KdyUcPripad:D,Text:A:60,Castka:$,"
     "Vystavil:A:30,Poznamka:M:10",
     "DoklRada,DoklCislo", 2048, "KdyVystaveno;DoklCislo"},
    {"CDATA/S", "CIntDoklSD.DB",
     "DoklRada:A:5,DoklCislo:A:11,Klic:I,Text:A:60,Castka:$,UcetMD:A:6,UcetDal:A:6,"
     "Stredisko:A:10,Zakazka:A:10",
     "DoklRada,DoklCislo,Klic", 2048, "UcetMD"},
    {"CDATA/S", "CPokl.DB",
     "DoklRada:A:5,DoklCislo:A:11,TypDokladu:A:1,KdyVystaveno:D,KdyUcPripad:D,"
     "FirmaICO:A:8,FirmaNazev:A:60,Text:A:60,Mena:A:3,Kurz:N," DEMO_VAT_SUMS
     "Castka:$,UcetPokladny:A:6,Vystavil:A:30,PrijalVydal:A:30",
     "DoklRada,DoklCislo", 2048, "KdyVystaveno;DoklCislo;Firma:FirmaNazev:ci"},
    {"CDATA/S", "CPoklSD.DB",
     "DoklRada:A:5,DoklCislo:A:11,Klic:I,Text:A:60,SazbaDPH:N,Zaklad:$,DPH:$,Castka:$,"
     "UcetMD:A:6,UcetDal:A:6,Stredisko:A:10,Zakazka:A:10",
     "DoklRada,DoklCislo,Klic", 2048, "UcetMD"},
    {"CDATA/S", "Cpz.DB",
     "DoklSRada:A:5,DoklSCislo:A:11,TypPZ:A:1,KdyVystaveno:D,KdySplatno:D,KdyZaplaceno:D,"
     "VarSymbol:A:10,FirmaICO:A:8,FirmaNazev:A:60,Text:A:60,Mena:A:3,Castka:$,Zaplaceno:$,"
     "Zbyva:$,Ucet:A:6",
     "DoklSRada,DoklSCislo", 2048, "KdyVystaveno;VarSymbol;Firma:FirmaNazev:ci"},
    // --- Common tables ---
    {"LDATA/S", "LMemo.DB", "Klic:I,Poznamka:M:50,Zmeneno:@,UID:I", "Klic", 2048, "Zmeneno"},
    {"LDATA/S", "LKlice.DB", "Nazev:A:30,DalsiHodnota:I,UID:I", "Nazev"},
    {"LDATA/S", "Ldoklady.DB",
     "AGENDA:A:3,RADA:A:5,Nazev:A:40,Predpona:A:5,PosledniCislo:A:11,Vychozi:L,UID:I",
     "AGENDA,RADA"},
}};

#undef DEMO_PARTNER
#undef DEMO_VAT_SUMS
#undef DEMO_STOCK_ITEM

}  // namespace

const DemoTableDef& DemoCompanyRegisterDef() {
  return kCompanyRegister;
}
const DemoTableDef& DemoStationTableDef() {
  return kStationTable;
}

std::span<const DemoTableDef> DemoCompanyTableDefs() {
  return kCompanyTables;
}

const DemoTableDef* FindDemoTableDef(std::string_view file_name) {
  for (const DemoTableDef& def : kCompanyTables)
    if (SameNameIgnoringCase(def.file_name, file_name)) return &def;
  if (SameNameIgnoringCase(kCompanyRegister.file_name, file_name)) return &kCompanyRegister;
  if (SameNameIgnoringCase(kStationTable.file_name, file_name)) return &kStationTable;
  return nullptr;
}

std::vector<FieldDef> DemoFields(const DemoTableDef& def) {
  return ParseFieldList(def.fields);
}

int DemoRecordSize(const DemoTableDef& def) {
  int size = 0;
  for (const FieldDef& field : DemoFields(def))
    size += FieldRecordSize(field.type, DescriptorSizeByte(field));
  return size;
}

int DemoBlockSize(const DemoTableDef& def, uint64_t rows) {
  const int record_size = DemoRecordSize(def);
  int chosen = def.block_size;
  for (const int size : kBlockSizes) {
    if (size < def.block_size) continue;
    chosen = size;
    const uint64_t per_block =
        static_cast<uint64_t>(BlockCapacity(size, record_size)) * kFillNumerator / kFillDenominator;
    if (per_block > 0 && (rows + per_block - 1) / per_block <= kMaxBlocks / 2) break;
  }
  return chosen;
}

}  // namespace dalimor
