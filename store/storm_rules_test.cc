#include "store/storm_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/relay_options.h"
#include "store/store.h"
#include "store/store_test_util.h"

namespace tervane::store {
namespace {

using testing::RawDb;
using testing::TempDir;

TEST(StormRules, PrefixesMatchWholeSubIdentifiers) {
  struct Case {
    std::string_view prefix, oid;
    bool matches;
  };
  const Case cases[] = {
      {"1.3.6.1.4.1.9", "1.3.6.1.4.1.9", true},   {"1.3.6.1.4.1.9", "1.3.6.1.4.1.9.9.41", true},
      {"1.3.6.1.4.1.9", "1.3.6.1.4.1.99", false}, {"1.3.6.1.4.1.9", "1.3.6.1.4.1", false},
      {"", "1.3.6.1.6.3.1.1.5.3", true},          {"1", "1.3", true},
      {"1.3.6.1.4.1.9", "1.3.6.1.4.1.9.", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PrefixMatches(c.prefix, c.oid), c.matches) << c.prefix << " " << c.oid;
  }
  for (std::string_view good : {"1", "1.3.6.1.4.1.9", "0.0", "4294967295.1"}) {
    EXPECT_TRUE(CheckStormPrefix(good, "p").ok()) << good;
  }
  std::string long_prefix = "1";
  for (int i = 1; i < kMaxStormPrefixSubIds; ++i) long_prefix += ".1";
  EXPECT_TRUE(CheckStormPrefix(long_prefix, "p").ok());
  for (std::string_view bad :
       {"", ".1.3", "1.3.", "1..3", "01.3", "1.3a", "4294967296", "1.3.6.1 ", "iso.3"}) {
    EXPECT_FALSE(CheckStormPrefix(bad, "p").ok()) << bad;
  }
  EXPECT_FALSE(CheckStormPrefix(long_prefix + ".1", "p").ok());
  EXPECT_EQ(CheckStormPrefix("1.3.", "StormRule, OidPrefix").description(),
            "StormRule, OidPrefix: \"1.3.\" is not an OID prefix (1 to 128 numbers separated by "
            "dots, such as 1.3.6.1.4.1.9)");
}

TEST(StormRules, RowsAreCheckedAndRefusedByName) {
  auto row = [](Value prefix, Value rate, Value burst, Value enabled = Value()) {
    return StormRuleRow{std::move(prefix), std::move(rate), std::move(burst), std::move(enabled)};
  };
  struct Case {
    std::vector<StormRuleRow> rows;
    std::string refusal;  // empty: accepted
  };
  std::vector<StormRuleRow> thirty_one;
  thirty_one.reserve(31);
  for (int i = 0; i < 31; ++i) thirty_one.push_back(row("1.3." + std::to_string(i), 1, 1));
  const std::vector<Case> cases = {
      {{row("", 30, 10, 1), row("1.3.6.1.4.1.9", 0, 1, 0), row("1.3.6", "12", "7")}, ""},
      {{row("1.3.6", 1000001, 1)},
       "StormRule 1.3.6, PerMinute: 1000001 is not a number of traps per minute (0 to 1000000)"},
      {{row("", 10, 0)}, "StormRule default, Burst: 0 is not a burst of traps (1 to 100000)"},
      {{row("", 10, 100001)},
       "StormRule default, Burst: 100001 is not a burst of traps (1 to 100000)"},
      {{row("", 2.5, 1)}, "StormRule default, PerMinute: \"2.5\" is not a whole number"},
      {{row("1.3.x", 1, 1)},
       "StormRule 1.3.x, OidPrefix: \"1.3.x\" is not an OID prefix (1 to 128 numbers separated "
       "by dots, such as 1.3.6.1.4.1.9)"},
      {{row("1.3", Value(), 1)}, "StormRule 1.3, PerMinute: is empty"},
      {{row("1.3", 1, 1, "maybe")},
       "StormRule 1.3, Enabled: \"maybe\" is not a Boolean (True or False, Yes or No, On or "
       "Off, or a number)"},
      {{row(Value(), 1, 1)},
       "StormRule: a row's OidPrefix is Null; the default rule's prefix is empty text"},
      {{row("1.3", 1, 1), row("1.3", 2, 2)}, "StormRule 1.3: the prefix has two rules"},
      {{row("", 1, 1), row("", 2, 2)}, "StormRule default: the prefix has two rules"},
      {thirty_one, "StormRule: more than 30 rules by prefix are listed"},
  };
  for (const Case& c : cases) {
    Result<std::vector<StormRule>> rules = StormRulesFromRows(c.rows);
    if (!c.refusal.empty()) {
      ASSERT_FALSE(rules.ok()) << c.refusal;
      EXPECT_EQ(rules.status().description(), c.refusal);
      continue;
    }
    ASSERT_TRUE(rules.ok()) << rules.status().ToString();
    ASSERT_EQ(rules->size(), 3u);
    EXPECT_EQ((*rules)[0], (StormRule{"", 30, 10, true}));
    EXPECT_EQ((*rules)[1], (StormRule{"1.3.6.1.4.1.9", 0, 1, false}));
    EXPECT_EQ((*rules)[2], (StormRule{"1.3.6", 12, 7, true}));
    EXPECT_EQ((*rules)[1].Label(), "1.3.6.1.4.1.9");
    EXPECT_EQ((*rules)[0].Label(), "default");
  }
  // Without a default row the default rule limits nothing.
  Result<std::vector<StormRule>> none = StormRulesFromRows({});
  ASSERT_TRUE(none.ok());
  ASSERT_EQ(none->size(), 1u);
  EXPECT_FALSE((*none)[0].enabled);
}

TEST(StormRules, UpgradeAddsTheTableAndTheSwitchOffAndKeepsTheOtherOptions) {
  // A version-2 file whose AddSourceAddress was set: the upgrade leaves it as it was.
  TempDir dir;
  ASSERT_TRUE(Store::Create(dir.db()).ok());
  ASSERT_EQ(RawDb(dir.db()).Exec("DROP TABLE StormRule; DROP TABLE SnmpV3User; DROP TABLE "
                                 "SnmpEngine; DELETE FROM RelayOption WHERE Name = "
                                 "'StormControl'; UPDATE RelayOption SET Value = 'replace'; "
                                 "PRAGMA user_version = 2"),
            SQLITE_OK);
  Result<Store> store = Store::Open(dir.path());
  ASSERT_TRUE(store.ok()) << store.status().ToString();
  Result<RelayOptions> options = RelayOptionsFromRows(*store->ReadRelayOptions());
  ASSERT_TRUE(options.ok());
  EXPECT_EQ(options->add_source_address, SourceAddressMode::kReplace);
  EXPECT_FALSE(options->storm_control);
  Result<std::vector<StormRule>> rules = StormRulesFromRows(*store->ReadStormRules());
  ASSERT_TRUE(rules.ok());
  ASSERT_EQ(rules->size(), 1u);
  EXPECT_EQ((*rules)[0], (StormRule{"", kDefaultPerMinute, kDefaultBurst, true}));

  // Written in place, kept in order, bounded to 30 by prefix, removed by prefix.
  ASSERT_TRUE(store->SetStormRule({"1.3.6.1.6.3.1.1.5", 60, 5, true}).ok());
  ASSERT_TRUE(store->SetStormRule({"", 120, 20, false}).ok());
  for (int i = 1; i < kMaxStormPrefixRules; ++i) {
    ASSERT_TRUE(store->SetStormRule({"1.3." + std::to_string(i), 1, 1, true}).ok()) << i;
  }
  const Status full = store->SetStormRule({"1.4", 1, 1, true});
  EXPECT_EQ(full.code(), kErrorOverflow.number);
  EXPECT_TRUE(store->SetStormRule({"1.3.6.1.6.3.1.1.5", 0, 1, true}).ok());
  rules = StormRulesFromRows(*store->ReadStormRules());
  ASSERT_TRUE(rules.ok());
  ASSERT_EQ(rules->size(), 31u);
  EXPECT_EQ((*rules)[0], (StormRule{"", 120, 20, false}));
  EXPECT_EQ((*rules)[1], (StormRule{"1.3.6.1.6.3.1.1.5", 0, 1, true}));
  EXPECT_TRUE(store->RemoveStormRule("1.3.6.1.6.3.1.1.5").ok());
  EXPECT_EQ(store->RemoveStormRule("1.3.6.1.6.3.1.1.5").code(), kErrorRowGone.number);
  EXPECT_EQ(store->ReadStormRules()->size(), 30u);

  ASSERT_TRUE(store->WriteRelayOption(kOptionStormControl, "1").ok());
  EXPECT_TRUE(RelayOptionsFromRows(*store->ReadRelayOptions())->storm_control);
  ASSERT_TRUE(store->WriteRelayOption(kOptionStormControl, "on").ok());
  EXPECT_EQ(RelayOptionsFromRows(*store->ReadRelayOptions()).status().description(),
            "RelayOption StormControl: 'on' is not 0 or 1");
}

}  // namespace
}  // namespace tervane::store
