// What the tests of tervane-svc's command line share: a table of argument lists, each parsed
// under a trace that names it and accepted or refused as its row says.
#ifndef TERVANE_ADMIN_SVC_COMMAND_LINE_FIXTURE_H_
#define TERVANE_ADMIN_SVC_COMMAND_LINE_FIXTURE_H_

#include <optional>
#include <string>

#include "admin/svc_command_line.h"
#include "gtest/gtest.h"

namespace tervane::svc {

// Parses the `args` of each of `rows` (which also say whether they are `ok`) under a trace
// naming them, and hands every accepted line with its row to `check`. Stops at the first row
// that is accepted where it should be refused or the other way round.
template <typename Rows, typename Check>
void ParseEachRow(const Rows& rows, const Check& check) {
  for (const auto& row : rows) {
    std::string label;
    for (const std::string& a : row.args) label += "[" + a + "]";
    SCOPED_TRACE(label);
    const std::optional<SvcCommandLine> line = ParseSvcCommandLine(row.args);
    ASSERT_EQ(line.has_value(), row.ok);
    if (line) check(*line, row);
  }
}

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_SVC_COMMAND_LINE_FIXTURE_H_
