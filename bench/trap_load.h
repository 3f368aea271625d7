// The two ends of the relay benchmark: a load generator that sends one realistic SNMPv2c
// trap, paced to a target rate, to the relay's receive port, and a sink that counts what
// the relay forwards and checks that every datagram decodes and carries the expected
// trap OID.
//
// Every trap of one trial carries the trial's number in a binding of its own, so that a
// straggler of an earlier trial is never counted for a later one. Both ends use large
// socket buffers and batched system calls (sendmmsg, recvmmsg) so that the measuring side
// is not what limits the rate. Loopback only.
#ifndef TERVANE_BENCH_TRAP_LOAD_H_
#define TERVANE_BENCH_TRAP_LOAD_H_

#include <sys/socket.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/status.h"
#include "service/snmp/message.h"

namespace tervane::bench {

// The trap OID of the generated trap, and the OID that the relay puts on its wrapped form.
inline constexpr char kSourceTrapOid[] = "1.3.6.1.4.1.8072.2.3.0.1";
inline constexpr char kWrappedTrapOid[] = "1.3.6.1.4.1.32473.1.100.2.0.1000";
// The binding that carries the trial number (binding 1: never the wrapping's source).
inline constexpr char kTrialOid[] = "1.3.6.1.2.1.2.2.1.1.7";
// Binding 2 is the long text that a wrapping definition cuts its pieces from.
inline constexpr int kSourceVarNo = 2;

// The generated SNMPv2c trap of trial `trial`: sysUpTime.0, snmpTrapOID.0 and eight
// bindings of assorted types, about 400 bytes on the wire.
snmp::Message MakeTrap(uint32_t trial);

// The traps of the storm-control cases. Storm control keys its buckets on (source address,
// trap OID, name of the first binding after the header); every trap here comes from the
// generator's one socket, so the key is set by the trap OID and that binding. The key
// binding's name ends in the sub-identifier 16384 + key, which takes three octets in BER
// for every key below kMaxKeys: the encoded traps of all keys have one size, and the key is
// set in a datagram by rewriting those octets (SetKey), not by encoding it again.
inline constexpr uint32_t kMaxKeys = (1U << 21) - (1U << 14);
struct KeyedTrapShape {
  std::string trap_oid;
  // The key binding's name without its last sub-identifier.
  std::string key_prefix;
};
// The generated trap of trial `trial` with trap OID `shape.trap_oid` and the binding
// key_prefix.(16384 + key) first after the header, then the bindings of MakeTrap.
snmp::Message MakeKeyedTrap(uint32_t trial, const KeyedTrapShape& shape, uint32_t key);
// The name of the key binding of key `key`.
std::string KeyName(const KeyedTrapShape& shape, uint32_t key);
// A dotted OID of exactly `sub_ids` sub-identifiers: `base`, then 1001, 1002, ... as filler.
std::string LongOid(const std::string& base, int sub_ids);

// One encoded keyed trap and where its key lies.
struct KeyedDatagram {
  std::vector<uint8_t> bytes;
  size_t key_offset = 0;  // the three octets of the key's sub-identifier
};
// The trap of trial `trial` encoded with key `key`, its key located by comparing it with
// the encoding of another key. Fails when the shape does not encode, or a check of SetKey
// against the codec does not hold.
Result<KeyedDatagram> EncodeKeyedTrap(uint32_t trial, const KeyedTrapShape& shape, uint32_t key);
// Writes key `key` (below kMaxKeys) into the three octets at `at`.
void SetKey(uint8_t* at, uint32_t key);

// The keys of one paced run: trap i of the run carries key (first + i) % count, written at
// `offset` of the datagram.
struct KeySequence {
  size_t offset = 0;
  uint64_t first = 0;
  uint32_t count = 1;
};

// A UDP socket on 127.0.0.1 with send and receive buffers of `buffer_bytes` (forced past
// the system limit when the process may). Returns the descriptor, or the failure.
Result<int> OpenLoopbackSocket(uint16_t port, int buffer_bytes);
uint16_t BoundPort(int fd);
// Datagrams that the kernel has dropped so far, for want of buffer room, on the UDP sockets
// bound to local port `port` (from /proc/net/udp; 0 when it cannot be read). Tells whether a
// trial lost its traps at the relay's socket or at the sink's.
uint64_t UdpDrops(uint16_t port);

// What one paced run sent.
struct SendReport {
  uint64_t sent = 0;
  double seconds = 0;                               // from the first send to the last
  std::chrono::steady_clock::time_point last_send;  // when the last send returned
  double rate() const { return seconds > 0 ? static_cast<double>(sent) / seconds : 0; }
};

class Generator {
 public:
  Generator() = default;
  ~Generator();
  Generator(const Generator&) = delete;
  Generator& operator=(const Generator&) = delete;

