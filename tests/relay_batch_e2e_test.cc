// TervixSrv end to end under a burst of traps and informs larger than one receive batch: what
// the service sends for a batch leaves together when the batch ends, the answers to its
// informs first. Every trap must still be forwarded once and in order, every inform answered
// once, and each answer sent before the trap made of its inform. And once it has seen such
// bursts, relaying more of them allocates nothing.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

constexpr char kPassedOid[] = "1.3.6.1.4.1.32473.97.0.1";   // forwarded as it is
constexpr char kWrappedOid[] = "1.3.6.1.4.1.32473.97.0.2";  // wrapped by the definition
constexpr char kSequenceOid[] = "1.3.6.1.4.1.32473.97.1";   // binding 1: the datagram's number

// A UDP socket on 127.0.0.1 that plays the devices and the management station at once:
// it sends the burst, and the service sends both its answers and the traps it forwards
// back to it, so that one receive queue shows the order in which they left.
class Station {
 public:
  Station() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    EXPECT_GE(fd_, 0);
    const int buffer = 8 << 20;
    // Forced as root (as CI runs), else as much as the system allows.
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0) {
      (void)setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    EXPECT_EQ(getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len), 0);
    port_ = ntohs(sa.sin_port);
  }
  ~Station() {
    if (fd_ >= 0) close(fd_);
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  uint16_t port() const { return port_; }

  void SendTo(uint16_t port, const Message& m) const {
    std::vector<uint8_t> datagram;
    ASSERT_TRUE(snmp::Encode(m, &datagram).ok());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    ASSERT_EQ(sendto(fd_, datagram.data(), datagram.size(), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(datagram.size()));
  }

  // What arrives, in order, until `count` datagrams have come or `timeout_ms` has passed.
  std::vector<Message> Receive(size_t count, int timeout_ms) const {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::vector<Message> got;
    std::vector<uint8_t> buffer(65536);
    while (got.size() < count && Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
      if (n <= 0) continue;
      Message m;
      const Status decoded =
          snmp::Decode(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)), &m);
      EXPECT_TRUE(decoded.ok()) << decoded.ToString();
      got.push_back(m);
    }
    return got;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// The number that binding 1 (or, wrapped, the binding after the pieces) carries.
int SequenceOf(const Message& m) {
  for (const Variable& v : m.variables) {
    if (v.oid == kSequenceOid) return std::stoi(v.value);
  }
  return -1;
}

TEST_F(RelayTest, ABurstLargerThanABatchIsForwardedInOrderAndEachInformAnsweredBeforeItsTrap) {
  Station station;
  RelayConfig config;
  config.forw_port = station.port();
  // Binding 2 ("PORT 042") is cut into two pieces; binding 1 carries the number on.
  config.definitions = {Definition(kWrappedOid, 2, {Piece(1, 4), Piece(6, 3, "Integer32")})};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  // Stopped, the service finds the whole burst waiting when it goes on, and reads it a
  // batch at a time: 64 datagrams, 64, then the rest.
  constexpr int kCount = 150;
  ASSERT_EQ(kill(relay_->pid(), SIGSTOP), 0);
  std::map<int, bool> inform;  // by number
  for (int n = 0; n < kCount; ++n) {
    Message m = V2Trap(n % 3 == 0 ? kWrappedOid : kPassedOid,
                       {{kSequenceOid, snmp::kTypeInteger32, std::to_string(n)},
                        {"1.3.6.1.4.1.32473.97.2", snmp::kTypeDisplayString, "PORT 042 DOWN"}});
    inform[n] = n % 4 == 1 || n % 4 == 2;  // runs of two, in both routes
    if (inform[n]) m.kind = snmp::kKindInform;
    m.request_id = 1000 + n;
    ASSERT_NO_FATAL_FAILURE(station.SendTo(recv_port_, m));
  }
  ASSERT_EQ(kill(relay_->pid(), SIGCONT), 0);

  int informs = 0;
  for (const auto& [n, is_inform] : inform) informs += is_inform ? 1 : 0;
  const std::vector<Message> got = station.Receive(kCount + informs, 10000);
  ASSERT_EQ(got.size(), static_cast<size_t>(kCount + informs)) << relay_->output();

  std::map<int, int> answered_at;  // number -> position of its answer
  std::vector<int> forwarded;      // numbers of the forwarded traps, in arrival order
  for (size_t at = 0; at < got.size(); ++at) {
    const Message& m = got[at];
    if (m.kind == snmp::kKindResponse) {
      const int n = m.request_id - 1000;
      EXPECT_TRUE(inform[n]) << "an answer to " << n << ", which is no inform";
      EXPECT_EQ(answered_at.count(n), 0u) << "answered twice: " << n;
      EXPECT_EQ(SequenceOf(m), n);  // the inform itself, as a response
      answered_at[n] = static_cast<int>(at);
      continue;
    }
    ASSERT_EQ(m.kind, snmp::kKindTrapV2);
    const int n = SequenceOf(m);
    forwarded.push_back(n);
    EXPECT_EQ(TrapOidOf(m), n % 3 == 0 ? kWrappedTrapPrefix + std::string("1000") : kPassedOid);
    if (inform[n]) {
      ASSERT_EQ(answered_at.count(n), 1u) << "inform " << n << " forwarded before its answer";
    }
  }
  std::vector<int> expected(kCount);
  for (int n = 0; n < kCount; ++n) expected[n] = n;
  EXPECT_EQ(forwarded, expected);  // each once, in the order received
  EXPECT_EQ(answered_at.size(), static_cast<size_t>(informs));
  // Nothing more comes: no trap or answer twice.
  EXPECT_TRUE(station.Receive(1, 300).empty());
  EXPECT_EQ(Events(), (std::vector<std::string>{"Tervane: information 101"}));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

TEST_F(RelayTest, RelayingBurstsLikeThoseSeenBeforeAllocatesNothing) {
  if (!CountAllocations()) GTEST_SKIP() << kNoAllocationCounter;
  // Three stations: the first also sends the traps and takes the answers; the second
  // converts to SNMPv1, the third has a community of its own.
  Station station;
  Station second;
  Station third;
  RelayConfig config;
  config.forw_port = station.port();
  config.definitions = {Definition(kWrappedOid, 2, {Piece(1, 4), Piece(6, 3, "Integer32")})};
  // As a new database has it: every SNMPv2 trap gets its sender's address added.
  config.add_source_address = "1";
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(AddStation("127.0.0.1", second.port(), true, ""));
  ASSERT_NO_FATAL_FAILURE(AddStation("127.0.0.1", third.port(), false, "c3"));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  // The same burst of two receive batches each time, waiting in full when the service goes
  // on: wrapped and forwarded traps and informs, in the same places.
  constexpr int kCount = 128;
  auto burst = [&] {
    ASSERT_EQ(kill(relay_->pid(), SIGSTOP), 0);
    for (int n = 0; n < kCount; ++n) {
      Message m = V2Trap(n % 3 == 0 ? kWrappedOid : kPassedOid,
                         {{kSequenceOid, snmp::kTypeInteger32, std::to_string(n)},
                          {"1.3.6.1.4.1.32473.97.2", snmp::kTypeDisplayString, "PORT 042 DOWN"},
                          {"1.3.6.1.4.1.32473.97.3", snmp::kTypeCounter32, "4000000000"}});
      if (n % 5 == 0) m.kind = snmp::kKindInform;
      ASSERT_NO_FATAL_FAILURE(station.SendTo(recv_port_, m));
    }
    ASSERT_EQ(kill(relay_->pid(), SIGCONT), 0);
    const size_t expected = kCount + (kCount + 4) / 5;  // the traps and the answers
    ASSERT_EQ(station.Receive(expected, 10000).size(), expected) << relay_->output();
    ASSERT_EQ(second.Receive(kCount, 10000).size(), static_cast<size_t>(kCount));
    ASSERT_EQ(third.Receive(kCount, 10000).size(), static_cast<size_t>(kCount));
  };
  for (int i = 0; i < 2; ++i) ASSERT_NO_FATAL_FAILURE(burst());
  ASSERT_NO_FATAL_FAILURE(ExpectNoAllocationsDuring(
      [&] {
        for (int i = 0; i < 8; ++i) ASSERT_NO_FATAL_FAILURE(burst());
      },
      "relaying " + std::to_string(8 * kCount) + " traps"));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
