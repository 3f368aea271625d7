// TervixSrv end to end under a burst of datagrams that are not traps it can use: random
// bytes, every truncation of the captured datagrams, a datagram of the largest UDP size, a
// GetRequest and an SNMPv3 header. None of them may be sent on or stop the service, which
// must answer informs between them and forward a good trap after them.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/hex_file.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

constexpr char kBarrierPrefix[] = "1.3.6.1.4.1.32473.98.0.";

// A TLV with a definite length in its shortest form.
std::vector<uint8_t> Tlv(uint8_t tag, const std::vector<uint8_t>& content) {
  std::vector<uint8_t> out = {tag};
  const size_t n = content.size();
  if (n < 128) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n & 0xff));
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const std::vector<uint8_t>& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A well-formed SNMP message of `version` whose PDU has the tag `pdu_tag` and asks for
// sysUpTime.0.
std::vector<uint8_t> Request(uint8_t version, uint8_t pdu_tag) {
  const std::vector<uint8_t> sys_up_time = {0x2b, 6, 1, 2, 1, 1, 3, 0};
  const std::vector<uint8_t> binding = Tlv(0x30, Concat({Tlv(0x06, sys_up_time), {0x05, 0x00}}));
  const std::vector<uint8_t> pdu =
      Tlv(pdu_tag,
          Concat({Tlv(0x02, {0x01}), Tlv(0x02, {0x00}), Tlv(0x02, {0x00}), Tlv(0x30, binding)}));
  return Tlv(0x30, Concat({Tlv(0x02, {version}), Tlv(0x04, {'p', 'u', 'b', 'l', 'i', 'c'}), pdu}));
}

std::vector<std::vector<uint8_t>> MalformedDatagrams() {
  std::vector<std::vector<uint8_t>> out;
  std::mt19937 random(20240514);
  for (int i = 0; i < 200; ++i) {
    std::vector<uint8_t> d(random() % 600);
    for (uint8_t& b : d) b = static_cast<uint8_t>(random());
    if (i % 2 == 0 && d.size() >= 2) d[0] = 0x30;  // past the first check at least
    out.push_back(std::move(d));
  }
  for (const auto& entry : std::filesystem::directory_iterator(TERVANE_TESTDATA_DIR)) {
    if (entry.path().extension() != ".hex") continue;
    Result<std::vector<uint8_t>> capture = LoadHexFile(entry.path().string());
    EXPECT_TRUE(capture.ok()) << capture.status().ToString();
    if (!capture.ok()) continue;
    for (size_t n = 0; n < capture->size(); ++n) {
      out.emplace_back(capture->begin(), capture->begin() + static_cast<long>(n));
    }
  }
  std::vector<uint8_t> largest(65507);
  for (uint8_t& b : largest) b = static_cast<uint8_t>(random());
  // An outer SEQUENCE whose length fills the datagram exactly, with noise inside.
  largest[0] = 0x30;
  largest[1] = 0x82;
  largest[2] = static_cast<uint8_t>((65507 - 4) >> 8);
  largest[3] = static_cast<uint8_t>((65507 - 4) & 0xff);
  largest[4] = 0x02;
  out.push_back(largest);
  out.push_back(Request(1, 0xa0));  // SNMPv2c GetRequest
  out.push_back(Request(0, 0xa1));  // SNMPv1 GetNextRequest
  out.push_back(Request(3, 0xa7));  // a trap PDU under version 3
  return out;
}

TEST_F(RelayTest, MalformedDatagramsAreDroppedAndTheServiceGoesOn) {
  RelayConfig config;
  config.debug = true;
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(recv_port_);

  // Small chunks, each followed by an inform that must be answered: the service is alive
  // and has read everything before it, so its receive buffer never overflows.
  const std::vector<std::vector<uint8_t>> burst = MalformedDatagrams();
  constexpr size_t kChunk = 24;
  int barriers = 0;
  for (size_t at = 0; at < burst.size(); at += kChunk) {
    for (size_t i = at; i < burst.size() && i < at + kChunk; ++i) {
      ASSERT_EQ(sendto(fd, burst[i].data(), burst[i].size(), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to),
                static_cast<ssize_t>(burst[i].size()))
          << "datagram " << i;
    }
    Message inform = V2Trap(kBarrierPrefix + std::to_string(++barriers), {});
    inform.kind = snmp::kKindInform;
    inform.request_id = barriers;
    std::optional<Message> answer;
    // The inform itself may meet a full buffer; UDP allows another try.
    for (int attempt = 0; attempt < 3 && !answer; ++attempt) answer = Inform(inform, 2000);
    ASSERT_TRUE(answer.has_value()) << "no answer after datagram " << at << "; output:\n"
                                    << relay_->output();
    EXPECT_EQ(answer->request_id, barriers);
    ASSERT_FALSE(relay_->TryExit().has_value()) << relay_->output();
  }
  close(fd);

  std::string output;
  ASSERT_EQ(RunTool(snmptrap_,
                    {"-v", "2c", "-c", "public", "987", "1.3.6.1.6.3.1.1.5.3",
                     "1.3.6.1.2.1.2.2.1.1.7", "i", "7"},
                    &output),
            0)
      << output;
  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  // Only the informs (as traps) and the good trap went on; no malformed datagram did.
  int informs = 0;
  int good = 0;
  for (const Received& r : *got) {
    const std::string oid = TrapOidOf(r.message);
    if (oid.rfind(kBarrierPrefix, 0) == 0) {
      ++informs;
    } else if (oid == "1.3.6.1.6.3.1.1.5.3") {
      ++good;
      EXPECT_EQ(r.message.variables.size(), 3u);
    } else {
      ADD_FAILURE() << "sent on: trap OID " << oid << ", kind " << r.message.kind;
    }
  }
  EXPECT_GE(informs, barriers);
  EXPECT_EQ(good, 1);
  EXPECT_EQ(Events(), (std::vector<std::string>{"Tervane: information 101"}));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
