// Storm control: holds back the traps of one kind that come faster than their StormRule lets
// through (store/storm_rules.h), so that a flapping link does not drown the stations.
//
// A kind of trap is a key: the datagram's source address, the received trap OID and the name
// of the first binding after the header, so that linkDown of ifIndex 7 flapping does not hold
// back linkDown of ifIndex 8. Each key has a token bucket: it holds up to the rule's burst of
// traps and fills with the rule's traps per minute; a trap takes one token or is held back. A
// rule of 0 a minute is a filter: every trap of it is held back, counted and nothing more.
//
// Pure: no socket, no clock of its own (every call is given the steady time in milliseconds),
// no event log (events go to a function the caller gives). Bounded under any flood: at most
// kStormMaxKeys keys are tracked in fixed arrays (an open-addressing index over a keyed 128-bit
// digest of the key, and a least-recently-seen list that gives up its oldest key when full),
// so that once the table is full a trap allocates nothing. The texts of a key (its trap OID,
// source and first binding, for the events) and the last trap it had held back are kept only
// while it storms, in a pool of kStormSlots slots whose buffers are reused and whose bytes are
// bounded by kStormTrailingBytes.
//
// A storm ends when its key's bucket is full again (Tick notices, about once a second), or when
// its key is dropped from the full table: the last trap held back then goes on (the caller
// relays it as received), so that the station ends with the latest state, unless a later trap
// of the key went on meanwhile. Once a minute the storms are reported: at most
// kStormEventsPerMinute events name a key each (the ends of storms count among them), then
// one event sums up the rest.
#ifndef TERVANE_SERVICE_RELAY_STORM_CONTROL_H_
#define TERVANE_SERVICE_RELAY_STORM_CONTROL_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/storm_rules.h"

namespace tervane::relay {

// Keys tracked at once; the least recently seen one is dropped for a new one.
inline constexpr uint32_t kStormMaxKeys = 65536;
// Storming keys whose texts and last held-back trap are kept.
inline constexpr uint32_t kStormSlots = 1024;
// Bytes that the kept last traps may take together.
inline constexpr size_t kStormTrailingBytes = size_t{8} << 20;
// Events that name a storming key, per minute; one more sums up the rest.
inline constexpr int kStormEventsPerMinute = 20;
inline constexpr int64_t kStormMinuteMs = 60000;
// How often the caller calls Tick.
inline constexpr int kStormTickMs = 1000;
// The event number of every storm event.
inline constexpr int kStormEvent = 107;
// A bucket's level counts tokens in these units: one millisecond adds the rule's traps per
// minute, so that the arithmetic is exact in integers.
inline constexpr int64_t kStormTokenUnits = kStormMinuteMs;

// One trap as storm control sees it. The views need last only for the call.
struct StormTrap {
  std::string_view source;    // the datagram's source address, as text
  std::string_view trap_oid;  // the received trap OID (for SNMPv1 the one formed from it)
  std::span<const uint8_t> first_binding;  // the content octets of its OID; empty: none
};

// The content octets of the OID of an encoded binding (SEQUENCE { OBJECT IDENTIFIER, value }
// in definite lengths), or empty when it is not one.
std::span<const uint8_t> BindingNameContent(std::span<const uint8_t> binding);

// "4,512": `n` with its thousands separated by commas.
std::string GroupedNumber(uint64_t n);

// The token bucket of one key.
struct StormBucket {
  int64_t level = 0;  // in kStormTokenUnits
  int64_t at_ms = 0;  // the time `level` was reckoned at
};
// Fills `bucket` for the time from its last reckoning to `now_ms` (never back), to at most
// `burst` tokens.
void Refill(StormBucket* bucket, uint32_t per_minute, uint32_t burst, int64_t now_ms);
// Refills, then takes one token when there is one; false when the trap is to be held back.
bool TakeToken(StormBucket* bucket, uint32_t per_minute, uint32_t burst, int64_t now_ms);

class StormControl {
 public:
  // Sizes of the tables; the constants by default, smaller ones in tests.
  struct Limits {
    uint32_t keys = kStormMaxKeys;
    uint32_t slots = kStormSlots;
    size_t trailing_bytes = kStormTrailingBytes;
  };
  using Seed = std::array<uint64_t, 2>;
  using EventSink = std::function<void(const std::string& text)>;
  // Relays the last trap held back of a storm that ended: the datagram as received and its
  // source address.
  using Resend = std::function<void(std::span<const uint8_t> datagram, std::string_view source)>;

  // `rules` as store::StormRulesFromRows gives them: the default rule first. `seed` keys the
  // digest, so that a sender cannot aim keys at one place of the index; RandomSeed() at start.
  // Everything the tables take is allocated here.
  StormControl(std::vector<store::StormRule> rules, Seed seed, Limits limits);
  explicit StormControl(std::vector<store::StormRule> rules)
      : StormControl(std::move(rules), RandomSeed(), Limits()) {}
  static Seed RandomSeed();

