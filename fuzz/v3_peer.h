// The SNMPv3 peers of the relay fuzzer: a few fixed users of every security level, with their
// keys localized once to the engines the fuzzer sends from and to; messages made from the fuzz
// input as a device or an inform sender signs and encrypts them, so that mutated plaintext
// reaches past the MAC check; what UserSecurity must make of each, worked out independently;
// and the checks of the Responses it signs and encrypts for informs.
//
// An SNMPv3 description, the datagram part of relay_fuzz's input when it does not start with
// 0x30 (bytes missing at the end read as 0):
//   byte 0     bits 0-2 the user (see Users()); bit 3 an inform (reportable,
//              to this relay's engine), else a trap; bits 4-5 the security level: 0 the user's
//              own, 1 noAuthNoPriv, 2 authNoPriv, 3 authPriv; bits 6-7 the engine: 0 and 1
//              the one the message belongs to (an inform's this relay's, a trap's the engine
//              its user is bound to, else kDeviceEngine), 2 kOtherEngine, 3 none (empty)
//   byte 1     bit 0: the rest is a PDU, put into a ScopedPDU whose context is the engine's,
//              else the rest is a ScopedPDU; bit 1: boots and time as given, else an inform's
//              boots are this relay's and its time this relay's plus twice the time's low
//              byte as a signed number of seconds; bit 2: one bit of the MAC flipped after
//              signing
//   bytes 2-5  engine boots, bytes 6-9 engine time, big-endian, the top bit left off
//   the rest   the ScopedPDU or the PDU, in plain: encrypted here with the user's key when
//              the level has privacy (a level the user lacks keys for sends it in plain)
// The engines: this relay's 80 00 7e d9 05 01 ... 08 (boots kRelayBoots, time kRelayTime);
// kDeviceEngine 80 00 00 09 03 aa bb cc, the one fuzz/seeds' traps come from; kOtherEngine
// 80 00 00 09 03 dd ee ff.
#ifndef TERVANE_FUZZ_V3_PEER_H_
#define TERVANE_FUZZ_V3_PEER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "service/snmp/codec.h"
#include "service/snmp/usm.h"

namespace tervane::fuzz {

// The steady-clock time of every message, and this relay's engine: 60 s after its start, at
// boots 0, as net-snmp's snmpinform expects of an engine it has not heard from.
inline constexpr int64_t kNowMs = 1'000'000'000;
inline constexpr uint32_t kRelayBoots = 0;
inline constexpr uint32_t kRelayTime = 60;
inline constexpr size_t kUsers = 8;
inline constexpr size_t kDescriptionHead = 10;

snmp::usm::LocalEngine RelayEngine();
// The users as the relay is configured with them, their Ku made from their passwords once:
//   0 fuzz-none     noAuthNoPriv                     any engine
//   1 fuzz-md5auth  MD5                              any engine
//   2 fuzz-md5      MD5, DES                         any engine
//   3 fuzz-sha      SHA, AES                         any engine
//   4 fuzz-sha256   SHA-256, AES-256-C               any engine
//   5 fuzz-sha512   SHA-512, AES-256-C               bound to kDeviceEngine
//   6 tervane       SHA, AES (tests/testdata's)      any engine
//   7 tervane       noAuthNoPriv                     bound to its noAuthNoPriv capture's engine
// fuzz-* have the passwords of fuzz/seeds' captures, "fuzzauthpass" and "fuzzprivpass".
const std::vector<snmp::usm::User>& Users();

// What a message was made as, and what UserSecurity must make of it.
struct Expected {
  size_t user = 0;  // the user it was made as
  uint8_t flags = 0;
  int32_t msg_id = 0;
  bool decodes = false;  // DecodeV3Header takes it
  bool accepted = false;
  std::optional<snmp::usm::Drop> drop;  // counted, for this reason
  // What the accepted message's ScopedPDU is, in plain (a DES plaintext with its padding).
  std::vector<uint8_t> plaintext;
  size_t padding = 0;
};

// Makes the datagram of `description` into *datagram. False when it cannot be encoded (then
// nothing is sent).
bool MakeMessage(std::span<const uint8_t> description, std::vector<uint8_t>* datagram,
                 Expected* expected);

// The user that the relay takes a message of `name` from `engine` as: the one bound to that
// engine, else the first of any engine; nothing when none is.
std::optional<size_t> ResolveUser(std::span<const uint8_t> name, std::span<const uint8_t> engine);

// For a datagram that UserSecurity accepted, whatever its origin: the user it names took it at
// its level, and its MAC verifies with that user's key localized here, from the Ku, to the
// engine it names. Returns that user.
size_t CheckAuthentic(std::span<const uint8_t> datagram);

// Checks the Response that UserSecurity encoded for the inform `inform` (as accepted, its PDU
// `pdu`) of `user`: from this relay's engine, at the inform's level, with its msgID and user,
// signed and encrypted with that user's keys for this engine, its PDU the inform's as a
// Response.
void CheckResponse(std::span<const uint8_t> response, std::span<const uint8_t> inform, size_t user,
                   const snmp::MessageView& pdu);

}  // namespace tervane::fuzz

#endif  // TERVANE_FUZZ_V3_PEER_H_
