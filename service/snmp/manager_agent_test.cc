// Our agent and our manager against each other, and the manager against raw datagrams,
// over 127.0.0.1 on ports the kernel picks.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/agent.h"
#include "service/snmp/codec.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/manager.h"
#include "service/snmp/manager_agent_fixture.h"
#include "service/snmp/message.h"
#include "service/snmp/send_queue.h"
#include "service/snmp/socket_util.h"

namespace tervane::snmp {

// Readable failure messages: a message's fields, values in hex since they may be binary.
static void PrintTo(const Message& m, std::ostream* os) {
  static const char kDigits[] = "0123456789abcdef";
  *os << "{kind " << m.kind << ", community '" << m.community << "', request " << m.request_id
      << ", enterprise " << m.enterprise << ", agent " << m.agent_address << ", generic "
      << m.generic_trap << ", specific " << m.specific_trap << ", time " << m.time_stamp;
  for (const Variable& v : m.variables) {
    *os << ", {" << v.oid << " type " << v.type << " hex [";
    for (unsigned char c : v.value) *os << kDigits[c >> 4] << kDigits[c & 15];
    *os << "]}";
  }
  *os << "}";
}

namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

// A plain UDP socket on 127.0.0.1, for sending what our agent never would and for
// receiving responses. Closed when the test ends.
class RawSocket {
 public:
  RawSocket() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    EXPECT_GE(fd_, 0);
    sockaddr_in sa = Loopback(0);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  }
  ~RawSocket() {
    if (fd_ >= 0) close(fd_);
  }
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  int fd() const { return fd_; }
  uint16_t port() const { return PortOf(LocalName(fd_)); }

  void SendTo(uint16_t port, const std::vector<uint8_t>& datagram) const {
    const sockaddr_in to = Loopback(port);
    ASSERT_EQ(sendto(fd_, datagram.data(), datagram.size(), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(datagram.size()));
  }
  // One datagram, waiting at most `timeout_ms`; empty when none came.
  std::vector<uint8_t> Receive(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return {};
    std::vector<uint8_t> buf(65536);
    const ssize_t n = recv(fd_, buf.data(), buf.size(), MSG_DONTWAIT);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
  }

 private:
  int fd_ = -1;
};

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

Message V1Trap() {
  Message m;
  m.community = "public";
  m.kind = kKindTrapV1;
  m.enterprise = "1.3.6.1.4.1.32473.1";
  m.agent_address = "192.0.2.7";
  m.generic_trap = 6;
  m.specific_trap = 1234;
  m.time_stamp = 4294967295u;
  m.variables = {
      {"1.3.6.1.4.1.32473.1.1", kTypeInteger32, "-2147483648"},
      {"1.3.6.1.4.1.32473.1.2", kTypeDisplayString, AllBytes()},
      {"1.3.6.1.4.1.32473.1.3", kTypeObjectId, "1.3.6.1.4.1.32473.4294967295"},
      {"1.3.6.1.4.1.32473.1.4", kTypeIpAddress, "255.0.0.1"},
      {"1.3.6.1.4.1.32473.1.5", kTypeCounter32, "4294967295"},
      {"1.3.6.1.4.1.32473.1.6", kTypeGauge32, "0"},
      {"1.3.6.1.4.1.32473.1.7", kTypeTimeTicks, "4294967295"},
      {"1.3.6.1.4.1.32473.1.9", kTypeOpaque, std::string("\x9f\x78\x04\x00\xff", 5)},
      {"1.3.6.1.4.1.32473.1.10", kTypeNoValue, ""},
  };
  return m;
}

Message V2(int32_t kind, int32_t request_id) {
  Message m;
  m.community = std::string("c\0mmunity", 9);
  m.kind = kind;
  m.request_id = request_id;
  m.variables = {
      {"1.3.6.1.2.1.1.3.0", kTypeTimeTicks, "123456"},
      {"1.3.6.1.6.3.1.1.4.1.0", kTypeObjectId, "1.3.6.1.4.1.32473.1.100.2.0.1000"},
      {"1.3.6.1.4.1.32473.1.1", kTypeInteger32, "2147483647"},
      {"1.3.6.1.4.1.32473.1.2", kTypeDisplayString, AllBytes()},
      {"1.3.6.1.4.1.32473.1.3", kTypeObjectId, "0.0"},
      {"1.3.6.1.4.1.32473.1.4", kTypeIpAddress, "0.0.0.0"},
      {"1.3.6.1.4.1.32473.1.5", kTypeCounter32, "0"},
      {"1.3.6.1.4.1.32473.1.6", kTypeGauge32, "4294967295"},
      {"1.3.6.1.4.1.32473.1.7", kTypeTimeTicks, "0"},
      {"1.3.6.1.4.1.32473.1.8", kTypeCounter64, "18446744073709551615"},
      {"1.3.6.1.4.1.32473.1.9", kTypeOpaque, ""},
      {"1.3.6.1.4.1.32473.1.10", kTypeNoValue, ""},
      {"1.3.6.1.4.1.32473.1.2", kTypeDisplayString, ""},
  };
  return m;
}

// A v2c trap whose one payload binding carries `n`, to follow datagrams through the queue.
Message Numbered(int n) {
  Message m = V2(kKindTrapV2, n);
  m.variables.resize(2);
  m.variables.push_back({"1.3.6.1.4.1.32473.1.1", kTypeInteger32, std::to_string(n)});
  return m;
}

class ManagerAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(manager_.Listen(0, "127.0.0.1").ok());
    ASSERT_TRUE(agent_.Start(0, "127.0.0.1").ok());
    ASSERT_TRUE(agent_.AddDestination("127.0.0.1:" + std::to_string(manager_.LocalPort())).ok());
  }

  // Sends `m` through the agent and returns what the manager delivered for it.
  Message SendAndReceive(const Message& m) {
    std::vector<Message> got;
    manager_.SetTrapHandler([&] { got.push_back(manager_.CurrentMessage()); });
    agent_.Outgoing() = m;
    Status sent = agent_.Send();
    EXPECT_TRUE(sent.ok()) << sent.ToString();
    EXPECT_TRUE(Pump(loop_, [&] { return !got.empty(); }));
    manager_.SetTrapHandler(nullptr);
    return got.empty() ? Message() : got.front();
  }

  EventLoop loop_;
  Manager manager_{loop_};
  Agent agent_;
};

