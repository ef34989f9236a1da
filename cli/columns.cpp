#include "cli/columns.hpp"

#include <algorithm>
#include <iterator>

#include "column_table.hpp"

namespace tavrin {

int columnsOf(char32_t code) {
  const auto run = std::upper_bound(std::begin(kColumnRuns), std::end(kColumnRuns), code,
                                    [](char32_t c, const ColumnRun& r) { return c < r.first; });
  if (run == std::begin(kColumnRuns)) return 1;
  const ColumnRun& before = *std::prev(run);
  return code <= before.last ? before.columns : 1;
}

}  // namespace tavrin
