#pragma once
// The column layouts of the demo installation's tables: Kalmeo's company
// register and station table, the company tables the batch catalogue names,
// and the company's memo, key-counter and series-register tables.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/value.h"

namespace dalimor {

struct DemoTableDef {
  // Folder of the table: below the company data folder for company tables
  // ("SDATA/S"), below the installation folder for the register
  // ("DataPrg/GDATA/S").
  std::string_view folder;
  std::string_view file_name;
  // "Name:Type[:Size],..." with Paradox type letters (ParseFieldList).
  std::string_view fields;
  // The leading key fields, "," separated.
  std::string_view key;
  // Paradox keeps at least two records of a keyed table in a block, so wide
  // records need larger blocks.  The usual size; DemoBlockSize gives large
  // tables more.
  int block_size = 2048;
  // Secondary indexes as a company's tables carry them, ";" separated
  // (ParseIndexList): "Field" or "Name:F1,F2[:ci]".
  std::string_view indexes = {};
};

// The company register "GFIRMY.DB" and the station table "GFIRMAST.DB".
const DemoTableDef& DemoCompanyRegisterDef();
const DemoTableDef& DemoStationTableDef();

// The twenty tables of a company data folder: the seventeen agenda tables of
// the batch catalogue, "LMemo.DB", "LKlice.DB" and "Ldoklady.DB".  Keys of
// the catalogue's tables are its creation keys.
std::span<const DemoTableDef> DemoCompanyTableDefs();

// The table of that file name (without regard to case); nullptr when none.
const DemoTableDef* FindDemoTableDef(std::string_view file_name);

// The parsed fields of a definition.
std::vector<FieldDef> DemoFields(const DemoTableDef& def);

// Bytes one record of the table takes in a data block.
int DemoRecordSize(const DemoTableDef& def);

// The block size for the table when it must have room for `rows` records:
// its usual def.block_size, or the next larger size Paradox 7 knows (4, 16
// or 32 KB) at which the rows, in data blocks filled to two thirds on
// average as after inserts in random order, take at most half of the 65535
// blocks a table can have.  32 KB when even that is too small.
int DemoBlockSize(const DemoTableDef& def, uint64_t rows);

}  // namespace dalimor
