// A small per-thread memo of OBJECT IDENTIFIER conversions between BER content octets and
// dotted text.
//
// A relay sees the same OIDs over and over: sysUpTime.0 and snmpTrapOID.0 in every SNMPv2
// trap, the trap OIDs and the objects of the devices that send to it. Turning an OID into
// text and back is the larger part of decoding and re-encoding a trap, so the converters
// remember recent results here: a hit costs a hash and a comparison instead of a digit-by-
// digit conversion. Each entry holds an exact copy of its key and its result, so a hit
// returns exactly what the conversion would have; a collision only replaces the older entry.
// Only successful conversions are remembered, and only OIDs short enough to fit an entry.
#ifndef TERVANE_SERVICE_SNMP_OID_MEMO_H_
#define TERVANE_SERVICE_SNMP_OID_MEMO_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "service/snmp/ber_reader.h"
#include "service/snmp/copy_bytes.h"

namespace tervane::snmp {

class OidMemo {
 public:
  // Longest BER content and text an entry holds; longer OIDs are converted every time.
  // Sized so that an entry fills two cache lines exactly.
  static constexpr size_t kMaxBer = 32;
  static constexpr size_t kMaxText = 93;

  // The memo of the calling thread.
  static OidMemo& ForThisThread() {
    // On the heap: the tables are too large to sit comfortably in every thread's TLS block.
    // `static` is implied by thread_local here; spelled out, the static analyzer no longer
    // takes the pointer for a local freed on return.
    static thread_local const std::unique_ptr<OidMemo> memo = std::make_unique<OidMemo>();
    return *memo;
  }

  // BER content -> text. On a hit *dotted receives the text and the result is true.
  // Inline: it runs for every OID of every message decoded.
  bool FindText(std::span<const uint8_t> ber, std::string* dotted) const {
    if (ber.size() > kMaxBer) return false;
    const Entry& e = by_ber_[Slot(ber.data(), ber.size())];
    if (e.ber_length != ber.size() || !SameBytes(e.ber, ber.data(), ber.size())) return false;
    SetText(dotted, e.text, e.text_length);
    return true;
  }
  // As above, the text written at `text` (room for kMaxText bytes), its length in *length.
  bool FindText(std::span<const uint8_t> ber, char* text, size_t* length) const {
    if (ber.size() > kMaxBer) return false;
    const Entry& e = by_ber_[Slot(ber.data(), ber.size())];
    if (e.ber_length != ber.size() || !SameBytes(e.ber, ber.data(), ber.size())) return false;
    CopyBytes(text, e.text, e.text_length);
    *length = e.text_length;
    return true;
  }
  // Whether `ber` is in the memo, as only a valid OID can be.
  bool Known(std::span<const uint8_t> ber) const {
    if (ber.size() > kMaxBer) return false;
    const Entry& e = by_ber_[Slot(ber.data(), ber.size())];
    return e.ber_length == ber.size() && SameBytes(e.ber, ber.data(), ber.size());
  }
  // Text -> BER content. On a hit *ber points at the content inside the memo (valid until
  // the next Remember) and the result is true.
  bool FindBer(std::string_view text, std::span<const uint8_t>* ber) const {
    if (text.size() > kMaxText) return false;
    const auto* key = reinterpret_cast<const uint8_t*>(text.data());
    const Entry& e = by_text_[Slot(key, text.size())];
    if (e.text_length != text.size() ||
        !SameBytes(reinterpret_cast<const uint8_t*>(e.text), key, text.size())) {
      return false;
    }
    *ber = {e.ber, e.ber_length};
    return true;
  }
  // Records a successful conversion in both directions' tables (the BER -> text table only
  // when `text` is the canonical text of `ber`, which the caller states).
  void Remember(std::span<const uint8_t> ber, std::string_view text, bool canonical_text);

 private:
  static constexpr size_t kSlots = 256;  // Slot() picks one of 256
  // A free entry has lengths no key can have, so a look-up needs no separate flag.
  static constexpr uint8_t kFree = 0xFF;
  struct alignas(64) Entry {
    uint8_t ber_length = kFree;
    uint8_t text_length = kFree;
    uint8_t ber[kMaxBer];
    char text[kMaxText + 1];
  };
  static_assert(sizeof(Entry) == 128 && kMaxBer < kFree && kMaxText < kFree);

  static uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
  }
  static uint64_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  // Picks a slot from the length and up to three 8-byte words (start, middle, end): enough
  // to tell OIDs apart in practice, and only the slot choice depends on it.
  static size_t Slot(const uint8_t* p, size_t n) {
    uint64_t h = n * 0x9E3779B97F4A7C15u;
    if (n >= 8) {
      h ^= Load64(p) * 0xC2B2AE3D27D4EB4Fu;
      h ^= Load64(p + n - 8) * 0x165667B19E3779F9u;
      if (n > 16) h ^= Load64(p + n / 2 - 4) * 0x27D4EB2F165667C5u;
    } else if (n >= 4) {
      h ^= (Load32(p) | (Load32(p + n - 4) << 32)) * 0xC2B2AE3D27D4EB4Fu;
    } else if (n > 0) {
      h ^= (p[0] | (uint64_t{p[n / 2]} << 8) | (uint64_t{p[n - 1]} << 16)) * 0xC2B2AE3D27D4EB4Fu;
    }
    return static_cast<size_t>((h ^ (h >> 29)) >> 56);  // one of kSlots == 256
  }
  // Equality of two byte strings of length n (at most kMaxText), 8 bytes at a time.
  static bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n) {
    if (n < 8) {
      for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
      }
      return true;
    }
    for (size_t i = 0; i + 8 < n; i += 8) {
      if (Load64(a + i) != Load64(b + i)) return false;
    }
    return Load64(a + n - 8) == Load64(b + n - 8);
  }
  static void Fill(Entry* entry, std::span<const uint8_t> ber, std::string_view text);

  Entry by_ber_[kSlots];
  Entry by_text_[kSlots];
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_OID_MEMO_H_