TEST_F(ManagerAgentTest, EveryKindAndTypeCodeArrivesUnchanged) {
  const Message cases[] = {V1Trap(), V2(kKindTrapV2, 1), V2(kKindInform, -2147483647 - 1),
                           V2(kKindResponse, 2147483647)};
  for (const Message& m : cases) {
    SCOPED_TRACE("kind " + std::to_string(m.kind));
    const Message got = SendAndReceive(m);
    EXPECT_EQ(got, m);
    ASSERT_EQ(got.variables.size(), m.variables.size());
    for (size_t i = 0; i < m.variables.size(); ++i) {
      EXPECT_EQ(got.variables[i], m.variables[i]) << "binding " << i;
    }
    EXPECT_EQ(manager_.SourceAddress(), "127.0.0.1");
    EXPECT_EQ(manager_.SourcePort(), agent_.LocalPort());
  }
  EXPECT_EQ(manager_.received(), std::size(cases));
  EXPECT_EQ(manager_.dropped(), 0u);
}

TEST_F(ManagerAgentTest, BindingsGivenBackNeverReappearInALaterMessage) {
  // The relay's handler empties every message's bindings; their memory goes back to the
  // manager for the next decode, and nothing of one message may show in the next, whether
  // that has more bindings, fewer, or another kind.
  std::vector<Message> got;
  manager_.SetTrapHandler([&] {
    got.push_back(manager_.CurrentMessage());
    manager_.ClearCurrentVariables();
    EXPECT_TRUE(manager_.CurrentMessage().variables.empty());
  });
  const Message cases[] = {V2(kKindTrapV2, 1), Numbered(2),        V1Trap(),
                           Numbered(3),        V2(kKindInform, 4), Numbered(5)};
  for (const Message& m : cases) {
    SCOPED_TRACE("request " + std::to_string(m.request_id));
    agent_.Outgoing() = m;
    ASSERT_TRUE(agent_.Send().ok());
    const size_t want = got.size() + 1;
    ASSERT_TRUE(Pump(loop_, [&] { return got.size() == want; }));
    EXPECT_EQ(got.back(), m);
  }
}

