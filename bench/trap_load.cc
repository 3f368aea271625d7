#include "bench/trap_load.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <span>
#include <sstream>

#include "platform/sys_error.h"
#include "service/snmp/codec.h"

namespace tervane::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSnmpTrapOid[] = "1.3.6.1.6.3.1.1.4.1.0";
constexpr size_t kSendBatch = 64;
// Room for one forwarded datagram at the sink; the generated trap and its wrapped form are
// well below it, and anything cut short counts as bad.
constexpr size_t kSinkSlotBytes = 4096;
// How long the sink sleeps between emptying its socket, and the most batches it reads in
// one go (so that it notices a stop request even under a flood).
constexpr auto kSinkNap = std::chrono::microseconds(500);
constexpr int kMaxRounds = 10000;
// The key binding's last sub-identifier is this plus the key: three octets in BER.
constexpr uint32_t kKeyBase = 1U << 14;

void RaiseBuffer(int fd, int force_option, int option, int bytes) {
  // The forcing option ignores the system limit but needs CAP_NET_ADMIN; without it the
  // kernel caps the plain option at its limit, which is still a sizeable buffer.
  if (setsockopt(fd, SOL_SOCKET, force_option, &bytes, sizeof bytes) != 0) {
    (void)setsockopt(fd, SOL_SOCKET, option, &bytes, sizeof bytes);
  }
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  return sa;
}

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

}  // namespace

snmp::Message MakeTrap(uint32_t trial) {
  snmp::Message m;
  m.kind = snmp::kKindTrapV2;
  m.community = "public";
  m.request_id = static_cast<int32_t>(trial);
  m.variables = {
      {"1.3.6.1.2.1.1.3.0", snmp::kTypeTimeTicks, "123456789"},
      {kSnmpTrapOid, snmp::kTypeObjectId, kSourceTrapOid},
      {kTrialOid, snmp::kTypeInteger32, std::to_string(trial)},
      {"1.3.6.1.4.1.8072.2.3.2.1", snmp::kTypeDisplayString,
       "PORT 042 DOWN site=HQ-Berlin building=B floor=3 rack=R12 unit=3 slot=4 "
       "reason=carrier-lost since=2024-05-17T10:22:31Z severity=major ticket=INC0012345"},
      {"1.3.6.1.2.1.2.2.1.2.7", snmp::kTypeDisplayString, "GigabitEthernet0/7"},
      {"1.3.6.1.2.1.2.2.1.7.7", snmp::kTypeInteger32, "1"},
      {"1.3.6.1.2.1.2.2.1.8.7", snmp::kTypeInteger32, "2"},
      {"1.3.6.1.2.1.31.1.1.1.18.7", snmp::kTypeDisplayString,
       "uplink to core-sw-02 (building B, floor 3, port 48)"},
      {"1.3.6.1.2.1.4.20.1.1.10.20.30.40", snmp::kTypeIpAddress, "10.20.30.40"},
      {"1.3.6.1.2.1.2.2.1.10.7", snmp::kTypeCounter32, "3000000000"},
  };
  return m;
}

snmp::Message MakeKeyedTrap(uint32_t trial, const KeyedTrapShape& shape, uint32_t key) {
  snmp::Message m = MakeTrap(trial);
  m.variables[1].value = shape.trap_oid;
  // ifOperStatus of the keyed interface: down.
  m.variables.insert(m.variables.begin() + 2,
                     snmp::Variable{KeyName(shape, key), snmp::kTypeInteger32, "2"});
  return m;
}

std::string KeyName(const KeyedTrapShape& shape, uint32_t key) {
  return shape.key_prefix + "." + std::to_string(kKeyBase + key);
}

std::string LongOid(const std::string& base, int sub_ids) {
  std::string oid = base;
  const int have = static_cast<int>(std::count(base.begin(), base.end(), '.')) + 1;
  for (int i = have; i < sub_ids; ++i) oid += "." + std::to_string(1001 + i - have);
  return oid;
}

void SetKey(uint8_t* at, uint32_t key) {
  const uint32_t v = kKeyBase + key;
  at[0] = static_cast<uint8_t>(0x80 | ((v >> 14) & 0x7f));
  at[1] = static_cast<uint8_t>(0x80 | ((v >> 7) & 0x7f));
  at[2] = static_cast<uint8_t>(v & 0x7f);
}