  Status Open();
  // Sends `count` copies of `datagram` to 127.0.0.1:`port` at `rate` per second, in
  // batches of up to 64 that are spread out so that no burst is longer than about 1 ms of
  // traffic. Gives up early when `stop` becomes true. A send failure other than a full
  // buffer ends the run and is returned. With `keys`, each trap sent is a copy of
  // `datagram` carrying its own key of the sequence.
  Result<SendReport> Run(const std::vector<uint8_t>& datagram, uint16_t port, double rate,
                         uint64_t count, const std::atomic<bool>& stop,
                         const KeySequence* keys = nullptr);
  // The same with the datagrams of `pool` (not empty) in turn: trap i of the run is
  // pool[i % pool.size()].
  Result<SendReport> RunPool(const std::vector<std::vector<uint8_t>>& pool, uint16_t port,
                             double rate, uint64_t count, const std::atomic<bool>& stop);

 private:
  // Points the first `k` of `iov` at the datagrams of the next batch, whose first is trap
  // `sent` of the run.
  using FillBatch = std::function<void(uint64_t sent, unsigned k, iovec* iov)>;
  // The paced sending of Run and RunPool.
  Result<SendReport> Paced(uint16_t port, double rate, uint64_t count,
                           const std::atomic<bool>& stop, const FillBatch& fill) const;

  int fd_ = -1;
};

// Receives on its own thread until destroyed.
class Sink {
 public:
  Sink() = default;
  ~Sink();
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  Status Start();
  uint16_t port() const { return port_; }

  // Starts counting for trial `trial`, whose traps must carry `trap_oid`; resets the
  // counters. A good trap whose first binding after the header is named `marker` is noted
  // (marker_arrived): the storm cases end a step with such a trap.
  void BeginTrial(uint32_t trial, const std::string& trap_oid, const std::string& marker = "");
  // Traps of the current trial that decoded and carried the expected trap OID.
  uint64_t good() const { return good_.load(std::memory_order_acquire); }
  // Datagrams of the current trial that did not decode, were cut short or carried another
  // trap OID.
  uint64_t bad() const { return bad_.load(std::memory_order_relaxed); }
  // Datagrams of earlier trials, or without a trial number.
  uint64_t stale() const { return stale_.load(std::memory_order_relaxed); }
  // Time of the last datagram of any kind, and of the last good trap of the current trial.
  std::chrono::steady_clock::time_point last_arrival() const;
  std::chrono::steady_clock::time_point last_good() const;
  // When the marker trap of the current trial arrived; the epoch while it has not.
  std::chrono::steady_clock::time_point marker_arrival() const;
  // The longest time between two batches of good traps of the current trial: with a steady
  // stream, how long the relay held its traps back at most.
  std::chrono::nanoseconds longest_gap() const {
    return std::chrono::nanoseconds(longest_gap_ns_.load(std::memory_order_acquire));
  }

  // Waits until `expected` good traps have arrived, or nothing has arrived for `quiet`, or
  // `limit` has passed. Returns the good count.
  uint64_t WaitFor(uint64_t expected, std::chrono::milliseconds quiet,
                   std::chrono::milliseconds limit) const;
  // Waits until the marker trap has arrived, or nothing has arrived for `quiet`, or `limit`
  // has passed. Returns whether it arrived.
  bool WaitForMarker(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const;

 private:
  static constexpr size_t kBatch = 64;

  void Loop();
  // Reads and checks one batch; false when the socket was empty.
  bool Drain();
  // Counts one datagram; true when it is a good trap of the current trial.
  bool Check(const uint8_t* data, size_t size);

  int fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  // The trial being counted and its trap OID; the sink thread holds the lock while it
  // checks a batch, so a trial boundary never falls inside one.
  std::mutex mutex_;
  uint32_t trial_ = 0;
  std::string trap_oid_;
  std::string marker_;
  std::atomic<uint64_t> good_{0};
  std::atomic<uint64_t> bad_{0};
  std::atomic<uint64_t> stale_{0};
  std::atomic<int64_t> last_arrival_ns_{0};
  std::atomic<int64_t> last_good_ns_{0};
  std::atomic<int64_t> longest_gap_ns_{0};
  std::atomic<int64_t> marker_ns_{0};
  // Used by the sink thread only. The message is reused so that checking costs no
  // allocation once its strings have grown.
  std::unique_ptr<uint8_t[]> data_;
  std::array<iovec, kBatch> iov_{};
  std::array<mmsghdr, kBatch> headers_{};
  snmp::Message message_;
};

}  // namespace tervane::bench

#endif  // TERVANE_BENCH_TRAP_LOAD_H_
