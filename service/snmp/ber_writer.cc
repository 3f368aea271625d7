#include "service/snmp/ber_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "service/snmp/copy_bytes.h"

namespace tervane::snmp {
namespace {

// Octets of the minimal two's-complement form of `value`: its significant bits (those that
// differ from the sign) plus a sign bit, rounded up to whole octets.
size_t SignedLength(int64_t value) {
  const auto bits = static_cast<uint64_t>(value < 0 ? ~value : value);
  return static_cast<size_t>(64 - std::countl_zero(bits)) / 8 + 1;
}

// Writes the low `n` (1..8) octets of `value`, most significant first, at p[0..n). The
// writer keeps kSlack free bytes in front of its data, so this stores one 8-byte word
// ending at p+n, whose first 8-n bytes fall into that free space.
[[gnu::always_inline]] inline void StoreLowOctets(uint8_t* p, size_t n, uint64_t value) {
  if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
  std::memcpy(p + n - 8, &value, 8);
}

}  // namespace

void BerWriter::Expand(size_t n) {
  const size_t used = size();
  const size_t capacity = std::max<size_t>({capacity_ * 2, used + n, 256});
  auto bigger = std::make_unique_for_overwrite<uint8_t[]>(capacity);
  if (used != 0) std::memcpy(bigger.get() + capacity - used, buffer_.get() + start_, used);
  buffer_ = std::move(bigger);
  capacity_ = capacity;
  start_ = capacity - used;
}

void BerWriter::PutBytes(std::span<const uint8_t> bytes) {
  CopyBytes(Grow(bytes.size()), bytes.data(), bytes.size());
}

void BerWriter::PutLongHeader(uint8_t tag, size_t content_length) {
  const size_t octets = (static_cast<size_t>(std::bit_width(content_length)) + 7) / 8;
  uint8_t* p = Grow(2 + octets);
  StoreLowOctets(p + 2, octets, content_length);  // first: it overwrites the bytes before
  p[0] = tag;
  p[1] = static_cast<uint8_t>(0x80 | octets);
}

void BerWriter::PutInteger(uint8_t tag, int64_t value) {
  const size_t n = SignedLength(value);
  StoreLowOctets(Grow(n), n, static_cast<uint64_t>(value));
  PutHeader(tag, n);
}

void BerWriter::PutUnsigned(uint8_t tag, uint64_t value) {
  // Minimal octets of the value with a zero sign bit in front: a leading zero octet when
  // the top bit of the magnitude is set, so the value does not read as negative.
  const size_t n = static_cast<size_t>(64 - std::countl_zero(value)) / 8 + 1;
  uint8_t* p = Grow(n);
  if (n == 9) *p++ = 0;
  StoreLowOctets(p, n == 9 ? 8 : n, value);
  PutHeader(tag, n);
}

void BerWriter::PutOctets(uint8_t tag, std::string_view octets) {
  CopyBytes(Grow(octets.size()), octets.data(), octets.size());
  PutHeader(tag, octets.size());
}

void BerWriter::PutElement(uint8_t tag, std::span<const uint8_t> content) {
  PutBytes(content);
  PutHeader(tag, content.size());
}

}  // namespace tervane::snmp
