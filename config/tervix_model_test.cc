#include "config/tervix_model.h"

#include <gtest/gtest.h>

namespace tervane::config {
namespace {

TEST(FixedEntries, TrapNumbersCountsAndTypes) {
  EXPECT_EQ(FixedEntries(ListKind::kTrapNewNumber).size(), 30u);
  EXPECT_EQ(FixedEntries(ListKind::kTrapNewVarNo).back(), "14");
  EXPECT_EQ(FixedEntries(ListKind::kVarType)[2], "OBJECT IDENTIFIER");
}

}  // namespace
}  // namespace tervane::config
