#include "store/trap_name.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace tervane::store {
namespace {

struct Folding {
  uint32_t from;
  uint32_t to;
};

constexpr Folding kFoldings[] = {
#include "store/case_folding_table.inc"
};

// The binary search below needs each code point once, in increasing order.
static_assert(std::adjacent_find(std::begin(kFoldings), std::end(kFoldings),
                                 [](const Folding& a, const Folding& b) {
                                   return a.from >= b.from;
                                 }) == std::end(kFoldings));

uint32_t Fold(uint32_t code_point) {
  const auto* found = std::lower_bound(std::begin(kFoldings), std::end(kFoldings), code_point,
                                       [](const Folding& f, uint32_t c) { return f.from < c; });
  return found != std::end(kFoldings) && found->from == code_point ? found->to : code_point;
}

// A code point read from the start of a text, and the number of bytes it took; 0 bytes when
// the text does not start with well-formed UTF-8.
struct Decoded {
  uint32_t code_point = 0;
  size_t size = 0;
};

// Well-formed UTF-8 as Unicode defines it (Table 3-7): the ranges allowed for the second byte
// exclude the overlong forms (after E0 and F0), the surrogates (after ED) and the code
// points above U+10FFFF (after F4); C0, C1 and F5 to FF never start a sequence.
Decoded DecodeFirst(std::string_view text) {
  const auto byte = [text](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  size_t size = 0;
  uint32_t code_point = 0;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
    code_point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
    code_point = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
    code_point = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {};
  }
  if (text.size() < size) return {};
  for (size_t i = 1; i < size; ++i) {
    const uint8_t next = byte(i);
    if (next < low || next > high) return {};
    low = 0x80;
    high = 0xBF;
    code_point = code_point << 6 | (next & 0x3Fu);
  }
  return {code_point, size};
}

void AppendUtf8(uint32_t code_point, std::string* out) {
  const auto append = [out](uint32_t byte) { out->push_back(static_cast<char>(byte)); };
  if (code_point < 0x80) {
    append(code_point);
  } else if (code_point < 0x800) {
    append(0xC0 | code_point >> 6);
    append(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    append(0xE0 | code_point >> 12);
    append(0x80 | (code_point >> 6 & 0x3F));
    append(0x80 | (code_point & 0x3F));
  } else {
    append(0xF0 | code_point >> 18);
    append(0x80 | (code_point >> 12 & 0x3F));
    append(0x80 | (code_point >> 6 & 0x3F));
    append(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

std::string FoldCase(std::string_view utf8) {
  std::string folded;
  folded.reserve(utf8.size());
  while (!utf8.empty()) {
    const Decoded d = DecodeFirst(utf8);
    if (d.size == 0) {
      // One byte at a time: the bytes after it may still start a well-formed sequence.
      folded.push_back(utf8.front());
      utf8.remove_prefix(1);
    } else {
      AppendUtf8(Fold(d.code_point), &folded);
      utf8.remove_prefix(d.size);
    }
  }
  return folded;
}

bool SameTrapName(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

}  // namespace tervane::store
