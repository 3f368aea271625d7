// The benchmark's SNMPv3 load: what it sends must be what the relay accepts, or the case would
// measure drops, and each datagram of a pool must be a message of its own.
#include "bench/v3_load.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "bench/trap_load.h"
#include "gtest/gtest.h"
#include "service/snmp/usm.h"
#include "service/snmp/v3_codec.h"

namespace tervane::bench {
namespace {

namespace usm = snmp::usm;

usm::UserSecurity RelaySecurity() {
  store::V3User user = V3BenchUser();
  std::vector<usm::User> users = {
      {user.name, user.engine_id, user.auth, user.auth_key, user.priv, user.priv_key}};
  return usm::UserSecurity({{0x80, 0x00, 0x7e, 0xd9, 0x05, 1, 2, 3, 4, 5, 6, 7, 8}, 1, 0},
                           std::move(users));
}

TEST(V3Device, PoolsAreAcceptedAndNoTwoDatagramsShareMsgIdOrSalt) {
  V3Device device;
  usm::UserSecurity security = RelaySecurity();
  std::set<int32_t> msg_ids;
  std::set<std::vector<uint8_t>> salts;
  size_t sent = 0;
  // Two pools, as two steps make them: the second carries on from the first.
  for (const uint32_t trial : {7U, 8U}) {
    std::vector<std::vector<uint8_t>> pool;
    ASSERT_TRUE(device.Build(trial, 5, &pool).ok());
    ASSERT_EQ(pool.size(), 5U);
    for (std::vector<uint8_t> datagram : pool) {
      snmp::V3Header header;
      snmp::V3Fault fault = snmp::V3Fault::kNone;
      ASSERT_TRUE(snmp::DecodeV3Header(datagram, &header, &fault).ok());
      EXPECT_EQ(header.flags, snmp::kFlagAuth | snmp::kFlagPriv);
      msg_ids.insert(header.msg_id);
      salts.emplace(header.priv_params.begin(), header.priv_params.end());
      ++sent;

      snmp::DecodedMessage decoded;
      const usm::UserSecurity::Outcome outcome = security.Receive(datagram, 0, &decoded);
      ASSERT_TRUE(outcome.accepted) << usm::DropText(outcome.drop);
      const snmp::MessageView& view = decoded.view();
      EXPECT_EQ(view.kind, snmp::kKindTrapV2);
      EXPECT_EQ(view.user_name, kV3UserName);
      ASSERT_EQ(view.variables.size(), MakeTrap(trial).variables.size());
      EXPECT_EQ(view.variables[1].value, kSourceTrapOid);
      EXPECT_EQ(view.variables[2].oid, kTrialOid);
      EXPECT_EQ(view.variables[2].value, std::to_string(trial));
    }
  }
  EXPECT_EQ(msg_ids.size(), sent);
  EXPECT_EQ(salts.size(), sent);
  EXPECT_EQ(security.cached_keys(), 1U);
}

TEST(Generator, RunPoolSendsThePoolInTurn) {
  Result<int> receiver = OpenLoopbackSocket(0, 1 << 20);
  ASSERT_TRUE(receiver.ok());
  Generator generator;
  ASSERT_TRUE(generator.Open().ok());
  const std::vector<std::vector<uint8_t>> pool = {{1}, {2, 2}, {3, 3, 3}};
  const std::atomic<bool> stop{false};
  Result<SendReport> sent = generator.RunPool(pool, BoundPort(*receiver), 10000, 7, stop);
  ASSERT_TRUE(sent.ok());
  EXPECT_EQ(sent->sent, 7U);
  std::vector<uint8_t> firsts;
  for (int i = 0; i < 7; ++i) {
    pollfd readable{*receiver, POLLIN, 0};
    ASSERT_EQ(poll(&readable, 1, 2000), 1);
    uint8_t buffer[8];
    const ssize_t n = recv(*receiver, buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    EXPECT_EQ(static_cast<size_t>(n), pool[static_cast<size_t>(buffer[0] - 1)].size());
    firsts.push_back(buffer[0]);
  }
  EXPECT_EQ(firsts, (std::vector<uint8_t>{1, 2, 3, 1, 2, 3, 1}));
  EXPECT_FALSE(generator.RunPool({}, BoundPort(*receiver), 10000, 1, stop).ok());
  close(*receiver);
}

}  // namespace
}  // namespace tervane::bench
