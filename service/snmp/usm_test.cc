// The security checks' decisions that a peer cannot easily provoke: the time windows of both
// kinds of engine, the key cache, the Reports and their bound. The protocols themselves are
// proven against net-snmp in tests/relay_v3_e2e_test.cc.
#include "service/snmp/usm.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/v3_codec.h"

namespace tervane::snmp::usm {
namespace {

const std::vector<uint8_t> kRelayEngine = {0x80, 0x00, 0x7e, 0xd9, 0x05, 1, 2, 3, 4, 5, 6, 7, 8};
const std::vector<uint8_t> kDevice = {0x80, 0x00, 0x00, 0x09, 0x03, 0xaa, 0xbb, 0xcc};

User MakeUser(std::string name, Auth auth, Priv priv, std::vector<uint8_t> engine = {}) {
  User user{std::move(name), std::move(engine), auth, {}, priv, {}};
  if (auth != Auth::kNone) user.auth_key = PasswordToKey(auth, "authpassword");
  if (priv != Priv::kNone) user.priv_key = PasswordToKey(auth, "privpassword");
  return user;
}

// What a device would send: a trap (or, `reportable`, an inform) of `user` from `engine`.
struct Sent {
  const User& user;
  std::vector<uint8_t> engine;
  uint32_t boots = 1;
  uint32_t time = 100;
  bool inform = false;
  std::string password = "authpassword";  // the authentication password it keys the MAC with
};

std::vector<uint8_t> Encode(const Sent& sent) {
  const VariableView binding{"1.3.6.1.6.3.1.1.4.1.0", kTypeObjectId, "1.3.6.1.6.3.1.1.5.1", {}, {}};
  MessageView pdu;
  pdu.kind = sent.inform ? kKindInform : kKindTrapV2;
  pdu.request_id = 77;
  pdu.variables = {&binding, 1};
  BerWriter scoped, whole;
  EXPECT_TRUE(EncodeScopedPdu(pdu, {}, &scoped).ok());
  const User& user = sent.user;
  V3Out out;
  out.msg_id = 4242;
  out.flags = static_cast<uint8_t>((sent.inform ? kFlagReportable : 0) |
                                   (user.auth != Auth::kNone ? kFlagAuth : 0) |
                                   (user.priv != Priv::kNone ? kFlagPriv : 0));
  out.engine_id = sent.engine;
  out.engine_boots = sent.boots;
  out.engine_time = sent.time;
  out.user_name = user.name;
  out.mac_length = MacLength(user.auth);
  std::vector<uint8_t> data(scoped.data().begin(), scoped.data().end());
  uint8_t salt[kPrivParamsLength];
  if (user.priv != Priv::kNone) {
    const Key kul = LocalizeKey(user.auth, user.priv_key.view(), sent.engine);
    const Privacy privacy(user.priv, PrivacyKey(user.auth, user.priv, kul, sent.engine));
    std::vector<uint8_t> cipher(privacy.CiphertextLength(data.size()));
    privacy.Encrypt(9, sent.boots, sent.time, data, cipher.data(), salt);
    out.priv_params = salt;
    data = cipher;
  }
  size_t mac_offset = 0;
  EXPECT_TRUE(EncodeV3(out, data, &whole, &mac_offset).ok());
  std::vector<uint8_t> datagram(whole.data().begin(), whole.data().end());
  if (user.auth != Auth::kNone) {
    const Key ku = PasswordToKey(user.auth, sent.password);
    Authenticator(user.auth, LocalizeKey(user.auth, ku.view(), sent.engine))
        .Sign(datagram, mac_offset);
  }
  return datagram;
}

class UserSecurityTest : public ::testing::Test {
 protected:
  UserSecurityTest()
      : sha_aes_(MakeUser("alice", Auth::kSha256, Priv::kAes128)),
        md5_des_(MakeUser("bob", Auth::kMd5, Priv::kDes, kDevice)),
        security_({kRelayEngine, 3, 0}, {sha_aes_, md5_des_}) {}

  UserSecurity::Outcome Receive(const Sent& sent, int64_t now_ms) {
    datagram_ = Encode(sent);
    return security_.Receive(datagram_, now_ms, &decoded_);
  }