Result<KeyedDatagram> EncodeKeyedTrap(uint32_t trial, const KeyedTrapShape& shape, uint32_t key) {
  KeyedDatagram keyed;
  std::vector<uint8_t> other;
  if (Status s = snmp::Encode(MakeKeyedTrap(trial, shape, 0), &keyed.bytes); !s.ok()) return s;
  if (Status s = snmp::Encode(MakeKeyedTrap(trial, shape, 1), &other); !s.ok()) return s;
  // Keys 0 and 1 differ in the last of the three octets only: where the encodings differ is
  // that octet.
  if (other.size() != keyed.bytes.size()) {
    return Status::Error(kErrorInvalidArgument, "the keyed trap's size depends on its key");
  }
  const auto differs = std::mismatch(keyed.bytes.begin(), keyed.bytes.end(), other.begin());
  if (differs.first - keyed.bytes.begin() < 2) {
    return Status::Error(kErrorInvalidArgument, "the keyed trap's key cannot be located");
  }
  keyed.key_offset = static_cast<size_t>(differs.first - keyed.bytes.begin()) - 2;
  // The codec agrees with SetKey: the largest key, written in place, decodes as itself.
  std::vector<uint8_t> check = keyed.bytes;
  SetKey(check.data() + keyed.key_offset, kMaxKeys - 1);
  snmp::Message decoded;
  if (!snmp::Decode(check, &decoded).ok() || decoded.variables.size() < 3 ||
      decoded.variables[2].oid != KeyName(shape, kMaxKeys - 1)) {
    return Status::Error(kErrorInvalidArgument, "the keyed trap's key is not where it seems");
  }
  SetKey(keyed.bytes.data() + keyed.key_offset, key);
  return keyed;
}

Result<int> OpenLoopbackSocket(uint16_t port, int buffer_bytes) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return SysError(errno, "socket");
  RaiseBuffer(fd, SO_RCVBUFFORCE, SO_RCVBUF, buffer_bytes);
  RaiseBuffer(fd, SO_SNDBUFFORCE, SO_SNDBUF, buffer_bytes);
  const sockaddr_in sa = Loopback(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int err = errno;
    close(fd);
    return SysError(err, "bind 127.0.0.1:" + std::to_string(port));
  }
  return fd;
}

uint16_t BoundPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

uint64_t UdpDrops(uint16_t port) {
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);  // the column titles
  uint64_t drops = 0;
  while (std::getline(table, line)) {
    // "sl local_address rem_address ... drops": the local address is hex "ADDR:PORT", the
    // drop count the last field.
    std::istringstream fields(line);
    std::string slot, local;
    fields >> slot >> local;
    const size_t colon = local.find(':');
    if (colon == std::string::npos ||
        std::strtoul(local.c_str() + colon + 1, nullptr, 16) != port) {
      continue;
    }
    std::string field, last;
    while (fields >> field) last = field;
    drops += std::strtoull(last.c_str(), nullptr, 10);
  }
  return drops;
}

Generator::~Generator() {
  if (fd_ >= 0) close(fd_);
}

Status Generator::Open() {
  Result<int> fd = OpenLoopbackSocket(0, 8 << 20);
  if (!fd.ok()) return fd.status();
  fd_ = *fd;
  return Status::Ok();
}

Result<SendReport> Generator::Run(const std::vector<uint8_t>& datagram, uint16_t port, double rate,
                                  uint64_t count, const std::atomic<bool>& stop,
                                  const KeySequence* keys) {
  if (keys == nullptr) {
    return Paced(port, rate, count, stop, [&datagram](uint64_t, unsigned k, iovec* iov) {
      for (unsigned j = 0; j < k; ++j) {
        iov[j].iov_base = const_cast<uint8_t*>(datagram.data());
        iov[j].iov_len = datagram.size();
      }
    });
  }
  // Keyed traps: a copy of the datagram per slot of the batch, each given its key just
  // before it goes out.
  if (keys->count == 0 || keys->offset + 3 > datagram.size()) {
    return Status::Error(kErrorInvalidArgument, "no room for the key in the datagram");
  }
  std::vector<uint8_t> slots(kSendBatch * datagram.size());
  for (size_t i = 0; i < kSendBatch; ++i) {
    std::copy(datagram.begin(), datagram.end(), slots.begin() + i * datagram.size());
  }
  return Paced(port, rate, count, stop, [&](uint64_t sent, unsigned k, iovec* iov) {
    for (unsigned j = 0; j < k; ++j) {
      uint8_t* slot = slots.data() + j * datagram.size();
      SetKey(slot + keys->offset, static_cast<uint32_t>((keys->first + sent + j) % keys->count));
      iov[j].iov_base = slot;
      iov[j].iov_len = datagram.size();
    }
  });
}