TEST(ManagerAgentStart, FailuresCarryTheWindowsSocketNumbers) {
  EventLoop loop;
  Manager manager(loop);
  Agent agent;
  RawSocket holder;  // keeps 127.0.0.1:port busy
  const uint16_t busy = holder.port();

  struct Case {
    const char* address;
    ErrorCode code;
    uint16_t port;
  } const cases[] = {
      {"127.0.0.1", kErrorAddressInUse, busy},
      {"", kErrorAddressInUse, busy},  // every address includes the busy one
      {"not-an-address", kErrorAddressNotAvailable, 0},
      {"127.0.0", kErrorAddressNotAvailable, 0},
      {"256.0.0.1", kErrorAddressNotAvailable, 0},
      {" 127.0.0.1", kErrorAddressNotAvailable, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("'") + c.address + "' port " + std::to_string(c.port));
    Status listened = manager.Listen(c.port, c.address);
    EXPECT_EQ(listened.error(), c.code) << listened.ToString();
    EXPECT_FALSE(listened.description().empty());
    EXPECT_FALSE(manager.listening());
    Status started = agent.Start(c.port, c.address);
    EXPECT_EQ(started.error(), c.code) << started.ToString();
    EXPECT_FALSE(agent.started());
  }

  // A failed start leaves nothing bound: the busy port is still only the holder's, and a
  // later start on a free port works.
  ASSERT_TRUE(manager.Listen(0, "127.0.0.1").ok());
  ASSERT_TRUE(agent.Start().ok());
}

// An address that no interface has (yet) binds all the same, as a standby relay binds the
// virtual address that a failover will bring; the address is known not to be here.
TEST(ManagerAgentStart, AnAddressNotOnThisMachineBindsAndIsKnownAbsent) {
  EventLoop loop;
  Manager manager(loop);
  Agent agent;
  const char* absent = "192.0.2.1";  // TEST-NET-1, on no machine
  ASSERT_TRUE(manager.Listen(0, absent).ok());
  EXPECT_EQ(manager.LocalAddress(), absent);
  ASSERT_TRUE(agent.Start(0, absent).ok());
  EXPECT_EQ(agent.LocalAddress(), absent);
  struct Case {
    const char* address;
    bool here;
  } const cases[] = {
      {"192.0.2.1", false}, {"0.0.0.0", true}, {"127.0.0.1", true}, {"127.0.0.2", true}};
  for (const Case& c : cases) {
    IpAddress a;
    ASSERT_EQ(ParseAddressText(c.address, &a), nullptr);
    EXPECT_EQ(HasInterfaceAddress(a), c.here) << c.address;
  }
}

TEST(ManagerAgentStart, ReportTheAddressAndPortActuallyBound) {
  EventLoop loop;
  Manager manager(loop);
  Agent agent;
  EXPECT_EQ(manager.LocalPort(), 0);
  EXPECT_EQ(manager.LocalAddress(), "0.0.0.0");

  ASSERT_TRUE(manager.Listen(0, "127.0.0.1").ok());
  EXPECT_EQ(manager.LocalAddress(), "127.0.0.1");
  const uint16_t port = manager.LocalPort();
  EXPECT_NE(port, 0);
  // The reported port is really ours: a second listener on it is refused.
  Manager second(loop);
  EXPECT_EQ(second.Listen(port, "127.0.0.1").error(), kErrorAddressInUse);

  ASSERT_TRUE(manager.Listen(0).ok());
  EXPECT_EQ(manager.LocalAddress(), "0.0.0.0");
  EXPECT_NE(manager.LocalPort(), 0);
  manager.Stop();
  EXPECT_FALSE(manager.listening());
  EXPECT_EQ(manager.LocalPort(), 0);

  ASSERT_TRUE(agent.Start().ok());
  EXPECT_EQ(agent.LocalAddress(), "0.0.0.0");
  EXPECT_NE(agent.LocalPort(), 0);
  ASSERT_TRUE(agent.Start(0, "127.0.0.1").ok());
  EXPECT_EQ(agent.LocalAddress(), "127.0.0.1");
  EXPECT_NE(agent.LocalPort(), 0);
}

