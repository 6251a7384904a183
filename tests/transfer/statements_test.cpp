#include "transfer/statements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "util/calendar.h"

namespace dalimor {
namespace {

// Statement texts written here with "\n" for readability; the real ones use CR.
std::string WithCr(std::string text) {
  for (char& c : text)
    if (c == '\n') c = '\r';
  return text;
}

TransferFilter InvoiceFilter2010() {
  TransferFilter filter;
  filter.date_field = "KdyUskutUP";
  filter.date_from = DateTimeFromDate(2010, 1, 1);
  filter.date_to = DateTimeFromDate(2010, 12, 31);
  filter.number_field = "DoklSCislo";
  filter.series_field = "DoklSRada";
  filter.series = "FP";
  return filter;
}

TableStep ReceivedInvoiceItems() {
  TableStep step;
  step.table = "SPFP.DB";
  step.master_table = "SPFH.DB";
  step.join_condition = "(tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)";
  step.creation_keys = "DoklSRada,DoklSCislo,Klic";
  step.document_keys = "DoklSRada,DoklSCislo";
  return step;
}

TEST(Statements, GuardedInsertOfInvoiceItemsMatchesTheExampleToTheLetter) {
  const std::string expected = WithCr(
      "INSERT INTO 'D:\\Davka\\SPFP.DB'\n"
      "(DoklSRada, DoklSCislo, Klic) \n"
      "SELECT DoklSRada, DoklSCislo, Klic FROM 'C:\\Ucto\\DATA\\F01\\SDATA\\S\\SPFP.DB' tE \n"
      "LEFT OUTER JOIN 'C:\\Ucto\\DATA\\F01\\SDATA\\S\\SPFH.DB' tM \n"
      "ON (tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)\n"
      " WHERE ((((KdyUskutUP >= '01/01/2010') AND (KdyUskutUP <= '12/31/2010')) AND NOT EXISTS "
      "(SELECT DoklSRada,DoklSCislo FROM  'D:\\Davka\\SPFP.DB' tD \n"
      "WHERE (tD.DoklSRada=tE.DoklSRada AND tD.DoklSCislo=tE.DoklSCislo))\n"
      ") AND (DoklSRada = 'FP'))");
  EXPECT_EQ(BuildInsertStatement("C:\\Ucto\\DATA\\F01\\SDATA\\S\\", "D:\\Davka\\",
                                 ReceivedInvoiceItems(), InvoiceFilter2010(), true,
                                 "DoklSRada, DoklSCislo, Klic"),
            expected);
}

TEST(Statements, OverwritingDeleteOfInvoiceItemsMatchesTheExampleToTheLetter) {
  const std::string expected = WithCr(
      "DELETE FROM 'D:\\Davka\\SPFP.DB' WHERE DoklSRada+' +@@+ '+DoklSCislo in (\n"
      "SELECT DoklSRada+' +@@+ '+DoklSCislo  FROM 'C:\\Ucto\\DATA\\F01\\SDATA\\S\\SPFP.DB' tE \n"
      "LEFT OUTER JOIN 'D:\\Davka\\SPFH.DB' tM \n"
      "ON (tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)\n"
      "WHERE (((KdyUskutUP >= '01/01/2010') AND (KdyUskutUP <= '12/31/2010')) AND "
      "(DoklSRada = 'FP'))\n"
      ")");
  const TableStep step = ReceivedInvoiceItems();
  EXPECT_EQ(BuildDeleteStatement("D:\\Davka\\SPFP.DB", "C:\\Ucto\\DATA\\F01\\SDATA\\S\\SPFP.DB",
                                 step.document_keys, InvoiceFilter2010(), step.join_condition,
                                 "D:\\Davka\\SPFH.DB"),
            expected);
}

TEST(Statements, InsertWithoutAnyConditionEndsAfterTwoLineBreaks) {
  TableStep step;
  step.table = "Cdenik.DB";
  step.document_keys = "DoklRada,DoklCislo,Klic,Poradi";
  TransferFilter filter;
  filter.date_field = "KdyUcPripad";
  filter.series_field = "DoklRada";
  EXPECT_EQ(BuildInsertStatement("/c/", "/d/", step, filter, false, "A, B"),
            WithCr("INSERT INTO '/d/Cdenik.DB'\n(A, B) \nSELECT A, B FROM '/c/Cdenik.DB' tE \n\n"));
}

TEST(Statements, ConditionBuilders) {
  const double jan1 = DateTimeFromDate(2010, 1, 1);
  struct {
    std::string actual;
    std::string expected;
  } const cases[] = {
      {DateRangeCondition("KdyVystaveno", jan1, 0), "(KdyVystaveno >= '01/01/2010')"},
      {DateRangeCondition("KdyVystaveno", 0, jan1), "(KdyVystaveno <= '01/01/2010')"},
      {DateRangeCondition("KdyVystaveno", -5, 0), ""},
      {DateRangeCondition("D", DateTimeFromDate(2010, 1, 31) + 0.75, 0), "(D >= '01/31/2010')"},
      {TextRangeCondition("N", "10", ""), "(N >= '10')"},
      {TextRangeCondition("N", "", ""), ""},
      {TextRangeCondition("N", "1", "9"), "((N >= '1') AND (N <= '9'))"},
      {EqualsCondition("DoklSRada", "FP"), "(DoklSRada = 'FP')"},
      {EqualsCondition("DoklSRada", ""), ""},
      {EqualsCondition("DoklSRada", "O'Brien"), "(DoklSRada = 'O''Brien')"},
      {CombineConditions("a", "", "AND"), "a"},
      {CombineConditions("", "b", "AND"), "b"},
      {CombineConditions("", "", "AND"), ""},
      {KeyMatchWhere("a,b"), "WHERE (tD.a=tE.a AND tD.b=tE.b)"},
      {KeyMatchWhere("a,b,c,d"),
       "WHERE (((tD.a=tE.a AND tD.b=tE.b) AND tD.c=tE.c) AND tD.d=tE.d)"},
      {KeyMatchWhere("a"), "WHERE tD.a=tE.a"},
      {KeyMatchWhere(""), ""},
      {MasterJoinClause("", "x"), ""},
      {MasterJoinClause("m", ""), ""},
      {KeyColumnExpr("klic"), "CAST(klic AS CHAR(13))"},
      {KeyColumnExpr("Poradi"), "CAST(Poradi AS CHAR(13))"},
      {KeyColumnExpr("DoklRada"), "DoklRada"},
      {CompositeKeyExpr("DoklRada,DoklCislo,Klic,Poradi"),
       "DoklRada+' +@@+ '+DoklCislo+' +@@+ '+CAST(Klic AS CHAR(13))+' +@@+ '+CAST(Poradi AS "
       "CHAR(13))"},
      {CompositeKeyExpr("Klic,Poradi"), "Klic+' +@@+ '+CAST(Poradi AS CHAR(13))"},
      {CompositeKeyExpr(""), ""},
      {SqlDateLiteral(DateTimeFromDate(2010, 1, 31)), "'01/31/2010'"},
      {SelectAllStatement("/d/it's/SPFH.DB"), "SELECT * FROM '/d/it''s/SPFH.DB'"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(Statements, DeleteWithAnEmptyKeyListIsNothing) {
  EXPECT_EQ(BuildDeleteStatement("t", "s", "", TransferFilter{}, "", ""), "");
}

TEST(Statements, ApostrophesInPathsAndSeriesAreDoubledEverywhere) {
  TableStep step = ReceivedInvoiceItems();
  TransferFilter filter = InvoiceFilter2010();
  filter.series = "F'); DELETE FROM x --";
  const std::string insert =
      BuildInsertStatement("/data/O'Neil/", "/batch/it's/", step, filter, true, "A");
  EXPECT_NE(insert.find("INSERT INTO '/batch/it''s/SPFP.DB'"), std::string::npos);
  EXPECT_NE(insert.find("FROM '/data/O''Neil/SPFP.DB' tE"), std::string::npos);
  EXPECT_NE(insert.find("JOIN '/data/O''Neil/SPFH.DB' tM"), std::string::npos);
  EXPECT_NE(insert.find("FROM  '/batch/it''s/SPFP.DB' tD"), std::string::npos);
  EXPECT_NE(insert.find("(DoklSRada = 'F''); DELETE FROM x --')"), std::string::npos);
  // Every quote is paired: the statement has an even number of them.
  EXPECT_EQ(std::count(insert.begin(), insert.end(), '\'') % 2, 0);
}

}  // namespace
}  // namespace dalimor
