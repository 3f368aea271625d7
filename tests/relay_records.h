// Reading the service's debug records in tests: the files are split into lines at CR LF,
// records are found by their header line, and lines are compared with expected lines in
// which "{stamp}" stands for a "YYYY-MM-DD HH:MM:SS" time stamp and "{num}" for a decimal
// number (ports the kernel chose). Everything else must match byte for byte.
#ifndef TERVANE_TESTS_RELAY_RECORDS_H_
#define TERVANE_TESTS_RELAY_RECORDS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/message.h"

namespace tervane::testing {

inline constexpr char kTrapInHeader[] = "*** SNMP Trap In ***  ";
inline constexpr char kWrappedHeader[] = "*** SNMP Trap Out (Wrapped) ***  ";
inline constexpr char kNotWrappedHeader[] = "*** SNMP Trap Out (Not Wrapped) ***  ";
inline constexpr char kNullValuesHeader[] = "*** SNMP Trap In With NullValues ***  ";
inline constexpr char kTrapDbHeader[] = "*** SNMP Trap DB *** ";

// The lines of `text`, split at CR LF. The line end after the last line does not start
// another line; text that does not end with CR LF keeps its unterminated tail as a line.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// `text` with control bytes and bytes above 126 escaped, for failure messages.
inline std::string Escaped(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\x";
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 15]);
    }
  }
  return out;
}

// True when `actual` is `expected`, where "{stamp}" and "{num}" in `expected` stand for a
// time stamp and a decimal number.
inline bool LineMatches(const std::string& actual, const std::string& expected) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t a = 0;
  for (size_t e = 0; e < expected.size();) {
    if (expected.compare(e, 7, "{stamp}") == 0) {
      static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd";  // d: a digit
      for (const char* k = kShape; *k != '\0'; ++k, ++a) {
        if (a >= actual.size() || (*k == 'd' ? !digit(actual[a]) : actual[a] != *k)) return false;
      }
      e += 7;
    } else if (expected.compare(e, 5, "{num}") == 0) {
      const size_t first = a;
      while (a < actual.size() && digit(actual[a])) ++a;
      if (a == first) return false;
      e += 5;
    } else {
      if (a >= actual.size() || actual[a] != expected[e]) return false;
      ++a;
      ++e;
    }
  }
  return a == actual.size();
}

// True when `event` is an error event of `module` in the frame
// "Tervane: error 106: [number] description (Module: name)".
inline bool IsFailureEvent(const std::string& event, const std::string& module) {
  const std::string head = "Tervane: error 106: [";
  const std::string tail = " (Module: " + module + ")";
  if (event.rfind(head, 0) != 0 || event.size() < head.size() + tail.size() ||
      event.compare(event.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  size_t at = head.size();
  if (at < event.size() && event[at] == '-') ++at;
  const size_t digits = at;
  while (at < event.size() && event[at] >= '0' && event[at] <= '9') ++at;
  // The number, "] " and a description of at least one character before the tail.
  return at > digits && event.compare(at, 2, "] ") == 0 && at + 2 < event.size() - tail.size();
}

// Compares line by line and names the first difference.
inline ::testing::AssertionResult LinesMatch(const std::vector<std::string>& actual,
                                             const std::vector<std::string>& expected) {
  for (size_t i = 0; i < actual.size() && i < expected.size(); ++i) {
    if (!LineMatches(actual[i], expected[i])) {
      return ::testing::AssertionFailure() << "line " << i + 1 << " is \"" << Escaped(actual[i])
                                           << "\", expected \"" << Escaped(expected[i]) << "\"";
    }
  }
  if (actual.size() != expected.size()) {
    auto result = ::testing::AssertionFailure();
    result << actual.size() << " lines, expected " << expected.size() << "; ";
    if (actual.size() > expected.size()) {
      result << "first extra line \"" << Escaped(actual[expected.size()]) << "\"";
    } else {
      result << "first missing line \"" << Escaped(expected[actual.size()]) << "\"";
    }
    return result;
  }
  return ::testing::AssertionSuccess();
}

// The lines of the `nth` (0-based) record whose first line starts with `header`, up to and
// including its closing empty line; nothing when there is no such record.
inline std::optional<std::vector<std::string>> Record(const std::vector<std::string>& lines,
                                                      const std::string& header, int nth = 0) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(header, 0) != 0 || nth-- > 0) continue;
    std::vector<std::string> record;
    for (size_t j = i; j < lines.size(); ++j) {
      record.push_back(lines[j]);
      if (lines[j].empty()) return record;
    }
    return record;  // unterminated: the comparison shows what is missing
  }
  return std::nullopt;
}

// How many records start with `header`.
inline int CountRecords(const std::vector<std::string>& lines, const std::string& header) {
  int n = 0;
  for (const std::string& line : lines) n += line.rfind(header, 0) == 0 ? 1 : 0;
  return n;
}

// A value as the records print it: CR, LF, TAB and NUL shown as blanks.
inline std::string Printed(std::string value) {
  for (char& c : value) {
    if (c == '\r' || c == '\n' || c == '\t' || c == '\0') c = ' ';
  }
  return value;
}

// The head of a trap dump: the values of lines 2 to 7.
struct DumpHead {
  std::string version;
  std::string oid;
  std::string source_agent;
  std::string source_network;
  std::string community;
  std::string uptime;
};

// The expected lines of a trap dump with a stamped `header`, the bindings numbered from 1.
inline std::vector<std::string> ExpectedDump(const std::string& header, const DumpHead& head,
                                             const std::vector<snmp::Variable>& vars) {
  std::vector<std::string> lines = {header + "{stamp}",
                                    "TrapVersion=" + head.version,
                                    "TrapOid=" + head.oid,
                                    "TrapSourceAgent=" + head.source_agent,
                                    "TrapSourceNetwork=" + head.source_network,
                                    "TrapCommunity=" + head.community,
                                    "TrapSysUpTime=" + head.uptime};
  for (size_t i = 0; i < vars.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    lines.push_back("TrapVarList.varOid(" + n + ")=" + vars[i].oid);
    lines.push_back("TrapVarList.varValue(" + n + ")=" + Printed(vars[i].value));
    lines.push_back("TrapVarList.varType(" + n + ")=" + std::to_string(vars[i].type));
  }
  lines.emplace_back("");
  return lines;
}

}  // namespace tervane::testing

#endif  // TERVANE_TESTS_RELAY_RECORDS_H_
