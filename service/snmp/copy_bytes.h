// CopyBytes: memcpy for the short runs the codec copies all the time (OIDs, numbers, short
// strings). Runs of up to 32 bytes are copied with a few overlapping 8-byte or 4-byte
// moves instead of a call into the C library, whose dispatch costs more than the copy.
#ifndef TERVANE_SERVICE_SNMP_COPY_BYTES_H_
#define TERVANE_SERVICE_SNMP_COPY_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tervane::snmp {

// Copies n bytes from `from` to `to`; the ranges must not overlap. Reads and writes only
// inside [from, from+n) and [to, to+n).
inline void CopyBytes(void* to, const void* from, size_t n) {
  auto* d = static_cast<uint8_t*>(to);
  const auto* s = static_cast<const uint8_t*>(from);
  if (n > 32) {
    std::memcpy(d, s, n);
  } else if (n >= 16) {
    uint64_t a, b, c, e;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + 8, 8);
    std::memcpy(&c, s + n - 16, 8);
    std::memcpy(&e, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + 8, &b, 8);
    std::memcpy(d + n - 16, &c, 8);
    std::memcpy(d + n - 8, &e, 8);
  } else if (n >= 8) {
    uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else {
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
  }
}

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_COPY_BYTES_H_
