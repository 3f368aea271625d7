// The SNMPv3 load of the relay benchmark: the generated trap of trap_load.h sent as a device
// would send it at authPriv, HMAC-SHA-256 and AES-128, by one user from one device engine,
// and the user that the relay is configured with for it (any engine).
//
// The datagrams are made with the relay library's own encoder and ciphers (EncodeScopedPdu,
// Privacy::Encrypt, EncodeV3, Authenticator::Sign) before each step (the step's trial number
// is in the encrypted PDU), as a pool that the generator sends in turn: during the step,
// sending one costs what sending an SNMPv2c trap costs, so the generator is not what limits
// the rate. Each datagram of a pool has its own msgID and salt;
// the engine time is the seconds since the device was made, so it stays within the relay's
// 150 s window however long the benchmark runs.
#ifndef TERVANE_BENCH_V3_LOAD_H_
#define TERVANE_BENCH_V3_LOAD_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/status.h"
#include "service/snmp/usm_crypto.h"
#include "store/v3_users.h"

namespace tervane::bench {

inline constexpr char kV3UserName[] = "benchUser";
inline constexpr snmp::usm::Auth kV3Auth = snmp::usm::Auth::kSha256;
inline constexpr snmp::usm::Priv kV3Priv = snmp::usm::Priv::kAes128;
// The most datagrams a pool holds: a step sends them in turn. One batch of the generator's
// (64), so that every datagram of a batch is a message of its own, and no more: the pool
// must stay in the caches, as SNMPv2c's one datagram does (on two cores, a pool of 1,024, over
// 500 KB, gave half the zero-loss rate that a pool of 8 gave, the relay's work the same).
inline constexpr size_t kV3PoolSize = 64;

// The user as the relay stores it: the Ku of the device's passwords, for any engine.
store::V3User V3BenchUser();

// One device engine sending the benchmark's trap at authPriv.
class V3Device {
 public:
  // Makes the device's keys (Ku from the passwords, localized to its engine).
  V3Device();

  // Replaces *pool with `size` datagrams of trial `trial` (as MakeTrap(trial)), each with a
  // msgID and a salt of its own, at the engine time of now. Fails when the trap cannot be
  // encoded; *pool is then empty.
  Status Build(uint32_t trial, size_t size, std::vector<std::vector<uint8_t>>* pool);
  // The size of one datagram, for the benchmark's heading; 0 when it cannot be encoded.
  size_t DatagramSize();

 private:
  std::vector<uint8_t> engine_id_;
  snmp::usm::Authenticator authenticator_;
  snmp::usm::Privacy privacy_;
  std::chrono::steady_clock::time_point made_ = std::chrono::steady_clock::now();
  // Carried on from pool to pool, so that no two datagrams of a run share them.
  int32_t next_msg_id_ = 1;
  uint64_t next_salt_ = 1;
};

}  // namespace tervane::bench

#endif  // TERVANE_BENCH_V3_LOAD_H_