  User sha_aes_;
  User md5_des_;
  UserSecurity security_;
  std::vector<uint8_t> datagram_;
  DecodedMessage decoded_;
};

TEST_F(UserSecurityTest, DeviceTimeWindowFollowsTheLatestAuthenticMessage) {
  // Steps from one device engine, in order: boots, time, when it arrives, and whether it passes.
  struct Step {
    uint32_t boots;
    uint32_t time;
    int64_t now_ms;
    std::string password;
    bool accepted;
  };
  const Step steps[] = {
      {5, 1000, 0, "authpassword", true},        // the first message sets the engine's time
      {5, 900, 1000, "authpassword", true},      // 100 s behind: inside the window
      {5, 849, 1000, "authpassword", false},     // 151 s behind
      {5, 1100, 100000, "authpassword", true},   // on time 100 s later (estimate 1100)
      {5, 1100, 300000, "authpassword", false},  // 200 s later it is 200 s behind the estimate
      {4, 5000, 300000, "authpassword", false},  // lower boots
      {6, 5, 300000, "wrongpassword", false},    // a forged reboot changes nothing...
      {5, 1300, 300000, "authpassword", true},   // ...so boots 5 still holds
      {6, 5, 300000, "authpassword", true},      // an authentic reboot
      {5, 1300, 300000, "authpassword", false},  // now boots 5 is old
      {kMaxEngineBoots, 5, 300000, "authpassword", false},
  };
  uint64_t windows = 0, digests = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(std::to_string(step.boots) + "/" + std::to_string(step.time) + " at " +
                 std::to_string(step.now_ms));
    const UserSecurity::Outcome outcome =
        Receive({sha_aes_, kDevice, step.boots, step.time, false, step.password}, step.now_ms);
    EXPECT_EQ(outcome.accepted, step.accepted);
    EXPECT_TRUE(outcome.report.empty());  // traps are never answered
    if (!step.accepted) ++(step.password == "authpassword" ? windows : digests);
  }
  EXPECT_EQ(security_.drops(Drop::kNotInTimeWindow), windows);
  EXPECT_EQ(security_.drops(Drop::kWrongDigest), digests);
  ASSERT_TRUE(Receive({sha_aes_, kDevice, 6, 20}, 300000).accepted);
  EXPECT_TRUE(decoded_.view().snmpv3);
  EXPECT_EQ(decoded_.view().user_name, "alice");
  EXPECT_EQ(decoded_.view().kind, kKindTrapV2);
  EXPECT_EQ(decoded_.view().variables[0].value, "1.3.6.1.6.3.1.1.5.1");
}

TEST_F(UserSecurityTest, KeysAreCachedOnlyForAuthenticMessagesAndEnginesAreBound) {
  EXPECT_FALSE(Receive({sha_aes_, kDevice, 1, 1, false, "wrongpassword"}, 0).accepted);
  EXPECT_EQ(security_.cached_keys(), 0u);
  EXPECT_TRUE(Receive({sha_aes_, kDevice}, 0).accepted);
  EXPECT_TRUE(Receive({sha_aes_, {0x80, 0, 0, 9, 3, 1}}, 0).accepted);  // any engine
  EXPECT_EQ(security_.cached_keys(), 2u);
  // bob is bound to kDevice: another engine does not know him, kDevice does (DES, padded).
  EXPECT_FALSE(Receive({md5_des_, {0x80, 0, 0, 9, 3, 1}}, 0).accepted);
  EXPECT_EQ(security_.drops(Drop::kUnknownUserName), 1u);
  EXPECT_TRUE(Receive({md5_des_, kDevice}, 0).accepted);
  // A user unknown altogether, and a level below the user's.
  const User carol = MakeUser("carol", Auth::kSha1, Priv::kNone);
  EXPECT_FALSE(Receive({carol, kDevice}, 0).accepted);
  EXPECT_EQ(security_.drops(Drop::kUnknownUserName), 2u);
  const User alice_auth_only = MakeUser("alice", Auth::kSha256, Priv::kNone);
  EXPECT_FALSE(Receive({alice_auth_only, kDevice}, 0).accepted);
  EXPECT_EQ(security_.drops(Drop::kUnsupportedSecLevel), 1u);
  // A wrong privacy key: the MAC verifies, the plaintext does not parse.
  User wrong_priv = sha_aes_;
  wrong_priv.priv_key = PasswordToKey(Auth::kSha256, "otherprivpassword");
  const std::vector<uint8_t> sent = Encode({wrong_priv, kDevice});
  datagram_ = sent;
  EXPECT_FALSE(security_.Receive(datagram_, 0, &decoded_).accepted);
  EXPECT_EQ(security_.drops(Drop::kDecryptionError), 1u);
}

TEST_F(UserSecurityTest, InformsUseThisEngineAndAreAnsweredAtTheirLevel) {
  // Discovery: a reportable probe without engine ID gets this engine's ID, boots and time.
  const User probe{"", {}, Auth::kNone, {}, Priv::kNone, {}};
  UserSecurity::Outcome outcome = Receive({probe, {}, 0, 0, true}, 42000);
  ASSERT_FALSE(outcome.accepted);
  EXPECT_TRUE(outcome.discovery);
  ASSERT_FALSE(outcome.report.empty());
  V3Header header;
  V3Fault fault;
  std::vector<uint8_t> report(outcome.report.begin(), outcome.report.end());
  ASSERT_TRUE(DecodeV3Header(report, &header, &fault).ok());
  EXPECT_EQ(header.msg_id, 4242);
  EXPECT_EQ(std::vector<uint8_t>(header.engine_id.begin(), header.engine_id.end()), kRelayEngine);
  EXPECT_EQ(header.engine_boots, 3u);
  EXPECT_EQ(header.engine_time, 42u);
  DecodedMessage decoded;
  ScopedContext context;
  ASSERT_TRUE(DecodeScopedPdu(header.data, 0, &decoded, &context).ok());
  EXPECT_EQ(decoded.view().kind, kKindReport);
  EXPECT_EQ(decoded.view().request_id, 77);
  EXPECT_EQ(decoded.view().variables[0].oid, "1.3.6.1.6.3.15.1.1.4.0");

  // An inform out of this engine's window gets a signed notInTimeWindow Report.
  outcome = Receive({sha_aes_, kRelayEngine, 2, 42, true}, 42000);
  EXPECT_FALSE(outcome.accepted);
  ASSERT_FALSE(outcome.report.empty());
  report.assign(outcome.report.begin(), outcome.report.end());
  ASSERT_TRUE(DecodeV3Header(report, &header, &fault).ok());
  EXPECT_EQ(header.flags, kFlagAuth);
  const Key kul = LocalizeKey(Auth::kSha256, sha_aes_.auth_key.view(), kRelayEngine);
  EXPECT_TRUE(Authenticator(Auth::kSha256, kul).Verify(report, header.auth_params_offset));

  // In the window it is taken, and its Response is signed and encrypted for the user.
  ASSERT_TRUE(Receive({sha_aes_, kRelayEngine, 3, 100, true}, 42000).accepted);
  MessageView response = decoded_.view();
  response.kind = kKindResponse;
  BerWriter writer;
  ASSERT_TRUE(security_.EncodeResponse(response, 43000, &writer).ok());
  std::vector<uint8_t> answer(writer.data().begin(), writer.data().end());
  ASSERT_TRUE(DecodeV3Header(answer, &header, &fault).ok());
  EXPECT_EQ(header.flags, kFlagAuth | kFlagPriv);
  EXPECT_EQ(header.engine_time, 43u);
  EXPECT_TRUE(Authenticator(Auth::kSha256, kul).Verify(answer, header.auth_params_offset));
  EXPECT_FALSE(security_.EncodeResponse(response, 43000, &writer).ok());  // answered once
}

TEST_F(UserSecurityTest, ReportsAreBoundedPerSecond) {
  const User probe{"", {}, Auth::kNone, {}, Priv::kNone, {}};
  int reports = 0;
  for (int i = 0; i < 3 * kReportsPerSecond; ++i) {
    if (!Receive({probe, {}, 0, 0, true}, 5000).report.empty()) ++reports;
  }
  EXPECT_EQ(reports, kReportsPerSecond);
  EXPECT_FALSE(Receive({probe, {}, 0, 0, true}, 6000).report.empty());  // a new second
  EXPECT_EQ(security_.drops(Drop::kUnknownEngineId), 3u * kReportsPerSecond + 1);
}

}  // namespace
}  // namespace tervane::snmp::usm
