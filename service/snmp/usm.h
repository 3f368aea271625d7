// The receiving side of the User-based Security Model: it checks each SNMPv3 message as RFC
// 3414 §3.2 orders (security model, engine, user, level, MAC, time window, decryption), turns
// what passes into the same PDU view as an SNMPv2c message, answers discovery and late informs
// with Reports, and signs and encrypts the Responses to informs.
//
// Two kinds of engine are met. A device that sends a trap is the authoritative engine of that
// trap: its engine ID, boots and time come with the message, and the latest boots and time of
// each engine that sent an authentic message are kept, so that a replayed or old message is
// refused. For an inform this relay is the authoritative engine: the message must carry this
// engine's ID, and boots and time within the window of its own.
//
// A user is configured with its keys as made from its passwords (Ku). The keys localized to an
// engine (Kul), with the HMAC and cipher states prepared from them, are made on that engine's
// first authentic message and cached, at most kKeyCacheEntries of them, the least recently used
// dropped first; nothing is added for a message whose MAC did not verify. After that, a message
// costs one HMAC and one decryption and allocates nothing.
//
// Nothing about a message changes any state before its MAC verifies, but the counters.
#ifndef TERVANE_SERVICE_SNMP_USM_H_
#define TERVANE_SERVICE_SNMP_USM_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "service/snmp/codec.h"
#include "service/snmp/usm_crypto.h"
#include "service/snmp/v3_codec.h"

namespace tervane::snmp {
class BerWriter;
}

namespace tervane::snmp::usm {

// A user as configured: its keys are the Ku made from its passwords, the privacy key with the
// authentication hash.
struct User {
  std::string name;
  std::vector<uint8_t> engine_id;  // empty: the user is taken from any engine
  Auth auth = Auth::kNone;
  Key auth_key;
  Priv priv = Priv::kNone;
  Key priv_key;
};

// Why a message was dropped: one counter each.
enum class Drop : uint8_t {
  kUnsupportedSecLevel,
  kNotInTimeWindow,
  kUnknownUserName,
  kUnknownEngineId,
  kWrongDigest,
  kDecryptionError,
  kUnknownSecurityModel,
  kInvalidMessage,
};
inline constexpr size_t kDropReasons = 8;
// Why, in the words of an event: "its user is not known for its engine".
std::string_view DropText(Drop drop);

inline constexpr size_t kKeyCacheEntries = 4096;
// The engines whose latest boots and time are kept.
inline constexpr size_t kEngineTimeEntries = 4096;
// How far a message's engine time may lie from the time expected, in seconds.
inline constexpr uint32_t kTimeWindowSeconds = 150;
// The largest engineBoots: an engine that reached it is refused (RFC 3414 §2.2.2).
inline constexpr uint32_t kMaxEngineBoots = 2147483647;
// Reports sent per second at most, whatever asks for them: they answer forged sources too.
inline constexpr int kReportsPerSecond = 20;

// This engine: its ID and boots, and the steady-clock millisecond at which its time is 0.
struct LocalEngine {
  std::vector<uint8_t> id;
  uint32_t boots = 0;
  int64_t start_ms = 0;
};

class UserSecurity {
 public:
  UserSecurity(LocalEngine engine, std::vector<User> users);
  ~UserSecurity();
  UserSecurity(const UserSecurity&) = delete;
  UserSecurity& operator=(const UserSecurity&) = delete;

  // What Receive made of a message.
  struct Outcome {
    bool accepted = false;
    // Not accepted and not malformed: why (its counter has been counted).
    bool counted = false;
    Drop drop = Drop::kInvalidMessage;
    // The drop was a discovery probe's (a message that asks this engine for its ID): counted
    // and answered, but nothing was wrong with it.
    bool discovery = false;
    // The message's user name, for an event about a dropped message.
    std::string_view user_name;
    // A Report to send back to the sender, or empty; views this object until the next call.
    std::span<const uint8_t> report;
  };

  // Checks the SNMPv3 datagram received at `now_ms` (steady clock) and, when it passes,
  // decodes its PDU into *out, with snmpv3, user_name and security_flags set: the views lie in
  // `datagram`, whose encrypted ScopedPDU is decrypted in place. A malformed message is neither
  // accepted nor counted here.
  Outcome Receive(std::span<uint8_t> datagram, int64_t now_ms, DecodedMessage* out,
                  Texts texts = Texts::kAll);

  // Encodes into *out (emptied first) the Response to the inform that Receive accepted last, at its
  // security level, from this engine: `response` is its PDU (kind kKindResponse). Fails when no
  // inform was accepted since the last Response (an inform is answered once), or the PDU cannot be
  // encoded.
  Status EncodeResponse(const MessageView& response, int64_t now_ms, BerWriter* out);

  // The messages dropped for each reason since the start.
  const std::array<uint64_t, kDropReasons>& drops() const { return drops_; }
  uint64_t drops(Drop drop) const { return drops_[static_cast<size_t>(drop)]; }
  const LocalEngine& engine() const { return engine_; }
  // Entries in the key cache, for tests and figures.
  size_t cached_keys() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  LocalEngine engine_;
  std::array<uint64_t, kDropReasons> drops_{};
};

}  // namespace tervane::snmp::usm

#endif  // TERVANE_SERVICE_SNMP_USM_H_
