#pragma once
// The binder: resolves the names of a parsed statement against the tables
// the catalog opens, types every expression and decides how each join and
// sub-select will be run.  Name resolution (docs/local_sql.md): an
// unqualified column is looked for in the FROM table first, then in the
// joined tables in order, then in the enclosing selects from the nearest
// outwards; a qualified one in the table of that correlation name (or of
// that file name when the table has no correlation name), nearest select
// first.  Column and correlation names match without regard to case.

#include <memory>

#include "engine/sql/ast.h"
#include "engine/sql/plan.h"
#include "engine/sql/table.h"

namespace dalimor {

// Binds `ast`, opening its tables through `catalog` (the target of INSERT or
// DELETE first and for writing; each distinct path text once).  Throws
// SqlError for a name that resolves to nothing, a type mismatch or a misused
// aggregate; EngineError from the catalog for a table that cannot be opened;
// EngineError kFieldNotFound for an INSERT column that the target lacks.
std::unique_ptr<BoundStatement> BindSql(const AstStatement& ast, SqlCatalog& catalog);

}  // namespace dalimor