TEST(ManagerAgentStart, DestinationsAreParsedStrictly) {
  Agent agent;
  const std::string refused[] = {
      "",
      "127.0.0.1",
      "127.0.0.1:",
      ":162",
      "127.0.0.1:0",
      "127.0.0.1:65536",
      "127.0.0.1:999999",
      "127.0.0.1:-1",
      "127.0.0.1:+162",
      "127.0.0.1: 162",
      "127.0.0.1:162 ",
      "127.0.0.1:162:1",
      "127.0.0.1:0x10",
      "127.0.0.1:16a",
      "localhost:162",
      "127.1:162",
      "1.2.3.4.5:162",
      "1.2.3.256:162",
      std::string("127.0.0.1\0:162", 14),
  };
  for (const std::string& text : refused) {
    Status s = agent.AddDestination(text);
    EXPECT_EQ(s.error(), kErrorInvalidArgument) << "'" << text << "' " << s.ToString();
    if (text.find('\0') == std::string::npos) {
      EXPECT_NE(s.description().find("'" + text + "'"), std::string::npos) << s.description();
    }
  }
  EXPECT_EQ(agent.destination_count(), 0u);
  EXPECT_FALSE(agent.AddDestination("127.0.0.1:162", 1).ok());

  for (const char* text : {"127.0.0.1:1", "10.0.0.1:65535", "0.0.0.0:00162"}) {
    EXPECT_TRUE(agent.AddDestination(text).ok()) << text;
  }
  EXPECT_EQ(agent.destination_count(), 3u);
  agent.ClearDestinations();
  EXPECT_EQ(agent.destination_count(), 0u);

  // Nothing to send to, or nothing to send with.
  ASSERT_TRUE(agent.Start(0, "127.0.0.1").ok());
  agent.Outgoing() = Numbered(1);
  EXPECT_FALSE(agent.Send().ok());
  ASSERT_TRUE(agent.AddDestination("127.0.0.1:9").ok());
  agent.Stop();
  EXPECT_FALSE(agent.Send().ok());
}

TEST_F(ManagerAgentTest, MalformedDatagramsAreDroppedAndCounted) {
  std::vector<std::vector<uint8_t>> bad;
  std::mt19937 random(20240607);
  for (size_t size : {1u, 2u, 17u, 300u, 1400u}) {
    std::vector<uint8_t> noise(size);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    bad.push_back(noise);
  }
  bad.emplace_back();  // an empty datagram

  std::vector<uint8_t> good;
  ASSERT_TRUE(Encode(Numbered(7), &good).ok());
  for (size_t keep : {good.size() - 1, good.size() / 2, size_t{3}}) {
    bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(keep));
  }
  // The same message with trailing garbage after its outer SEQUENCE.
  bad.push_back(good);
  bad.back().push_back(0);
  // A well-formed message of a kind we do not handle: the trap's PDU tag turned into a
  // GetRequest's.
  // It follows the outer header, the version (3 bytes) and the 9-byte community (11).
  std::vector<uint8_t> get = good;
  const size_t outer_header = get[1] < 0x80 ? 2 : 2 + (get[1] & 0x7F);
  const size_t pdu = outer_header + 3 + 11;
  ASSERT_EQ(get.at(pdu), 0xA7);
  get[pdu] = 0xA0;
  bad.push_back(get);
  // The largest datagram UDP/IPv4 carries: an outer SEQUENCE that claims all of it, full
  // of zeros.
  std::vector<uint8_t> huge(kMaxDatagram, 0);
  huge[0] = 0x30;
  huge[1] = 0x82;
  huge[2] = static_cast<uint8_t>((kMaxDatagram - 4) >> 8);
  huge[3] = static_cast<uint8_t>((kMaxDatagram - 4) & 0xFF);
  bad.push_back(huge);

  std::vector<Message> got;
  manager_.SetTrapHandler([&] { got.push_back(manager_.CurrentMessage()); });
  RawSocket raw;
  for (const std::vector<uint8_t>& datagram : bad) raw.SendTo(manager_.LocalPort(), datagram);
  raw.SendTo(manager_.LocalPort(), good);

  ASSERT_TRUE(Pump(loop_, [&] { return !got.empty(); }));
  EXPECT_FALSE(Pump(
      loop_, [&] { return got.size() > 1; }, 100));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], Numbered(7));
  EXPECT_EQ(manager_.dropped(), bad.size());
  EXPECT_EQ(manager_.received(), bad.size() + 1);
  EXPECT_EQ(manager_.socket_errors(), 0u);
}