  // The rule that applies to `trap_oid`: the enabled rule of the longest prefix that matches
  // it, else the default rule when enabled; -1: no rule limits it.
  int RuleFor(std::string_view trap_oid) const;

  struct Verdict {
    int rule = -1;      // as RuleFor
    bool held = false;  // not to be sent
    // Held, and the key storms with a slot: KeepTrailing should be given the trap.
    bool keep = false;
  };
  // Takes a token for `trap`, or holds it back and counts it.
  Verdict Check(const StormTrap& trap, int64_t now_ms);
  // Keeps `datagram` as the last trap held back of the key of the last Check that said
  // `keep`, in place of the one before; without the room for it, the key keeps none.
  void KeepTrailing(std::span<const uint8_t> datagram);

  // Ends the storms that are over, each with its event (within the minute's budget) and its
  // last trap resent; and once a minute reports the storms.
  void Tick(int64_t now_ms, const EventSink& event, const Resend& resend);
  // Ends every storm now, as at stop: each key's last trap held back is resent, so that the
  // stations keep the latest state.
  void EndAll(const EventSink& event, const Resend& resend);
  // Reports the minute so far now (as at stop) and starts a new one.
  void ReportMinute(int64_t now_ms, const EventSink& event);

  const std::vector<store::StormRule>& rules() const { return rules_; }
  // Traps held back by rule `i` since the start.
  uint64_t held(size_t i) const { return held_[i]; }
  // Keys tracked now.
  uint32_t tracked() const { return used_; }
  // Storming keys that have a slot now.
  uint32_t storming_slots() const { return limits_.slots - static_cast<uint32_t>(free_.size()); }
  // Bytes that the kept last traps' buffers hold.
  size_t trailing_bytes() const { return trailing_bytes_; }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Digest {
    uint64_t a = 0;
    uint64_t b = 0;
  };
  struct Entry {
    Digest digest;
    StormBucket bucket;
    uint32_t prev = kNone;  // the least-recently-seen list: toward the most recent
    uint32_t next = kNone;
    uint32_t slot = kNone;
    uint32_t minute = 0;  // the minute in which a held-back trap without a slot last counted
    uint8_t rule = 0;
    bool storming = false;
  };
  // How a storm ended for its last trap.
  enum class Tail { kSend, kLaterWentOn, kNoRoom };
  struct Slot {
    uint32_t entry = kNone;  // kNone once its storm has ended
    bool in_use = false;
    bool ended = false;
    bool has_trailing = false;
    bool lost = false;        // a trap could not be kept for want of room
    bool superseded = false;  // a later trap of the key went on
    uint8_t rule = 0;
    uint64_t held_minute = 0;
    uint64_t held_total = 0;
    std::string source;
    std::string trap_oid;
    std::string first_binding;
    std::vector<uint8_t> trailing;
  };

  Digest DigestOf(const StormTrap& trap);
  // The entry of `digest`, made (the least recently seen one given up when full) when new.
  uint32_t FindOrAdd(const Digest& digest, uint8_t rule, int64_t now_ms);
  uint32_t Home(const Digest& d) const { return static_cast<uint32_t>(d.a) & index_mask_; }
  void Unindex(uint32_t entry);
  void Unlink(uint32_t entry);
  void PushFront(uint32_t entry);
  // The key of `entry` is no longer followed: its storm, if any, ends with it.
  void Detach(uint32_t entry, bool superseded);
  uint32_t TakeSlot(uint32_t entry, const StormTrap& trap);
  void EndStorm(Slot& slot, const EventSink& event, const Resend& resend);
  bool Budget() { return events_used_ < kStormEventsPerMinute ? (++events_used_, true) : false; }

  std::vector<store::StormRule> rules_;
  std::vector<uint64_t> held_;
  Seed seed_;
  Limits limits_;
  std::unique_ptr<Entry[]> entries_;
  std::unique_ptr<uint32_t[]> index_;  // entry + 1; 0: empty
  uint32_t index_mask_ = 0;
  uint32_t used_ = 0;
  uint32_t head_ = kNone;  // most recently seen
  uint32_t tail_ = kNone;  // least recently seen
  std::vector<Slot> slots_;
  std::vector<uint32_t> free_;  // free slots
  size_t trailing_bytes_ = 0;
  uint32_t keep_slot_ = kNone;           // of the last Check that said `keep`
  std::array<uint8_t, 4096> scratch_{};  // the key's parts, for the digest

  // The minute being counted.
  int64_t minute_start_ms_ = -1;
  uint32_t minute_ = 1;
  int events_used_ = 0;
  uint64_t unslotted_traps_ = 0;  // held back for keys without a slot
  uint64_t unslotted_keys_ = 0;
  uint64_t unkept_ = 0;  // keys whose last trap could not be kept
  uint64_t ends_unreported_ = 0;
  std::vector<uint32_t> order_;  // reused by ReportMinute
};

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_STORM_CONTROL_H_
