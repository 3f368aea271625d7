// The manager and the agent over IPv6 and on the socket of :: that takes both families, over
// ::1 and 127.0.0.x on ports the kernel picks: addresses bound and reported, where answers
// leave from, the second socket of the agent for the other family, and refusals of both.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/agent.h"
#include "service/snmp/codec.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/ip_text.h"
#include "service/snmp/manager.h"
#include "service/snmp/manager_agent_fixture.h"
#include "service/snmp/message.h"
#include "service/snmp/socket_util.h"

namespace tervane::snmp {
namespace {

IpAddress Ip(const std::string& text) {
  IpAddress a;
  EXPECT_EQ(ParseAddressText(text, &a), nullptr) << text;
  return a;
}

// Whether this machine has ::1: the IPv6 tests skip where it does not.
bool HaveIpv6Loopback() { return IsLocalAddress("::1"); }

#define REQUIRE_IPV6_LOOPBACK() \
  if (!HaveIpv6Loopback()) GTEST_SKIP() << "this machine has no ::1 (IPv6 loopback)"

// A plain UDP socket bound to `address` on a port of the kernel's choice.
class Peer {
 public:
  explicit Peer(const std::string& address) {
    Result<int> fd = OpenUdpSocket(address, 0, SO_RCVBUF, 1 << 16);
    EXPECT_TRUE(fd.ok()) << fd.status().ToString();
    fd_ = fd.ok() ? *fd : -1;
  }
  ~Peer() {
    if (fd_ >= 0) close(fd_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  uint16_t port() const { return PortOf(LocalName(fd_)); }
  void SendTo(const std::string& address, uint16_t port,
              const std::vector<uint8_t>& datagram) const {
    SocketAddress to{};
    ASSERT_TRUE(MakeSocketAddress(Ip(address), port, LocalName(fd_).any.sa_family, &to));
    ASSERT_TRUE(SendDatagram(fd_, datagram, to).ok());
  }
  // One datagram within `timeout_ms` (empty when none came) and the address it came from.
  std::vector<uint8_t> Receive(int timeout_ms, std::string* from = nullptr) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return {};
    std::vector<uint8_t> buf(65536);
    SocketAddress sender{};
    socklen_t len = sizeof sender;
    const ssize_t n = recvfrom(fd_, buf.data(), buf.size(), MSG_DONTWAIT, &sender.any, &len);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (from != nullptr) *from = FormatAddress(AddressOf(sender));
    return buf;
  }

 private:
  int fd_ = -1;
};

Message Inform(int32_t request_id) {
  Message m;
  m.community = "public";
  m.kind = kKindInform;
  m.request_id = request_id;
  m.variables = {{"1.3.6.1.2.1.1.3.0", kTypeTimeTicks, "7"},
                 {"1.3.6.1.6.3.1.1.4.1.0", kTypeObjectId, "1.3.6.1.4.1.32473.1.100.2.0.1000"}};
  return m;
}

TEST(Ipv6Addresses, LocalAndInterfaceAddressesOfBothFamilies) {
  REQUIRE_IPV6_LOOPBACK();
  struct Case {
    const char* address;
    bool local;  // IsLocalAddress
    bool here;   // HasInterfaceAddress
  } const cases[] = {
      {"::1", true, true},
      {"::", true, true},
      {"0.0.0.0", true, true},
      {"127.0.0.2", true, true},
      {"::ffff:127.0.0.1", true, true},  // an IPv4 address written as IPv6
      {"2001:db8::7", false, false},     // documentation prefix, on no machine
      {"192.0.2.1", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsLocalAddress(c.address), c.local) << c.address;
    EXPECT_EQ(HasInterfaceAddress(Ip(c.address)), c.here) << c.address;
  }
  EXPECT_FALSE(IsLocalAddress("fe80::1%lo"));
  EXPECT_FALSE(IsLocalAddress("::1 "));
}

TEST(Ipv6Addresses, ListenAndStartOnIpv6AddressesReportThemInTheirWrittenForm) {
  REQUIRE_IPV6_LOOPBACK();
  EventLoop loop;
  Manager manager(loop);
  Agent agent;
  struct Case {
    const char* address;
    const char* reported;
  } const cases[] = {
      {"::1", "::1"},
      {"0:0:0::1", "::1"},
      {"::", "::"},
      {"2001:DB8::1", "2001:db8::1"},  // on no machine: binds all the same (IP_FREEBIND)
      {"::ffff:127.0.0.1", "127.0.0.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    const Status listened = manager.Listen(0, c.address);
    ASSERT_TRUE(listened.ok()) << listened.ToString();
    EXPECT_EQ(manager.LocalAddress(), c.reported);
    EXPECT_NE(manager.LocalPort(), 0);
    const Status started = agent.Start(0, c.address);
    ASSERT_TRUE(started.ok()) << started.ToString();
    EXPECT_EQ(agent.LocalAddress(), c.reported);
  }
  // A zone ID is no address to bind; a port in use on ::1 is 10048.
  EXPECT_EQ(manager.Listen(0, "fe80::1%lo").error(), kErrorAddressNotAvailable);
  EXPECT_FALSE(manager.listening());
  ASSERT_TRUE(manager.Listen(0, "::1").ok());
  Manager second(loop);
  EXPECT_EQ(second.Listen(manager.LocalPort(), "::1").error(), kErrorAddressInUse);
  EXPECT_EQ(second.Listen(manager.LocalPort(), "::").error(), kErrorAddressInUse);
}

TEST(Ipv6Addresses, DestinationsOfBothFamiliesAreParsedStrictly) {
  Agent agent;
  const std::string refused[] = {
      "::1:162",         "[::1]",
      "[::1]:",          "[::1]162",
      "[::1]:0",         "[::1]:65536",
      "[127.0.0.1]:162", "[fe80::1%lo]:162",
      "[gg::1]:162",     "[::1]:162:1",
      "[[::1]]:162",     "::1",
      "2001:db8::1:162", "[2001:db8::1 ]:162",
  };
  for (const std::string& text : refused) {
    const Status s = agent.AddDestination(text);
    EXPECT_EQ(s.error(), kErrorInvalidArgument) << "'" << text << "' " << s.ToString();
    EXPECT_NE(s.description().find("'" + text + "'"), std::string::npos) << s.description();
  }
  EXPECT_EQ(agent.destination_count(), 0u);
  for (const char* text : {"[::1]:162", "[2001:DB8::1]:65535", "[::ffff:127.0.0.1]:1"}) {
    EXPECT_TRUE(agent.AddDestination(text).ok()) << text;
  }
  EXPECT_EQ(agent.destination_count(), 3u);
}

// A listener on :: takes both families; an IPv4 sender is known by its IPv4 address, and an
// inform is answered from the address it was sent to, of either family.
TEST(Ipv6Listener, BothFamiliesOnTheSocketOfAnyAnswerFromTheAddressSentTo) {
  REQUIRE_IPV6_LOOPBACK();
  EventLoop loop;
  Manager manager(loop);
  ASSERT_TRUE(manager.Listen(0, "::").ok());
  std::vector<std::string> sources;
  std::vector<bool> v4;
  manager.SetTrapHandler([&] {
    sources.push_back(manager.SourceAddress());
    v4.push_back(manager.SourceIp().is_v4());
    EXPECT_NE(manager.SourcePort(), 0);
    EXPECT_TRUE(manager.SendResponse().ok());
  });
  Peer peer4("127.0.0.1");
  Peer peer6("::1");
  std::vector<uint8_t> datagram;
  ASSERT_TRUE(Encode(Inform(1), &datagram).ok());
  struct Case {
    Peer* peer;
    const char* to;
    const char* source;  // as the manager names the sender
  } const cases[] = {
      {&peer4, "127.0.0.2", "127.0.0.1"},  // not the address the socket's route would pick
      {&peer4, "127.0.0.1", "127.0.0.1"},
      {&peer6, "::1", "::1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    const size_t before = sources.size();
    c.peer->SendTo(c.to, manager.LocalPort(), datagram);
    ASSERT_TRUE(Pump(loop, [&] { return sources.size() > before; }));
    EXPECT_EQ(sources.back(), c.source);
    EXPECT_EQ(v4.back(), std::string(c.to).find(':') == std::string::npos);
    std::string from;
    const std::vector<uint8_t> answer = c.peer->Receive(1000, &from);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(from, c.to);
    Message response;
    ASSERT_TRUE(Decode(answer, &response).ok());
    EXPECT_EQ(response.kind, kKindResponse);
  }
  // Queued answers take the same way.
  manager.SetTrapHandler([&] { EXPECT_TRUE(manager.QueueResponse(7).ok()); });
  manager.SetResponseFailureHandler(
      [](uint64_t, const Status& failure) { ADD_FAILURE() << failure.ToString(); });
  peer6.SendTo("::1", manager.LocalPort(), datagram);
  std::string from;
  std::vector<uint8_t> queued;
  ASSERT_TRUE(Pump(loop, [&] {
    if (queued.empty()) queued = peer6.Receive(0, &from);
    return !queued.empty();
  }));
  EXPECT_EQ(from, "::1");
}

// Traps go to IPv4 and IPv6 stations alike, whatever the agent is started on: from a socket of
// the other family when its own cannot reach a station, from one socket when it is ::.
TEST(Ipv6Agent, MixedStationsAreReachedFromEveryStartAddress) {
  REQUIRE_IPV6_LOOPBACK();
  EventLoop loop;
  Manager sink4(loop);
  Manager sink6(loop);
  ASSERT_TRUE(sink4.Listen(0, "127.0.0.1").ok());
  ASSERT_TRUE(sink6.Listen(0, "::1").ok());
  int got4 = 0;
  int got6 = 0;
  sink4.SetTrapHandler([&] { ++got4; });
  sink6.SetTrapHandler([&] { ++got6; });
  struct Case {
    const char* start;
    bool second_socket;
  } const cases[] = {{"127.0.0.1", true}, {"", true}, {"::1", true}, {"::", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    Agent agent;
    ASSERT_TRUE(agent.AddDestination("127.0.0.1:" + std::to_string(sink4.LocalPort())).ok());
    ASSERT_TRUE(agent.Start(0, c.start).ok());
    // Added once started, the IPv6 station opens the second socket where one is needed.
    ASSERT_TRUE(agent.AddDestination("[::1]:" + std::to_string(sink6.LocalPort())).ok());
    EXPECT_EQ(agent.fds()[1] >= 0, c.second_socket);
    got4 = got6 = 0;
    agent.Outgoing() = Inform(3);
    agent.Outgoing().kind = kKindTrapV2;
    ASSERT_TRUE(agent.Send().ok());
    std::vector<VariableView> vars;
    ASSERT_TRUE(agent.Queue(ViewOf(agent.Outgoing(), &vars), 0b11U, 100).ok());
    std::vector<uint64_t> failed;
    agent.Flush([&](uint64_t tag, const Status&) { failed.push_back(tag); });
    EXPECT_TRUE(failed.empty());
    EXPECT_TRUE(Pump(loop, [&] { return got4 == 2 && got6 == 2; }));
  }
}

// A closed port refuses; the refusal is read from the error queue of the socket that sent it
// and handed over with the station that refused, for each family.
TEST(Ipv6Agent, RefusalsOfBothFamiliesNameTheirStation) {
  REQUIRE_IPV6_LOOPBACK();
  for (const char* start : {"127.0.0.1", "::"}) {
    SCOPED_TRACE(start);
    EventLoop loop;
    Agent agent;
    std::vector<size_t> refused;
    std::vector<std::string> texts;
    agent.SetRefusalHandler([&](size_t i, const Status& failure) {
      refused.push_back(i);
      texts.push_back(failure.description());
    });
    uint16_t closed4 = 0;
    uint16_t closed6 = 0;
    {
      Peer p4("127.0.0.1");
      Peer p6("::1");
      closed4 = p4.port();
      closed6 = p6.port();
    }
    const std::string stations[] = {"[::1]:" + std::to_string(closed6),
                                    "127.0.0.1:" + std::to_string(closed4)};
    for (const std::string& station : stations) ASSERT_TRUE(agent.AddDestination(station).ok());
    ASSERT_TRUE(agent.Start(0, start).ok());
    for (const int fd : agent.fds()) {
      if (fd >= 0) loop.Watch(fd, [&] { agent.ReadErrors(); });
    }
    std::vector<uint8_t> datagram;
    std::vector<VariableView> vars;
    Message m = Inform(5);
    m.kind = kKindTrapV2;
    std::span<const uint8_t> encoded;
    ASSERT_TRUE(agent.EncodeForSend(ViewOf(m, &vars), &encoded).ok());
    datagram.assign(encoded.begin(), encoded.end());
    for (size_t i = 0; i < 2; ++i) {
      ASSERT_TRUE(agent.SendTo(datagram, i).ok());
      ASSERT_TRUE(Pump(loop, [&] { return refused.size() > i; }));
      EXPECT_EQ(refused[i], i);
      ASSERT_EQ(texts.size(), i + 1);
      EXPECT_NE(texts[i].find(stations[i]), std::string::npos) << texts[i];
    }
  }
}

}  // namespace
}  // namespace tervane::snmp
