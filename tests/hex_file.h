// Loader for the captured datagrams under tests/testdata/, shared by the unit tests, the
// fuzz target and the benchmark.
//
// A capture file is text: lines whose first non-blank character is '#' are comments (the
// first one says what the datagram is and which command produced it), and the rest holds
// the datagram as pairs of hex digits, with any whitespace between the pairs.
#ifndef TERVANE_TESTS_HEX_FILE_H_
#define TERVANE_TESTS_HEX_FILE_H_

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace tervane::testing {

// Parses capture text. Fails (kErrorMalformed, naming the line) on a character that is
// neither a hex digit nor whitespace outside a comment, and on an odd number of digits.
inline Result<std::vector<uint8_t>> ParseHex(std::string_view text) {
  std::vector<uint8_t> bytes;
  int line = 1;
  bool in_comment = false;
  bool line_start = true;  // nothing but blanks seen on this line yet
  int high = -1;           // first digit of a pair still waiting for its second
  for (char c : text) {
    if (c == '\n') {
      ++line;
      in_comment = false;
      line_start = true;
      continue;
    }
    if (in_comment) continue;
    if (c == ' ' || c == '\t' || c == '\r') continue;
    if (c == '#' && line_start) {
      in_comment = true;
      continue;
    }
    line_start = false;
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return Status::Error(kErrorMalformed, "unexpected character '" + std::string(1, c) +
                                                "' on line " + std::to_string(line));
    }
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) return Status::Error(kErrorMalformed, "odd number of hex digits");
  return bytes;
}

// Reads and parses one capture file. Fails with kErrorNotFound when it cannot be read.
inline Result<std::vector<uint8_t>> LoadHexFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::Error(kErrorNotFound, "cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  Result<std::vector<uint8_t>> bytes = ParseHex(text.str());
  if (!bytes.ok())
    return Status::Error(bytes.status().error(), path + ": " + bytes.status().description());
  return bytes;
}

}  // namespace tervane::testing

#endif  // TERVANE_TESTS_HEX_FILE_H_
