// The fuzz input's table description, read into SnmpTrap rows (see relay_fuzz.cc for the
// layout): bytes in order, every value kind the window or a hand may have stored, and the
// option AddSourceAddress; and where the input's datagram part starts.
#ifndef TERVANE_FUZZ_FUZZ_TABLE_H_
#define TERVANE_FUZZ_FUZZ_TABLE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/relay_options.h"
#include "store/rows.h"
#include "store/value.h"

namespace tervane::fuzz {

// The table description: bytes in order, 0 once they run out.
class Bytes {
 public:
  explicit Bytes(std::span<const uint8_t> data) : data_(data) {}
  uint8_t Byte() { return pos_ < data_.size() ? data_[pos_++] : 0; }
  uint64_t Wide() {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | Byte();
    return v;
  }

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

inline store::Value ReadValue(Bytes& in, const std::string& trap_oid) {
  static const char* const kTypeNames[] = {"Integer32", "DisplayString", "OBJECT IDENTIFIER",
                                           "IpAddress", "Counter32",     "Gauge32",
                                           "TimeTicks", "Counter64"};
  switch (in.Byte() % 8) {
    case 0:
      return int64_t{static_cast<int8_t>(in.Byte())};
    case 1:
      return store::Value();
    case 2:
      return static_cast<int64_t>(in.Wide());
    case 3:
      return static_cast<int8_t>(in.Byte()) / 4.0;
    case 4: {
      const uint64_t bits = in.Wide();
      double real;
      std::memcpy(&real, &bits, sizeof real);
      return real;
    }
    case 5: {
      std::string text(in.Byte(), '\0');
      for (char& c : text) c = static_cast<char>(in.Byte());
      return text;
    }
    case 6:
      return trap_oid;
    default:
      return kTypeNames[in.Byte() % 8];
  }
}

inline std::vector<store::TrapRow> ReadTable(Bytes& in, const std::string& trap_oid,
                                             store::SourceAddressMode* mode) {
  auto column = [](std::string_view name) {
    return static_cast<size_t>(store::ColumnPosition(store::kTrapColumns, name));
  };
  std::vector<store::TrapRow> rows;
  const uint8_t first = in.Byte();
  const int count = first % 33;
  static constexpr store::SourceAddressMode kModes[] = {store::SourceAddressMode::kKeep,
                                                        store::SourceAddressMode::kAddWhenMissing,
                                                        store::SourceAddressMode::kReplace};
  *mode = kModes[first / 33 % 3];
  for (int r = 1; r <= count; ++r) {
    std::vector<store::Value> v(store::kTrapColumns.size());
    v[column("TrapName")] = "trap" + std::to_string(r);
    for (const char* name : {"TrapOID", "TrapSourceVarNo", "TrapNewVarNo", "TrapNewNumber"}) {
      v[column(name)] = ReadValue(in, trap_oid);
    }
    const int filled = in.Byte() % 15;
    for (int n = 1; n <= filled; ++n) {
      for (store::VarField field :
           {store::VarField::kPos, store::VarField::kChar, store::VarField::kType}) {
        v[static_cast<size_t>(store::TrapVarPosition(n, field))] = ReadValue(in, trap_oid);
      }
    }
    rows.emplace_back(r, std::move(v));
  }
  return rows;
}

// Where the datagram starts: after the 2 bytes of the table's length and the table.
inline size_t DatagramOffset(const uint8_t* data, size_t size) {
  if (size < 2) return size;
  return 2 + std::min((size_t{data[0]} << 8) | data[1], size - 2);
}

// Whether the datagram part is an SNMPv3 description (see v3_peer.h) rather than a datagram:
// every datagram starts with a SEQUENCE.
inline bool IsDescription(std::span<const uint8_t> datagram) {
  return !datagram.empty() && datagram[0] != 0x30;
}

}  // namespace tervane::fuzz

#endif  // TERVANE_FUZZ_FUZZ_TABLE_H_
