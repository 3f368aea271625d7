// The relay fuzzer's reading of the debug records: the shape every record's lines must have,
// and a trap record read back into its head values and bindings, so that the record of a trap
// as it came and the record of what was sent can be held against each other.
#ifndef TERVANE_FUZZ_TRAP_RECORD_H_
#define TERVANE_FUZZ_TRAP_RECORD_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervane::fuzz {

// A broken property stops the run at once, so that libFuzzer keeps the input.
inline void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// Every line ends in CR LF and holds no other CR, LF, TAB or NUL. `fixed_line` is one line of
// the record's own form that is let through: the null-values record sets the handler's name
// off from the time stamp with a TAB, a constant of the record and no value.
inline void CheckLines(std::string_view record, std::string_view fixed_line = {}) {
  Check(record.ends_with("\r\n"));
  size_t start = 0;
  while (start < record.size()) {
    const size_t end = record.find("\r\n", start);
    Check(end != std::string_view::npos);
    const std::string_view line = record.substr(start, end - start);
    if (fixed_line.empty() || line != fixed_line) {
      Check(line.find_first_of(std::string_view("\r\n\t\0", 4)) == std::string_view::npos);
    }
    start = end + 2;
  }
}

// A trap record read back: the six head values, the user name line of an SNMPv3 trap's, and
// the bindings' three values each.
struct Record {
  std::array<std::string_view, 6> head;  // TrapVersion, TrapOid, ... TrapSysUpTime
  std::optional<std::string_view> user_name;
  std::vector<std::array<std::string_view, 3>> vars;
};
enum Head { kVersion, kOid, kAgent, kNetwork, kCommunity, kUpTime };

// Reads a record that CheckLines accepted; its views point into `text`.
inline Record Parse(std::string_view text) {
  static constexpr std::string_view kHead[] = {
      "TrapVersion=",       "TrapOid=",       "TrapSourceAgent=",
      "TrapSourceNetwork=", "TrapCommunity=", "TrapSysUpTime="};
  static constexpr std::string_view kUserName = "TrapUserName=";
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  Record record;
  Check(lines.size() >= 8);
  size_t at = 1;
  for (size_t i = 0; i < record.head.size(); ++i) {
    if (i == kUpTime && lines[at].starts_with(kUserName)) {
      record.user_name = lines[at++].substr(kUserName.size());
      Check(at < lines.size());
    }
    Check(lines[at].starts_with(kHead[i]));
    record.head[i] = lines[at++].substr(kHead[i].size());
  }
  while (at < lines.size() && !lines[at].empty()) {
    const std::string n = std::to_string(record.vars.size() + 1);
    const std::string names[3] = {
        "TrapVarList.varOid(" + n + ")=", "TrapVarList.varValue(" + n + ")=",
        "TrapVarList.varType(" + n + ")="};
    std::array<std::string_view, 3> var;
    for (size_t j = 0; j < 3; ++j) {
      Check(at < lines.size() && lines[at].starts_with(names[j]));
      var[j] = lines[at++].substr(names[j].size());
    }
    record.vars.push_back(var);
  }
  Check(at < lines.size());  // the empty line that ends the bindings
  return record;
}

}  // namespace tervane::fuzz

#endif  // TERVANE_FUZZ_TRAP_RECORD_H_