TEST_F(ManagerAgentTest, InformIsAnsweredWithAResponseToItsSender) {
  EXPECT_FALSE(manager_.SendResponse().ok());  // nothing has arrived yet

  const Message inform = V2(kKindInform, 31337);
  int informs = 0;
  Status answered = Status::Error(kErrorInternal, "handler not run");
  manager_.SetTrapHandler([&] {
    ++informs;
    manager_.CurrentMessage().kind = kKindResponse;
    answered = manager_.SendResponse();
  });
  RawSocket sender;
  std::vector<uint8_t> datagram;
  ASSERT_TRUE(Encode(inform, &datagram).ok());
  sender.SendTo(manager_.LocalPort(), datagram);
  ASSERT_TRUE(Pump(loop_, [&] { return informs > 0; }));
  EXPECT_TRUE(answered.ok()) << answered.ToString();

  const std::vector<uint8_t> reply = sender.Receive(3000);
  ASSERT_FALSE(reply.empty());
  Message response;
  ASSERT_TRUE(Decode(reply, &response).ok());
  Message expected = inform;
  expected.kind = kKindResponse;
  EXPECT_EQ(response, expected);

  manager_.Stop();
  EXPECT_FALSE(manager_.SendResponse().ok());
}

TEST_F(ManagerAgentTest, NestedWaitsDeliverEachQueuedDatagramOnceInOrder) {
  // More than one receive batch, all queued in the kernel before the loop runs.
  constexpr int kCount = 80;
  for (int n = 0; n < kCount; ++n) {
    agent_.Outgoing() = Numbered(n);
    ASSERT_TRUE(agent_.Send().ok());
  }
  std::vector<int> order;
  int deepest = 0;
  manager_.SetTrapHandler([&] {
    const int n = manager_.CurrentMessage().request_id;
    order.push_back(n);
    deepest = std::max(deepest, loop_.depth());
    // Every fifth handler processes events itself, as the senders' pauses do.
    if (n % 5 == 0) loop_.WaitWithEvents(20);
    // The nested deliveries replaced the current message; the handler's own trap is
    // gone, as it is for any handler that waits.
  });
  ASSERT_TRUE(Pump(
      loop_, [&] { return order.size() >= kCount; }, 5000));
  EXPECT_FALSE(Pump(
      loop_, [&] { return order.size() > kCount; }, 100));
  std::vector<int> expected(kCount);
  for (int n = 0; n < kCount; ++n) expected[n] = n;
  EXPECT_EQ(order, expected);
  EXPECT_GT(deepest, 1);  // the waits really nested deliveries
  EXPECT_LE(deepest, EventLoop::kMaxNesting);
  EXPECT_EQ(manager_.dropped(), 0u);
}

TEST_F(ManagerAgentTest, StopInsideTheHandlerForgetsTheQueueAndListenWorksAgain) {
  for (int n = 0; n < 10; ++n) {
    agent_.Outgoing() = Numbered(n);
    ASSERT_TRUE(agent_.Send().ok());
  }
  std::vector<int> order;
  manager_.SetTrapHandler([&] {
    order.push_back(manager_.CurrentMessage().request_id);
    if (order.size() == 3) manager_.Stop();
  });
  ASSERT_TRUE(Pump(loop_, [&] { return !manager_.listening(); }));
  EXPECT_FALSE(Pump(
      loop_, [&] { return order.size() > 3; }, 100));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));

  ASSERT_TRUE(manager_.Listen(0, "127.0.0.1").ok());
  agent_.ClearDestinations();
  ASSERT_TRUE(agent_.AddDestination("127.0.0.1:" + std::to_string(manager_.LocalPort())).ok());
  agent_.Outgoing() = Numbered(42);
  ASSERT_TRUE(agent_.Send().ok());
  ASSERT_TRUE(Pump(loop_, [&] { return order.size() == 4; }));
  EXPECT_EQ(order.back(), 42);
}

