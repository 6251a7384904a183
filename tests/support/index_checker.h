#pragma once
// A second opinion on Paradox secondary indexes (.Xnn/.Ynn, .XGn/.YGn) for
// tests: the files are parsed here from the format rules alone, without the
// engine's header or index code, and compared with what the table's rows
// give.  The rules checked are listed at the top of index_checker.cpp.

#include <string>
#include <vector>

namespace dalimor::test {

// Checks the secondary index `index_path` (a .Xnn or .XGn file; its .Ynn /
// .YGn sibling and the table's .PX are found beside it by name, without
// regard to letter case) against the table `db_path`.  Returns one line per
// problem found; empty when the index is exactly what the table's rows give.
// An index that is not maintained (file type 3 or 6), and any index of an
// unkeyed table, is checked for its header only.  Never throws for damaged
// files: unreadable or malformed files are problems like any other.
std::vector<std::string> CheckSecondaryIndex(const std::string& db_path,
                                             const std::string& index_path);

// Every .Xnn / .XGn index beside the table, checked as above; each problem
// is prefixed with the index file's name ("CUSTOMER.X06: ...").
std::vector<std::string> CheckAllSecondaryIndexes(const std::string& db_path);

}  // namespace dalimor::test