Result<SendReport> Generator::RunPool(const std::vector<std::vector<uint8_t>>& pool, uint16_t port,
                                      double rate, uint64_t count, const std::atomic<bool>& stop) {
  if (pool.empty()) return Status::Error(kErrorInvalidArgument, "no datagrams to send");
  return Paced(port, rate, count, stop, [&pool](uint64_t sent, unsigned k, iovec* iov) {
    for (unsigned j = 0; j < k; ++j) {
      const std::vector<uint8_t>& datagram = pool[(sent + j) % pool.size()];
      iov[j].iov_base = const_cast<uint8_t*>(datagram.data());
      iov[j].iov_len = datagram.size();
    }
  });
}

Result<SendReport> Generator::Paced(uint16_t port, double rate, uint64_t count,
                                    const std::atomic<bool>& stop, const FillBatch& fill) const {
  sockaddr_in to = Loopback(port);
  std::array<iovec, kSendBatch> iov{};
  std::array<mmsghdr, kSendBatch> headers{};
  for (size_t i = 0; i < kSendBatch; ++i) {
    headers[i].msg_hdr.msg_name = &to;
    headers[i].msg_hdr.msg_namelen = sizeof to;
    headers[i].msg_hdr.msg_iov = &iov[i];
    headers[i].msg_hdr.msg_iovlen = 1;
  }
  // About a millisecond of traffic per burst: low rates go out nearly one by one, high
  // rates in full batches.
  const uint64_t batch =
      std::clamp<uint64_t>(static_cast<uint64_t>(std::llround(rate / 1000.0)), 1, kSendBatch);
  const Clock::time_point start = Clock::now();
  SendReport report;
  int idle_rounds = 0;
  while (report.sent < count && !stop.load(std::memory_order_relaxed)) {
    const Clock::time_point due =
        start + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(static_cast<double>(report.sent) / rate));
    if (Clock::now() < due) std::this_thread::sleep_until(due);
    const auto k = static_cast<unsigned>(std::min(batch, count - report.sent));
    fill(report.sent, k, iov.data());
    const int n = sendmmsg(fd_, headers.data(), k, 0);
    if (n > 0) {
      report.sent += static_cast<uint64_t>(n);
      idle_rounds = 0;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != ENOBUFS) return SysError(errno, "sendmmsg");
    // Out of buffer room: give the stack a moment, a bounded number of times in a row.
    if (++idle_rounds > 10000) return SysError(ENOBUFS, "sendmmsg made no progress");
    poll(nullptr, 0, 1);
  }
  report.last_send = Clock::now();
  report.seconds = std::chrono::duration<double>(report.last_send - start).count();
  return report;
}

Sink::~Sink() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) close(fd_);
}

Status Sink::Start() {
  Result<int> fd = OpenLoopbackSocket(0, 8 << 20);
  if (!fd.ok()) return fd.status();
  fd_ = *fd;
  port_ = BoundPort(fd_);
  thread_ = std::thread([this] { Loop(); });
  return Status::Ok();
}

void Sink::BeginTrial(uint32_t trial, const std::string& trap_oid, const std::string& marker) {
  std::lock_guard<std::mutex> lock(mutex_);
  trial_ = trial;
  trap_oid_ = trap_oid;
  marker_ = marker;
  marker_ns_ = 0;
  good_ = 0;
  bad_ = 0;
  stale_ = 0;
  last_good_ns_ = 0;
  longest_gap_ns_ = 0;
}