TEST(SendQueue, SendsInOrderAndReportsEachFailureAloneThenGoesOn) {
  RawSocket sender;
  RawSocket receiver;
  SocketAddress good{};
  SocketAddress port_zero{};  // no datagram can go to port 0: EINVAL
  good.v4 = Loopback(receiver.port());
  port_zero.v4 = Loopback(0);
  const std::vector<uint8_t> too_large(70000, 0x30);  // beyond any UDP datagram: EMSGSIZE
  struct Entry {
    std::vector<uint8_t> datagram;
    const SocketAddress* to;
    uint64_t tag;
  };
  const std::vector<Entry> entries = {
      {{1}, &port_zero, 10},  // the first of the run fails
      {{2}, &good, 11},      {{3}, &good, 12}, {too_large, &good, 13},  // one in the middle
      {{5}, &good, 14},      {{6}, &good, 15}, {{7}, &port_zero, 16},   // and the last
  };
  SendQueue queue;
  for (const Entry& e : entries) queue.Add(e.datagram, *e.to, e.tag);
  queue.Add(std::vector<uint8_t>{8}, good, 17);
  queue.Cancel(17, 17);  // dropped: neither sent nor reported
  std::vector<uint64_t> failed;
  queue.Send(sender.fd(), [&](uint64_t tag, const Status& failure) {
    failed.push_back(tag);
    EXPECT_FALSE(failure.ok());
  });
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(failed, (std::vector<uint64_t>{10, 13, 16}));
  std::vector<uint8_t> arrived;
  for (std::vector<uint8_t> d = receiver.Receive(1000); !d.empty(); d = receiver.Receive(100)) {
    arrived.insert(arrived.end(), d.begin(), d.end());
  }
  EXPECT_EQ(arrived, (std::vector<uint8_t>{2, 3, 5, 6}));

  // Emptied, the queue is used again from the start.
  queue.Add(std::vector<uint8_t>{9}, good, 20);
  queue.Send(sender.fd(), [&](uint64_t tag, const Status&) { failed.push_back(tag); });
  EXPECT_EQ(receiver.Receive(1000), (std::vector<uint8_t>{9}));
  EXPECT_EQ(failed.size(), 3u);
}

TEST_F(ManagerAgentTest, QueuedAnswersLeaveWhenTheBatchEndsBeforeItsOtherSends) {
  // Informs and traps in one burst of more than one receive batch, queued in the kernel
  // before the loop runs; every inform is answered from the listener's socket, and the
  // batch-end handler, which sends what the batch produced, finds its answers gone already.
  RawSocket sender;
  constexpr int kCount = 150;
  std::vector<uint8_t> datagram;
  for (int n = 0; n < kCount; ++n) {
    Message m = Numbered(n);
    if (n % 3 == 0) m.kind = kKindInform;
    ASSERT_TRUE(Encode(m, &datagram).ok());
    sender.SendTo(manager_.LocalPort(), datagram);
  }
  std::vector<int> queued;    // informs whose answers are queued, not yet sent
  std::vector<int> answered;  // answers found at the sender when a batch ended
  int batches = 0;
  manager_.SetTrapHandler([&] {
    Message& m = manager_.CurrentMessage();
    if (m.kind != kKindInform) return;
    m.kind = kKindResponse;
    ASSERT_TRUE(manager_.QueueResponse(static_cast<uint64_t>(m.request_id)).ok());
    queued.push_back(m.request_id);
  });
  manager_.SetBatchEndHandler([&] {
    ++batches;
    for (std::vector<uint8_t> d = sender.Receive(0); !d.empty(); d = sender.Receive(0)) {
      Message response;
      ASSERT_TRUE(Decode(d, &response).ok());
      EXPECT_EQ(response.kind, kKindResponse);
      answered.push_back(response.request_id);
    }
    EXPECT_EQ(answered, queued);  // all of them, and only once
  });
  ASSERT_TRUE(Pump(loop_, [&] { return answered.size() == (kCount + 2) / 3; }));
  EXPECT_GE(batches, 3);  // 150 datagrams: three receive batches at least
  std::vector<int> expected;
  for (int n = 0; n < kCount; n += 3) expected.push_back(n);
  EXPECT_EQ(answered, expected);
}

}  // namespace
}  // namespace tervane::snmp
