// The rules of storm control (schema version 3 on, table StormRule): how many traps of one kind
// go on per minute, per trap OID prefix. One row has the empty prefix: the default rule, for
// traps that no other rule's prefix matches. The service holds back what a rule's limit does
// not let through (service/relay/storm_control.h); the window and tervane-svc edit the rows.
//
// Every reader checks the rows here, so a value is refused in the same words wherever it is
// met: "StormRule 1.3.6.1.4.1.9, PerMinute: 2000000 is not a number of traps per minute (0 to
// 1000000)".
#ifndef TERVANE_STORE_STORM_RULES_H_
#define TERVANE_STORE_STORM_RULES_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "store/number_text.h"
#include "store/value.h"

namespace tervane::store {

inline constexpr std::string_view kStormTable = "StormRule";
inline constexpr std::array<std::string_view, 4> kStormColumns = {"OidPrefix", "PerMinute", "Burst",
                                                                  "Enabled"};
// Rules by prefix, besides the default rule.
inline constexpr int kMaxStormPrefixRules = 30;
// Most sub-identifiers of a prefix: an OID's.
inline constexpr int kMaxStormPrefixSubIds = 128;

// A rate of 0 lets nothing through: the rule is a filter.
inline constexpr NumberRange kPerMinuteRange{
    0, 1000000, "is not a number of traps per minute (0 to 1000000)", kErrorInvalidArgument};
inline constexpr NumberRange kBurstRange{1, 100000, "is not a burst of traps (1 to 100000)",
                                         kErrorInvalidArgument};

// The default rule of a new or upgraded database: 30 a minute once a burst of 10 has gone.
inline constexpr uint32_t kDefaultPerMinute = 30;
inline constexpr uint32_t kDefaultBurst = 10;

// One StormRule row as stored.
struct StormRuleRow {
  Value oid_prefix;
  Value per_minute;
  Value burst;
  Value enabled;
};

// One rule, checked.
struct StormRule {
  std::string prefix;  // empty: the default rule
  uint32_t per_minute = kDefaultPerMinute;
  uint32_t burst = kDefaultBurst;
  // A rule switched off is as if it were not there: its traps fall to the next shorter
  // matching prefix, or the default rule. The default rule switched off limits nothing.
  bool enabled = true;

  bool is_default() const { return prefix.empty(); }
  // The name of the rule in counters' labels, events and tervane-svc's lists: its prefix, or
  // "default".
  std::string Label() const { return prefix.empty() ? "default" : prefix; }
  friend bool operator==(const StormRule&, const StormRule&) = default;
};

// Refuses a prefix that is not a dotted OID prefix of 1 to 128 whole sub-identifiers (each 0
// to 4294967295, without leading zeros): "<what>: \"1.3.\" is not an OID prefix (digits
// separated by dots, such as 1.3.6.1.4.1.9)".
Status CheckStormPrefix(std::string_view text, std::string_view what);

// Whether the trap OID `oid` (dotted) lies under `prefix`, whole sub-identifiers only:
// 1.3.6.1.4.1.9 matches 1.3.6.1.4.1.9 and 1.3.6.1.4.1.9.9.41 but not 1.3.6.1.4.1.99. The empty
// prefix matches every OID.
bool PrefixMatches(std::string_view prefix, std::string_view oid);

// The row converted and checked, named "StormRule PREFIX" (or "StormRule default") in a
// refusal. A Null Enabled means enabled.
Result<StormRule> StormRuleFromRow(const StormRuleRow& row);

// Every rule of the table, checked: the default rule first (switched off when the table has
// none, so that it limits nothing), then the prefix rules in the rows' order. Fails on the first
// row refused, on two rows of one prefix, and on more than kMaxStormPrefixRules prefix rules.
Result<std::vector<StormRule>> StormRulesFromRows(const std::vector<StormRuleRow>& rows);

// The rows of `rules`, as the store writes them.
std::vector<StormRuleRow> StormRulesToRows(const std::vector<StormRule>& rules);

}  // namespace tervane::store

#endif  // TERVANE_STORE_STORM_RULES_H_