std::chrono::steady_clock::time_point Sink::last_arrival() const {
  return Clock::time_point(std::chrono::nanoseconds(last_arrival_ns_.load()));
}

std::chrono::steady_clock::time_point Sink::last_good() const {
  return Clock::time_point(std::chrono::nanoseconds(last_good_ns_.load(std::memory_order_acquire)));
}

std::chrono::steady_clock::time_point Sink::marker_arrival() const {
  return Clock::time_point(std::chrono::nanoseconds(marker_ns_.load(std::memory_order_acquire)));
}

bool Sink::WaitForMarker(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const {
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + limit;
  while (marker_ns_.load(std::memory_order_acquire) == 0) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    if (now - std::max(start, last_arrival()) >= quiet) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return marker_ns_.load(std::memory_order_acquire) != 0;
}

uint64_t Sink::WaitFor(uint64_t expected, std::chrono::milliseconds quiet,
                       std::chrono::milliseconds limit) const {
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + limit;
  while (good() < expected) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    if (now - std::max(start, last_arrival()) >= quiet) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return good();
}

void Sink::Loop() {
  data_ = std::make_unique<uint8_t[]>(kBatch * kSinkSlotBytes);
  while (!stop_.load(std::memory_order_relaxed)) {
    // The sink never sleeps in poll: a waiting reader would make every relay's send pay
    // for waking it, a cost that a relay forwarding to another machine never has. It
    // sleeps on a timer instead and then empties the socket.
    std::this_thread::sleep_for(kSinkNap);
    for (int round = 0; round < kMaxRounds && Drain(); ++round) {
    }
  }
}

bool Sink::Drain() {
  for (size_t i = 0; i < kBatch; ++i) {
    iov_[i].iov_base = data_.get() + i * kSinkSlotBytes;
    iov_[i].iov_len = kSinkSlotBytes;
    headers_[i] = mmsghdr{};
    headers_[i].msg_hdr.msg_iov = &iov_[i];
    headers_[i].msg_hdr.msg_iovlen = 1;
  }
  const int n = recvmmsg(fd_, headers_.data(), kBatch, MSG_DONTWAIT, nullptr);
  if (n <= 0) return false;
  const int64_t now = NowNs();
  last_arrival_ns_.store(now, std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t good = 0;
  for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
    if ((headers_[i].msg_hdr.msg_flags & MSG_TRUNC) != 0) {
      bad_.fetch_add(1, std::memory_order_relaxed);
    } else if (Check(data_.get() + i * kSinkSlotBytes, headers_[i].msg_len)) {
      ++good;
    }
  }
  // The time first: whoever sees the count complete also sees when its last trap came.
  if (good > 0) {
    const int64_t previous = last_good_ns_.load(std::memory_order_relaxed);
    if (previous != 0 && now - previous > longest_gap_ns_.load(std::memory_order_relaxed)) {
      longest_gap_ns_.store(now - previous, std::memory_order_release);
    }
    last_good_ns_.store(now, std::memory_order_release);
    good_.fetch_add(good, std::memory_order_release);
  }
  return true;
}

bool Sink::Check(const uint8_t* data, size_t size) {
  snmp::Message& message = message_;
  if (!snmp::Decode(std::span<const uint8_t>(data, size), &message).ok()) {
    bad_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  uint32_t trial = 0;
  bool numbered = false;
  for (const snmp::Variable& v : message.variables) {
    if (v.oid != kTrialOid) continue;
    const auto [end, ec] = std::from_chars(v.value.data(), v.value.data() + v.value.size(), trial);
    numbered = ec == std::errc() && end == v.value.data() + v.value.size();
    break;
  }
  if (numbered && trial != trial_) {
    stale_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  const bool expected = numbered && message.kind == snmp::kKindTrapV2 &&
                        message.variables.size() >= 2 && message.variables[1].oid == kSnmpTrapOid &&
                        message.variables[1].value == trap_oid_;
  if (!expected) {
    bad_.fetch_add(1, std::memory_order_relaxed);
  } else if (!marker_.empty() && message.variables.size() > 2 &&
             message.variables[2].oid == marker_) {
    marker_ns_.store(NowNs(), std::memory_order_release);
  }
  return expected;
}

}  // namespace tervane::bench
