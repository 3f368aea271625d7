#include "config/storm_settings.h"

#include <cstdint>
#include <initializer_list>

#include "store/convert.h"
#include "store/number_text.h"
#include "store/relay_options.h"
#include "store/storm_rules.h"

namespace tervane::config {
namespace {

Result<uint32_t> RuleNumber(const std::string& text, const store::NumberRange& range,
                            const char* what) {
  Result<int64_t> n = store::ParseNumberText(text, store::NumberStyle::kWhole, range, what);
  if (!n.ok()) return n.status();
  return static_cast<uint32_t>(*n);
}

// The default rule's row among `rows`, or none.
const store::StormRuleRow* DefaultRow(const std::vector<store::StormRuleRow>& rows) {
  for (const store::StormRuleRow& row : rows) {
    if (!row.oid_prefix.is_null() && row.oid_prefix.AsText().empty()) return &row;
  }
  return nullptr;
}

// The number to write for one column of the rule: the user's when it changed and may be
// stored; else the one the file holds now (another program's, perhaps); else, without one, the
// one read. None when none of them may be stored: the rule is not written then.
std::optional<uint32_t> ColumnToWrite(const std::string& shown, const std::string& stored,
                                      const store::Value* now, const store::NumberRange& range) {
  const std::string held = now != nullptr ? now->AsText() : std::string();
  for (const std::string* text :
       {shown != stored ? &shown : nullptr, now != nullptr ? &held : nullptr, &stored}) {
    if (text == nullptr) continue;
    if (Result<uint32_t> n = RuleNumber(*text, range, ""); n.ok()) return *n;
  }
  return std::nullopt;
}

}  // namespace

StormSettings::StormSettings() {
  shown_.per_minute = std::to_string(store::kDefaultPerMinute);
  shown_.burst = std::to_string(store::kDefaultBurst);
  stored_ = shown_;
}

Status StormSettings::Read(const store::Store& db, const std::vector<store::RelayOption>& options) {
  StormFields read = StormSettings().shown_;
  const bool available = db.schema_version() >= 3;
  if (available) {
    for (const store::RelayOption& option : options) {
      if (option.name != store::kOptionStormControl) continue;
      Result<bool> on = store::ParseSwitchOption(option.name, option.value);
      read.on = on.ok() && *on;
    }
    Result<std::vector<store::StormRuleRow>> rows = db.ReadStormRules();
    if (!rows.ok()) return rows.status();
    // The texts as stored, also one written by hand that the service would refuse: the user
    // sees it, and corrects it here.
    if (const store::StormRuleRow* row = DefaultRow(*rows)) {
      read.per_minute = row->per_minute.AsText();
      read.burst = row->burst.AsText();
    }
  }
  available_ = available;
  shown_ = read;
  stored_ = read;
  return Status::Ok();
}

std::optional<Refusal> StormSettings::Check() const {
  if (!available_ || (shown_.per_minute == stored_.per_minute && shown_.burst == stored_.burst)) {
    return std::nullopt;
  }
  if (Result<uint32_t> n =
          RuleNumber(shown_.per_minute, store::kPerMinuteRange, kStormPerMinuteWhat);
      !n.ok()) {
    return Refusal{n.status(), Field{FieldKind::kStormPerMinute}};
  }
  if (Result<uint32_t> n = RuleNumber(shown_.burst, store::kBurstRange, kStormBurstWhat); !n.ok()) {
    return Refusal{n.status(), Field{FieldKind::kStormBurst}};
  }
  return std::nullopt;
}

Status StormSettings::Write(store::Store& db) {
  if (!available_) return Status::Ok();
  const bool rate_edited = shown_.per_minute != stored_.per_minute &&
                           RuleNumber(shown_.per_minute, store::kPerMinuteRange, "").ok();
  const bool burst_edited =
      shown_.burst != stored_.burst && RuleNumber(shown_.burst, store::kBurstRange, "").ok();
  if (rate_edited || burst_edited) {
    // The rule as the file holds it now, so that the number the user left alone keeps the
    // value another program may have written meanwhile; a rule without a row becomes one,
    // switched on, since the user means it to hold.
    Result<std::vector<store::StormRuleRow>> rows = db.ReadStormRules();
    if (!rows.ok()) return rows.status();
    const store::StormRuleRow* row = DefaultRow(*rows);
    store::StormRule rule;
    if (row != nullptr && !row->enabled.is_null()) {
      Result<bool> on = store::ToBoolean(row->enabled, "");
      rule.enabled = !on.ok() || *on;
    }
    const std::optional<uint32_t> rate =
        ColumnToWrite(shown_.per_minute, stored_.per_minute, row ? &row->per_minute : nullptr,
                      store::kPerMinuteRange);
    const std::optional<uint32_t> burst =
        ColumnToWrite(shown_.burst, stored_.burst, row ? &row->burst : nullptr, store::kBurstRange);
    if (rate && burst) {
      rule.per_minute = *rate;
      rule.burst = *burst;
      if (Status written = db.SetStormRule(rule); !written.ok()) return written;
      if (rate_edited) stored_.per_minute = shown_.per_minute;
      if (burst_edited) stored_.burst = shown_.burst;
    }
  }
  if (shown_.on != stored_.on) {
    Status written = db.WriteRelayOption(store::kOptionStormControl, shown_.on ? "1" : "0");
    if (!written.ok()) return written;
    stored_.on = shown_.on;
  }
  return Status::Ok();
}

}  // namespace tervane::config
