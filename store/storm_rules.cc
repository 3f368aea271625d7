#include "store/storm_rules.h"

#include "service/snmp/value_text.h"
#include "store/convert.h"

namespace tervane::store {
namespace {

Result<uint32_t> RuleNumber(const Value& value, const NumberRange& range, const std::string& what) {
  if (value.is_null()) return Status::Error(kErrorConversion, what + ": is empty");
  Result<int64_t> n = ParseNumberText(value.AsText(), NumberStyle::kWhole, range, what);
  if (!n.ok()) return n.status();
  return static_cast<uint32_t>(*n);
}

}  // namespace

Status CheckStormPrefix(std::string_view text, std::string_view what) {
  int subids = 0;
  size_t i = 0;
  bool ok = !text.empty();
  while (ok && i < text.size()) {
    const size_t start = i;
    uint64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && v <= UINT32_MAX; ++i) {
      v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    const size_t digits = i - start;
    ok = digits != 0 && v <= UINT32_MAX && !(digits > 1 && text[start] == '0') &&
         ++subids <= kMaxStormPrefixSubIds;
    if (ok && i < text.size()) {
      ok = text[i] == '.' && i + 1 < text.size();
      ++i;
    }
  }
  if (ok) return Status::Ok();
  return Status::Error(kErrorInvalidArgument,
                       std::string(what) + ": " + snmp::QuoteText(text) +
                           " is not an OID prefix (1 to 128 numbers separated by dots, such as "
                           "1.3.6.1.4.1.9)");
}

bool PrefixMatches(std::string_view prefix, std::string_view oid) {
  if (prefix.empty()) return true;
  if (oid.size() < prefix.size() || oid.compare(0, prefix.size(), prefix) != 0) return false;
  return oid.size() == prefix.size() || oid[prefix.size()] == '.';
}

Result<StormRule> StormRuleFromRow(const StormRuleRow& row) {
  StormRule rule;
  if (row.oid_prefix.is_null()) {
    return Status::Error(kErrorConversion, std::string(kStormTable) +
                                               ": a row's OidPrefix is Null; the default "
                                               "rule's prefix is empty text");
  }
  rule.prefix = row.oid_prefix.AsText();
  const std::string name = std::string(kStormTable) + " " + rule.Label();
  if (!rule.is_default()) {
    if (Status checked = CheckStormPrefix(rule.prefix, name + ", OidPrefix"); !checked.ok()) {
      return checked;
    }
  }
  Result<uint32_t> rate = RuleNumber(row.per_minute, kPerMinuteRange, name + ", PerMinute");
  if (!rate.ok()) return rate.status();
  rule.per_minute = *rate;
  Result<uint32_t> burst = RuleNumber(row.burst, kBurstRange, name + ", Burst");
  if (!burst.ok()) return burst.status();
  rule.burst = *burst;
  if (!row.enabled.is_null()) {
    Result<bool> on = ToBoolean(row.enabled, name + ", Enabled");
    if (!on.ok()) return on.status();
    rule.enabled = *on;
  }
  return rule;
}

Result<std::vector<StormRule>> StormRulesFromRows(const std::vector<StormRuleRow>& rows) {
  std::vector<StormRule> rules(1);
  rules[0].enabled = false;
  bool have_default = false;
  for (const StormRuleRow& row : rows) {
    Result<StormRule> rule = StormRuleFromRow(row);
    if (!rule.ok()) return rule.status();
    bool twice = rule->is_default() && have_default;
    for (size_t i = 1; i < rules.size() && !twice; ++i) twice = rules[i].prefix == rule->prefix;
    if (twice) {
      return Status::Error(kErrorInvalidArgument, std::string(kStormTable) + " " + rule->Label() +
                                                      ": the prefix has two rules");
    }
    if (rule->is_default()) {
      rules[0] = *rule;
      have_default = true;
    } else if (rules.size() > static_cast<size_t>(kMaxStormPrefixRules)) {
      return Status::Error(kErrorOverflow, std::string(kStormTable) + ": more than " +
                                               std::to_string(kMaxStormPrefixRules) +
                                               " rules by prefix are listed");
    } else {
      rules.push_back(*rule);
    }
  }
  return rules;
}

std::vector<StormRuleRow> StormRulesToRows(const std::vector<StormRule>& rules) {
  std::vector<StormRuleRow> rows;
  rows.reserve(rules.size());
  for (const StormRule& rule : rules) {
    rows.push_back({Value(rule.prefix), Value(int64_t{rule.per_minute}), Value(int64_t{rule.burst}),
                    Value(rule.enabled ? 1 : 0)});
  }
  return rows;
}

}  // namespace tervane::store
