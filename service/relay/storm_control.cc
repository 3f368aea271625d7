#include "service/relay/storm_control.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <exception>
#include <random>
#include <utility>

#include "service/snmp/ber_reader.h"

namespace tervane::relay {
namespace {

// g++ and clang have a 128-bit integer; __extension__ says that it is meant.
__extension__ typedef unsigned __int128 Uint128;  // NOLINT(modernize-use-using)

// The high and low halves of a 64 x 64 -> 128-bit product, folded together.
uint64_t Fold(uint64_t a, uint64_t b) {
  const Uint128 r = static_cast<Uint128>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// A keyed 128-bit hash in the manner of wyhash: 16 octets a step, each folded in by a 128-bit
// multiplication with the running state and the key, in two lanes that cross the words, so
// that the index places of the keys cannot be known, and so aimed at, from outside. A key
// costs a few hundred cycles even with OIDs of 128 sub-identifiers: the key table sits on
// every trap's path while storm control is on.
std::pair<uint64_t, uint64_t> KeyedHash(const std::array<uint64_t, 2>& key, const uint8_t* data,
                                        size_t size) {
  constexpr uint64_t kP0 = 0xa0761d6478bd642fULL, kP1 = 0xe7037ed1a0b428dbULL,
                     kP2 = 0x8ebc6af09c88c6e3ULL, kP3 = 0x589965cc75374cc3ULL;
  uint64_t a = key[0] ^ kP0;
  uint64_t b = key[1] ^ kP1;
  size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    const uint64_t m0 = Load64(data + i), m1 = Load64(data + i + 8);
    a = Fold(m0 ^ kP1 ^ a, m1 ^ key[1]);
    b = Fold(m1 ^ kP2 ^ b, m0 ^ key[0]);
  }
  uint8_t tail[16] = {};
  std::memcpy(tail, data + i, size - i);
  const uint64_t m0 = Load64(tail), m1 = Load64(tail + 8);
  a = Fold(m0 ^ kP1 ^ a, m1 ^ key[1] ^ size);
  b = Fold(m1 ^ kP2 ^ b, m0 ^ key[0] ^ size);
  return {Fold(a ^ kP3, b ^ kP0), Fold(b ^ kP3 ^ key[0], a ^ kP2)};
}

// An IPv4 sender that reached a dual-stack socket is the IPv4 address it is.
std::string_view PlainSource(std::string_view source) {
  constexpr std::string_view kMapped = "::ffff:";
  if (source.size() <= kMapped.size() || source.find('.') == std::string_view::npos) return source;
  for (size_t i = 0; i < kMapped.size(); ++i) {
    const char c = source[i];
    if ((c == 'F' ? 'f' : c) != kMapped[i]) return source;
  }
  return source.substr(kMapped.size());
}

// "1 trap", "4,512 traps".
std::string Traps(uint64_t n, const char* one, const char* many) {
  return GroupedNumber(n) + (n == 1 ? one : many);
}

}  // namespace

std::span<const uint8_t> BindingNameContent(std::span<const uint8_t> b) {
  // The length at b[*i], moved past; false when it does not fit.
  auto length = [&](size_t* i, size_t* n) {
    if (*i >= b.size()) return false;
    const uint8_t first = b[(*i)++];
    if (first < 0x80) {
      *n = first;
      return true;
    }
    const size_t octets = first & 0x7fU;
    if (octets == 0 || octets > 4 || *i + octets > b.size()) return false;
    *n = 0;
    for (size_t k = 0; k < octets; ++k) *n = (*n << 8) | b[(*i)++];
    return true;
  };
  size_t i = 1;
  size_t n = 0;
  if (b.empty() || b[0] != 0x30 || !length(&i, &n) || n > b.size() - i) return {};
  if (i >= b.size() || b[i] != snmp::kTagOid) return {};
  ++i;
  if (!length(&i, &n) || n > b.size() - i) return {};
  return b.subspan(i, n);
}

std::string GroupedNumber(uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

void Refill(StormBucket* bucket, uint32_t per_minute, uint32_t burst, int64_t now_ms) {
  if (now_ms <= bucket->at_ms) return;
  const int64_t full = int64_t{burst} * kStormTokenUnits;
  const int64_t elapsed = now_ms - bucket->at_ms;
  bucket->at_ms = now_ms;
  if (per_minute == 0) return;
  // Past `full` milliseconds any rate has filled the bucket; below it the product fits.
  bucket->level =
      elapsed >= full ? full : std::min(full, bucket->level + elapsed * int64_t{per_minute});
}

bool TakeToken(StormBucket* bucket, uint32_t per_minute, uint32_t burst, int64_t now_ms) {
  Refill(bucket, per_minute, burst, now_ms);
  if (bucket->level < kStormTokenUnits) return false;
  bucket->level -= kStormTokenUnits;
  return true;
}

StormControl::Seed StormControl::RandomSeed() {
  Seed seed{};
  try {
    std::random_device device;
    for (uint64_t& word : seed) word = (uint64_t{device()} << 32) ^ device();
  } catch (const std::exception&) {
    // No entropy source: the clock still differs from one start to the next.
    const auto now =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed = {now * 0x9e3779b97f4a7c15ULL, ~now};
  }
  return seed;
}

StormControl::StormControl(std::vector<store::StormRule> rules, Seed seed, Limits limits)
    : rules_(std::move(rules)), held_(rules_.size()), seed_(seed), limits_(limits) {
  limits_.keys = std::max<uint32_t>(limits_.keys, 1);
  entries_ = std::make_unique<Entry[]>(limits_.keys);
  uint32_t size = 2;
  while (size < 2 * limits_.keys) size *= 2;
  index_ = std::make_unique<uint32_t[]>(size);  // zeroed: empty
  index_mask_ = size - 1;
  slots_.resize(limits_.slots);
  free_.reserve(limits_.slots);
  for (uint32_t i = limits_.slots; i-- > 0;) {
    // Room for the usual texts, so that a storm's start seldom allocates.
    slots_[i].source.reserve(48);
    slots_[i].trap_oid.reserve(64);
    slots_[i].first_binding.reserve(64);
    free_.push_back(i);
  }
  order_.reserve(limits_.slots);
}

int StormControl::RuleFor(std::string_view trap_oid) const {
  int best = -1;
  size_t best_length = 0;
  for (size_t i = 1; i < rules_.size(); ++i) {
    const store::StormRule& rule = rules_[i];
    if (!rule.enabled || (best >= 0 && rule.prefix.size() <= best_length)) continue;
    if (!store::PrefixMatches(rule.prefix, trap_oid)) continue;
    best = static_cast<int>(i);
    best_length = rule.prefix.size();
  }
  if (best < 0 && !rules_.empty() && rules_[0].is_default() && rules_[0].enabled) best = 0;
  return best;
}

StormControl::Digest StormControl::DigestOf(const StormTrap& trap) {
  size_t at = 0;
  // Each part with its length, so that no two keys run together alike; a part longer than
  // any address or OID is cut.
  auto put = [&](const uint8_t* data, size_t size, size_t most) {
    size = std::min(size, most);
    scratch_[at++] = static_cast<uint8_t>(size >> 8);
    scratch_[at++] = static_cast<uint8_t>(size);
    if (size != 0) std::memcpy(scratch_.data() + at, data, size);
    at += size;
  };
  const std::string_view source = PlainSource(trap.source);
  put(reinterpret_cast<const uint8_t*>(source.data()), source.size(), 256);
  put(reinterpret_cast<const uint8_t*>(trap.trap_oid.data()), trap.trap_oid.size(), 2048);
  put(trap.first_binding.data(), trap.first_binding.size(), 1024);
  const auto [a, b] = KeyedHash(seed_, scratch_.data(), at);
  return {a, b};
}

void StormControl::Unlink(uint32_t e) {
  Entry& x = entries_[e];
  (x.prev != kNone ? entries_[x.prev].next : head_) = x.next;
  (x.next != kNone ? entries_[x.next].prev : tail_) = x.prev;
  x.prev = x.next = kNone;
}

void StormControl::PushFront(uint32_t e) {
  Entry& x = entries_[e];
  x.prev = kNone;
  x.next = head_;
  if (head_ != kNone) entries_[head_].prev = e;
  head_ = e;
  if (tail_ == kNone) tail_ = e;
}

void StormControl::Unindex(uint32_t e) {
  uint32_t hole = Home(entries_[e].digest);
  while (index_[hole] != e + 1) hole = (hole + 1) & index_mask_;
  // Linear probing without tombstones: each later entry of the run moves into the hole when
  // the hole lies between its home and its place.
  for (uint32_t i = (hole + 1) & index_mask_; index_[i] != 0; i = (i + 1) & index_mask_) {
    const uint32_t home = Home(entries_[index_[i] - 1].digest);
    if (((i - home) & index_mask_) >= ((i - hole) & index_mask_)) {
      index_[hole] = index_[i];
      hole = i;
    }
  }
  index_[hole] = 0;
}

uint32_t StormControl::FindOrAdd(const Digest& d, uint8_t rule, int64_t now_ms) {
  for (uint32_t p = Home(d); index_[p] != 0; p = (p + 1) & index_mask_) {
    const uint32_t e = index_[p] - 1;
    if (entries_[e].digest.a != d.a || entries_[e].digest.b != d.b) continue;
    if (e != head_) {
      Unlink(e);
      PushFront(e);
    }
    return e;
  }
  uint32_t e = 0;
  if (used_ < limits_.keys) {
    e = used_++;
  } else {
    // The least recently seen key goes; a storm of it ends so.
    e = tail_;
    if (entries_[e].slot != kNone) Detach(e, false);
    Unindex(e);
    Unlink(e);
  }
  Entry& x = entries_[e];
  x = Entry{};
  x.digest = d;
  x.rule = rule;
  // A key seen for the first time has its whole burst.
  x.bucket = {int64_t{rules_[rule].burst} * kStormTokenUnits, now_ms};
  uint32_t p = Home(d);
  while (index_[p] != 0) p = (p + 1) & index_mask_;
  index_[p] = e + 1;
  PushFront(e);
  return e;
}

void StormControl::Detach(uint32_t e, bool superseded) {
  Entry& x = entries_[e];
  Slot& s = slots_[x.slot];
  s.entry = kNone;
  s.ended = true;
  if (superseded) {
    s.has_trailing = false;
    s.superseded = true;
  }
  x.slot = kNone;
  x.storming = false;
}

uint32_t StormControl::TakeSlot(uint32_t e, const StormTrap& trap) {
  const uint32_t i = free_.back();
  free_.pop_back();
  Slot& s = slots_[i];
  s.entry = e;
  s.in_use = true;
  s.ended = s.has_trailing = s.lost = s.superseded = false;
  s.rule = entries_[e].rule;
  s.held_minute = s.held_total = 0;
  s.source.assign(PlainSource(trap.source));
  s.trap_oid.assign(trap.trap_oid);
  if (trap.first_binding.empty() || snmp::DecodeOid(trap.first_binding, &s.first_binding)) {
    s.first_binding.clear();
  }
  s.trailing.clear();
  return i;
}

StormControl::Verdict StormControl::Check(const StormTrap& trap, int64_t now_ms) {
  Verdict v;
  keep_slot_ = kNone;
  v.rule = RuleFor(trap.trap_oid);
  if (v.rule < 0) return v;
  const store::StormRule& rule = rules_[static_cast<size_t>(v.rule)];
  if (rule.per_minute == 0) {
    ++held_[static_cast<size_t>(v.rule)];
    v.held = true;
    return v;
  }
  if (minute_start_ms_ < 0) minute_start_ms_ = now_ms;
  const uint32_t e = FindOrAdd(DigestOf(trap), static_cast<uint8_t>(v.rule), now_ms);
  Entry& x = entries_[e];
  // The rule follows from the trap OID, which is part of the key: the entry's own stands.
  const store::StormRule& own = rules_[x.rule];
  Refill(&x.bucket, own.per_minute, own.burst, now_ms);
  if (x.storming && x.bucket.level >= int64_t{own.burst} * kStormTokenUnits) {
    // Over before a tick noticed: this trap goes on, and is later than the one kept.
    if (x.slot != kNone) Detach(e, true);
    x.storming = false;
  }
  if (TakeToken(&x.bucket, own.per_minute, own.burst, now_ms)) {
    if (x.slot != kNone && slots_[x.slot].has_trailing) {
      slots_[x.slot].has_trailing = false;
      slots_[x.slot].superseded = true;
    }
    return v;
  }
  ++held_[x.rule];
  v.held = true;
  x.storming = true;
  if (x.slot == kNone && !free_.empty()) x.slot = TakeSlot(e, trap);
  if (x.slot != kNone) {
    Slot& s = slots_[x.slot];
    ++s.held_minute;
    ++s.held_total;
    v.keep = true;
    keep_slot_ = x.slot;
    return v;
  }
  ++unslotted_traps_;
  if (x.minute != minute_) {
    x.minute = minute_;
    ++unslotted_keys_;
    ++unkept_;
  }
  return v;
}

void StormControl::KeepTrailing(std::span<const uint8_t> datagram) {
  if (keep_slot_ == kNone) return;
  Slot& s = slots_[keep_slot_];
  keep_slot_ = kNone;
  const size_t had = s.trailing.capacity();
  if (datagram.size() > had) {
    if (trailing_bytes_ - had + datagram.size() > limits_.trailing_bytes) {
      s.has_trailing = false;
      if (!s.lost) ++unkept_;
      s.lost = true;
      return;
    }
    s.trailing.reserve(datagram.size());
    trailing_bytes_ = trailing_bytes_ - had + s.trailing.capacity();
  }
  s.trailing.assign(datagram.begin(), datagram.end());
  s.has_trailing = true;
  s.superseded = false;
}

void StormControl::EndStorm(Slot& s, const EventSink& event, const Resend& resend) {
  const char* tail = "";
  if (s.has_trailing) {
    resend(s.trailing, s.source);
    tail = "; the last one was sent on";
  } else if (s.superseded) {
    tail = "; a later one had gone on";
  } else if (s.lost) {
    tail = "; the last one could not be kept";
  }
  if (Budget()) {
    event("Trap storm ended: " + s.trap_oid + " from " + s.source + ", " +
          Traps(s.held_total, " trap", " traps") + " held back in all" + tail);
  } else {
    ++ends_unreported_;
  }
  s.in_use = s.ended = s.has_trailing = false;
  s.entry = kNone;
  s.held_minute = s.held_total = 0;
  s.trailing.clear();  // its room stays, for the next storm
  free_.push_back(static_cast<uint32_t>(&s - slots_.data()));
}

void StormControl::Tick(int64_t now_ms, const EventSink& event, const Resend& resend) {
  if (minute_start_ms_ < 0) minute_start_ms_ = now_ms;
  for (Slot& s : slots_) {
    if (!s.in_use) continue;
    if (!s.ended) {
      Entry& x = entries_[s.entry];
      const store::StormRule& rule = rules_[x.rule];
      Refill(&x.bucket, rule.per_minute, rule.burst, now_ms);
      if (x.bucket.level < int64_t{rule.burst} * kStormTokenUnits) continue;
      Detach(s.entry, false);
    }
    EndStorm(s, event, resend);
  }
  if (now_ms - minute_start_ms_ >= kStormMinuteMs) ReportMinute(now_ms, event);
}

void StormControl::EndAll(const EventSink& event, const Resend& resend) {
  for (Slot& s : slots_) {
    if (!s.in_use) continue;
    if (!s.ended) Detach(s.entry, false);
    EndStorm(s, event, resend);
  }
}

void StormControl::ReportMinute(int64_t now_ms, const EventSink& event) {
  order_.clear();
  for (uint32_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].in_use && slots_[i].held_minute > 0) order_.push_back(i);
  }
  // The keys that held back most are named.
  std::stable_sort(order_.begin(), order_.end(), [this](uint32_t l, uint32_t r) {
    return slots_[l].held_minute > slots_[r].held_minute;
  });
  uint64_t more_traps = unslotted_traps_;
  uint64_t more_keys = unslotted_keys_;
  for (const uint32_t i : order_) {
    Slot& s = slots_[i];
    if (Budget()) {
      std::string text = "Held back " + Traps(s.held_minute, " trap ", " traps ") + s.trap_oid +
                         " from " + s.source + " in the last minute";
      if (!s.first_binding.empty()) text += " (first binding " + s.first_binding + ")";
      event(text);
    } else {
      more_traps += s.held_minute;
      ++more_keys;
    }
    s.held_minute = 0;
  }
  std::vector<std::string> parts;
  if (more_traps > 0) {
    parts.push_back("Held back " + Traps(more_traps, " more trap", " more traps") + " from " +
                    Traps(more_keys, " more storming key", " more storming keys") +
                    " in the last minute");
  }
  if (ends_unreported_ > 0) {
    parts.push_back(Traps(ends_unreported_, " more trap storm ended", " more trap storms ended"));
  }
  if (unkept_ > 0) {
    parts.push_back("the last trap of " + Traps(unkept_, " storming key", " storming keys") +
                    " could not be kept, for want of room");
  }
  if (!parts.empty()) {
    std::string text = more_traps == 0 ? "In the last minute: " + parts[0] : parts[0];
    for (size_t i = 1; i < parts.size(); ++i) text += "; " + parts[i];
    event(text);
  }
  events_used_ = 0;
  unslotted_traps_ = unslotted_keys_ = unkept_ = ends_unreported_ = 0;
  ++minute_;
  minute_start_ms_ = now_ms;
}

}  // namespace tervane::relay
