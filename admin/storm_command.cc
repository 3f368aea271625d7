#include "admin/storm_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "admin/svc_common.h"
#include "store/relay_options.h"
#include "store/store.h"

namespace tervane::svc {
namespace {

using store::StormRule;

constexpr char kTakesEffect[] = "; the service uses the change from its next start\n";

std::string Padded(std::string_view text, size_t width, bool right) {
  const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
  return right ? fill + std::string(text) : std::string(text) + fill;
}

// "600 a minute, burst 100, on".
std::string RuleSummary(const StormRule& rule) {
  return std::to_string(rule.per_minute) + " a minute, burst " + std::to_string(rule.burst) +
         (rule.enabled ? ", on" : ", off");
}

// The switch as stored: a file without its row (older than version 3, or the row removed)
// has the upgraded value, off.
Result<bool> StormControlOf(const store::Store& db) {
  Result<std::vector<store::RelayOption>> options = db.ReadRelayOptions();
  if (!options.ok()) return options.status();
  for (const store::RelayOption& option : *options) {
    if (option.name == store::kOptionStormControl) {
      return store::ParseSwitchOption(option.name, option.value);
    }
  }
  return false;
}

int List(const std::string& folder) {
  Result<store::Store> db = store::Store::Open(folder, store::Access::kReadOnly);
  if (!db.ok()) return Fail(db.status());
  Result<bool> on = StormControlOf(*db);
  if (!on.ok()) return Fail(on.status());
  Result<std::vector<store::StormRuleRow>> rows = db->ReadStormRules();
  if (!rows.ok()) return Fail(rows.status());
  Result<std::vector<StormRule>> rules = store::StormRulesFromRows(*rows);
  if (!rules.ok()) return Fail(rules.status());
  const bool has_default = std::any_of(rows->begin(), rows->end(), [](const auto& row) {
    return row.oid_prefix.is_text() && row.oid_prefix.text().empty();
  });
  const std::string note = db->schema_version() < 3
                               ? "its schema version " + std::to_string(db->schema_version()) +
                                     " has no storm rules; the service upgrades the file when it "
                                     "next starts"
                               : "";
  const std::string text = StormTable(*on, *rules, has_default, db->path(), note);
  std::fputs(text.c_str(), stdout);
  if (std::fflush(stdout) != 0) return Fail(Status::Error(ErrnoCode(errno), "standard output"));
  return 0;
}

// Writes the change of `line`'s action and sets *done to the line that says what it did.
Status Change(const SvcCommandLine& line, store::Store* db, std::string* done) {
  switch (line.storm) {
    case StormAction::kOn:
    case StormAction::kOff: {
      const bool on = line.storm == StormAction::kOn;
      *done = std::string("Switched storm control ") + (on ? "on" : "off") + " in " + db->path();
      return db->WriteRelayOption(store::kOptionStormControl, on ? "1" : "0");
    }
    case StormAction::kSet: {
      Result<StormRule> rule = StormRuleFromOperands(line.operands, line.off);
      if (!rule.ok()) return rule.status();
      Result<std::vector<store::StormRuleRow>> rows = db->ReadStormRules();
      if (!rows.ok()) return rows.status();
      const bool held = std::any_of(rows->begin(), rows->end(), [&](const auto& row) {
        return row.oid_prefix.is_text() && row.oid_prefix.text() == rule->prefix;
      });
      *done = std::string(held ? "Changed" : "Added") + " storm rule " + rule->Label() + " (" +
              RuleSummary(*rule) + (held ? ") in " : ") to ") + db->path();
      return db->SetStormRule(*rule);
    }
    case StormAction::kRemove: {
      const std::string& prefix = line.operands[0];
      const std::string name = std::string(store::kStormTable) + " " + prefix;
      if (prefix == kDefaultRuleWord) {
        return Status::Error(kErrorInvalidArgument,
                             name +
                                 ": the default rule stays; switch it off with "
                                 "tervane-svc storm set default PER_MINUTE BURST --off");
      }
      if (Status s = store::CheckStormPrefix(prefix, name + ", OidPrefix"); !s.ok()) return s;
      *done = "Removed storm rule " + prefix + " from " + db->path();
      return db->RemoveStormRule(prefix);
    }
    case StormAction::kList:
      break;
  }
  return Status::Ok();
}

}  // namespace

Result<StormRule> StormRuleFromOperands(const std::vector<std::string>& operands, bool off) {
  if (operands.size() != 3) {
    return Status::Error(kErrorInvalidArgument, "a rule is PREFIX PER_MINUTE BURST");
  }
  const std::string prefix = operands[0] == kDefaultRuleWord ? "" : operands[0];
  // An empty prefix typed as such is no rule's: the default rule is named "default".
  if (prefix.empty() && operands[0] != kDefaultRuleWord) {
    return store::CheckStormPrefix("", std::string(store::kStormTable) + ", OidPrefix");
  }
  return store::StormRuleFromRow({store::Value(prefix), store::Value(operands[1]),
                                  store::Value(operands[2]), store::Value(off ? 0 : 1)});
}

std::string StormTable(bool control_on, const std::vector<StormRule>& rules, bool has_default,
                       const std::string& source, std::string_view note) {
  std::string out = "Storm rules in " + source + "\n";
  out += std::string("Storm control: ") + (control_on ? "on" : "off");
  if (!note.empty()) out += " (" + std::string(note) + ")";
  out += "\n\n";
  struct Cells {
    std::string prefix, per_minute, burst, enabled;
  };
  std::vector<Cells> cells = {{"OidPrefix", "PerMinute", "Burst", "Enabled"}};
  for (const StormRule& rule : rules) {
    const bool held = !rule.is_default() || has_default;
    cells.push_back({rule.Label(), held ? std::to_string(rule.per_minute) : "-",
                     held ? std::to_string(rule.burst) : "-", rule.enabled ? "on" : "off"});
  }
  size_t widths[3] = {0, 0, 0};
  for (const Cells& c : cells) {
    widths[0] = std::max(widths[0], c.prefix.size());
    widths[1] = std::max(widths[1], c.per_minute.size());
    widths[2] = std::max(widths[2], c.burst.size());
  }
  for (const Cells& c : cells) {
    out += Padded(c.prefix, widths[0], false) + "  " + Padded(c.per_minute, widths[1], true) +
           "  " + Padded(c.burst, widths[2], true) + "  " + c.enabled + "\n";
  }
  return out;
}

int RunStormCommand(const SvcCommandLine& line) {
  Result<std::string> folder = ProgramFolderFor(line.folder);
  if (!folder.ok()) return Fail(folder.status());
  if (line.storm == StormAction::kList) return List(*folder);
  Result<store::Store> db = store::Store::Open(*folder, store::Access::kReadWrite);
  if (!db.ok()) return Fail(db.status());
  std::string done;
  if (Status changed = Change(line, &*db, &done); !changed.ok()) return Fail(changed);
  std::fputs((done + kTakesEffect).c_str(), stdout);
  if (std::fflush(stdout) != 0) return Fail(Status::Error(ErrnoCode(errno), "standard output"));
  return 0;
}

}  // namespace tervane::svc
