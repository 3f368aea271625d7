// SNMPv3 messages: encode and decode back for every PDU kind and security level, the
// header's refusals with the fault each is counted as, and datagrams captured from net-snmp.
#include "service/snmp/v3_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "service/snmp/ber_writer.h"
#include "service/snmp/message_printer.h"
#include "tests/hex_file.h"

namespace tervane::snmp {
namespace {

std::span<const uint8_t> Span(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
std::vector<uint8_t> Vec(std::span<const uint8_t> s) { return {s.begin(), s.end()}; }

// Hand-made BER elements, as byte strings.
std::string Tlv(uint8_t tag, const std::string& content) {
  std::string out(1, static_cast<char>(tag));
  if (content.size() >= 0x80) {
    out += static_cast<char>(0x82);
    out += static_cast<char>(content.size() >> 8);
  }
  out += static_cast<char>(content.size() & 0xFF);
  return out + content;
}
std::string Int(int64_t v) {
  std::string c;
  do {
    c.insert(c.begin(), static_cast<char>(v & 0xFF));
    v >>= 8;
  } while (!((v == 0 && (c[0] & 0x80) == 0) || (v == -1 && (c[0] & 0x80) != 0)));
  return Tlv(kTagInteger, c);
}
std::string Oct(const std::string& s) { return Tlv(kTagOctetString, s); }
std::string Seq(const std::string& s) { return Tlv(kTagSequence, s); }

// An SNMPv3 message by its parts, each a whole element; the defaults make a valid
// noAuthNoPriv message with an empty trap.
struct Parts {
  std::string version = Int(3);
  std::string msg_id = Int(7);
  std::string max_size = Int(65507);
  std::string flags = Oct("\x04");
  std::string model = Int(3);
  std::string engine_id = Oct(std::string("\x80\x00\x7e\xd9\x05", 5));
  std::string boots = Int(1);
  std::string time = Int(2);
  std::string user = Oct("tervane");
  std::string usm_extra;  // after the USM sequence, inside msgSecurityParameters
  std::string data =
      Seq(Oct("") + Oct("") + Tlv(kTagTrapV2Pdu, Int(1) + Int(0) + Int(0) + Seq("")));
  std::string trailer;  // after msgData, inside the message

  std::string Usm() const { return Seq(engine_id + boots + time + user + Oct("") + Oct("")); }
  std::string Build() const {
    return Seq(version + Seq(msg_id + max_size + flags + model) + Oct(Usm() + usm_extra) + data +
               trailer);
  }
};

TEST(V3Codec, HeaderRefusalsNameTheirFault) {
  using F = std::string Parts::*;
  struct Case {
    const char* name;
    F field;
    std::string value;
    V3Fault fault;
    F field2 = nullptr;  // a second change, where one needs another
    std::string value2 = {};
  };
  const V3Fault kMalformed = V3Fault::kMalformed;
  const std::string scoped = Parts().data;
  const std::vector<Case> cases = {
      {"valid", &Parts::msg_id, Int(7), V3Fault::kNone},
      {"version 1", &Parts::version, Int(1), kMalformed},
      {"negative msgID", &Parts::msg_id, Int(-1), kMalformed},
      {"msgID beyond 32 bits", &Parts::msg_id, Int(2147483648), kMalformed},
      {"msgMaxSize 483", &Parts::max_size, Int(483), V3Fault::kInvalid},
      {"msgMaxSize 2^31", &Parts::max_size, Int(2147483648), V3Fault::kInvalid},
      {"msgFlags of 2 octets", &Parts::flags, Oct(std::string("\x04\x00", 2)), kMalformed},
      {"msgFlags empty", &Parts::flags, Oct(""), kMalformed},
      {"priv without auth", &Parts::flags, Oct("\x02"), V3Fault::kInvalid, &Parts::data,
       Oct(scoped)},
      {"security model 0", &Parts::model, Int(0), kMalformed},
      {"security model 2", &Parts::model, Int(2), V3Fault::kUnknownSecurityModel},
      {"unknown model, malformed", &Parts::model, Int(2), kMalformed, &Parts::trailer, Int(0)},
      {"engine ID of 33 octets", &Parts::engine_id, Oct(std::string(33, 'e')), kMalformed},
      {"engine ID an INTEGER", &Parts::engine_id, Int(5), kMalformed},
      {"negative boots", &Parts::boots, Int(-1), kMalformed},
      {"time 2^31", &Parts::time, Int(2147483648), kMalformed},
      {"user name of 33 octets", &Parts::user, Oct(std::string(33, 'u')), kMalformed},
      {"bytes after the USM sequence", &Parts::usm_extra, Oct(""), kMalformed},
      {"auth and priv with a plaintext", &Parts::flags, Oct("\x03"), kMalformed},
      {"no priv with an OCTET STRING", &Parts::data, Oct(scoped), kMalformed},
      {"element after msgData", &Parts::trailer, Int(0), kMalformed},
  };
  for (const Case& c : cases) {
    Parts parts;
    parts.*c.field = c.value;
    if (c.field2 != nullptr) parts.*c.field2 = c.value2;
    const std::string bytes = parts.Build();
    V3Header header;
    V3Fault fault = V3Fault::kNone;
    const Status status = DecodeV3Header(Span(bytes), &header, &fault);
    EXPECT_EQ(status.ok(), c.fault == V3Fault::kNone) << c.name << ": " << status.ToString();
    EXPECT_EQ(static_cast<int>(fault), static_cast<int>(c.fault)) << c.name;
    if (c.fault == V3Fault::kUnknownSecurityModel) {
      EXPECT_EQ(header.msg_id, 7);
      EXPECT_EQ(header.flags, kFlagReportable);
    }
  }
  // Bytes after the message's SEQUENCE, and its indefinite form.
  const std::string valid = Parts().Build();
  for (const std::string& bytes :
       {valid + '\0', "\x30\x80" + valid.substr(2) + std::string(2, '\0')}) {
    V3Header header;
    V3Fault fault = V3Fault::kNone;
    EXPECT_FALSE(DecodeV3Header(Span(bytes), &header, &fault).ok());
    EXPECT_EQ(fault, V3Fault::kMalformed);
  }
  EXPECT_TRUE(IsV3(Span(valid)));
  EXPECT_FALSE(IsV3(Span(valid.substr(0, 4) + '\x01' + valid.substr(5))));
}

std::vector<VariableView> Bindings() {
  return {{"1.3.6.1.2.1.1.3.0", kTypeTimeTicks, "4242", {}, {}},
          {"1.3.6.1.6.3.1.1.4.1.0", kTypeObjectId, "1.3.6.1.6.3.1.1.5.3", {}, {}},
          {"1.3.6.1.2.1.2.2.1.2.7", kTypeDisplayString, std::string_view("eth\0 7", 6), {}, {}}};
}

TEST(V3Codec, EncodesAndDecodesBackEveryKindAndLevel) {
  const std::vector<VariableView> vars = Bindings();
  const std::vector<uint8_t> engine = {0x80, 0x00, 0x7E, 0xD9, 0x05, 1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<uint8_t> salt = {9, 8, 7, 6, 5, 4, 3, 2};
  for (const int32_t kind : {kKindTrapV2, kKindInform, kKindResponse, kKindReport}) {
    for (const int flags : {0, kFlagAuth | kFlagReportable, kFlagAuth | kFlagPriv}) {
      SCOPED_TRACE(::testing::Message() << "kind " << kind << " flags " << flags);
      MessageView pdu;
      pdu.kind = kind;
      pdu.request_id = 1234567;
      pdu.error_status = kind == kKindResponse ? 5 : 0;
      pdu.error_index = kind == kKindResponse ? 2 : 0;
      pdu.variables = vars;
      BerWriter scoped;
      ASSERT_TRUE(EncodeScopedPdu(pdu, {"ctx-engine", "ctx"}, &scoped).ok());
      const std::vector<uint8_t> data = Vec(scoped.data());
      const bool priv = (flags & kFlagPriv) != 0;
      const V3Out out{
          2147483647, 1500, static_cast<uint8_t>(flags), engine, 2147483647, 86400, "operator", 24,
          salt,       {}};
      BerWriter message;
      size_t mac_offset = 0;
      ASSERT_TRUE(EncodeV3(out, data, &message, &mac_offset).ok());

      V3Header h;
      V3Fault fault = V3Fault::kMalformed;
      const Status status = DecodeV3Header(message.data(), &h, &fault);
      ASSERT_TRUE(status.ok()) << status.ToString();
      EXPECT_EQ(fault, V3Fault::kNone);
      EXPECT_EQ(
          std::tie(h.msg_id, h.max_size, h.flags, h.security_model, h.engine_boots, h.engine_time),
          std::tie(out.msg_id, out.max_size, out.flags, kSecurityModelUsm, out.engine_boots,
                   out.engine_time));
      EXPECT_EQ(Vec(h.engine_id), engine);
      EXPECT_EQ(Vec(h.user_name), Vec(Span("operator")));
      // The zeroed MAC where EncodeV3 said, and the salt only with privacy.
      EXPECT_EQ(Vec(h.auth_params), std::vector<uint8_t>(flags == 0 ? 0 : 24, 0));
      EXPECT_EQ(h.auth_params_offset, mac_offset);
      EXPECT_EQ(h.auth_params.data(), message.data().data() + mac_offset);
      EXPECT_EQ(Vec(h.priv_params), priv ? salt : std::vector<uint8_t>{});
      EXPECT_EQ(Vec(h.data), data);

      DecodedMessage decoded;
      ScopedContext got;
      ASSERT_TRUE(DecodeScopedPdu(h.data, 0, &decoded, &got).ok());
      EXPECT_EQ(ToMessage(decoded.view()), ToMessage(pdu));
      EXPECT_EQ(got.engine_id, "ctx-engine");
      EXPECT_EQ(got.name, "ctx");
      for (const VariableView& v : decoded.view().variables) {
        EXPECT_TRUE(v.encoding.data() >= h.data.data() &&
                    v.encoding.data() + v.encoding.size() <= h.data.data() + h.data.size());
      }
    }
  }
}

TEST(V3Codec, ScopedPduTakesAtMostItsPadding) {
  const std::vector<VariableView> vars = Bindings();
  MessageView pdu;
  pdu.kind = kKindTrapV2;
  pdu.variables = vars;
  BerWriter scoped;
  ASSERT_TRUE(EncodeScopedPdu(pdu, {}, &scoped).ok());
  for (size_t pad = 0; pad <= 8; ++pad) {
    std::vector<uint8_t> plain = Vec(scoped.data());
    plain.insert(plain.end(), pad, static_cast<uint8_t>(0x30 + pad));
    DecodedMessage decoded;
    ScopedContext context;
    ASSERT_EQ(DecodeScopedPdu(plain, 7, &decoded, &context, Texts::kOnDemand).ok(), pad <= 7)
        << pad;
    if (pad > 7) continue;
    // On demand, as SNMPv2c: snmpTrapOID.0 has its texts, a later binding only its encoding.
    EXPECT_EQ(decoded.view().variables[1].value, "1.3.6.1.6.3.1.1.5.3");
    EXPECT_TRUE(decoded.view().variables[2].oid.empty());
    EXPECT_EQ(ToMessage(decoded.view()), ToMessage(pdu));
  }
}

TEST(V3Codec, RefusesWhatItsVersionDoesNotCarry) {
  MessageView pdu;
  pdu.kind = kKindTrapV1;
  pdu.enterprise = "1.3.6";
  pdu.agent_address = "192.0.2.1";
  BerWriter writer;
  EXPECT_FALSE(EncodeScopedPdu(pdu, {}, &writer).ok());
  pdu.kind = kKindReport;
  EXPECT_FALSE(Encode(pdu, &writer).ok());
  // SNMPv2c carries no Report; a ScopedPDU no GetRequest.
  const std::string pdu_body = Int(1) + Int(0) + Int(0) + Seq("");
  const std::string report = Seq(Int(1) + Oct("public") + Tlv(kTagReportPdu, pdu_body));
  DecodedMessage decoded;
  EXPECT_FALSE(Decode(Span(report), &decoded).ok());
  ScopedContext context;
  const std::string get = Seq(Oct("") + Oct("") + Tlv(0xA0, pdu_body));
  EXPECT_FALSE(DecodeScopedPdu(Span(get), 0, &decoded, &context).ok());
  // What DecodeV3Header would not take back is not written.
  const std::string scoped = Parts().data;
  const std::string big(kMaxDatagram, 'x');
  const std::string long_name(33, 'u');
  size_t mac_offset = 0;
  const auto refused = [&](auto change, const std::string& data) {
    V3Out out;
    change(out);
    return !EncodeV3(out, Span(data), &writer, &mac_offset).ok();
  };
  EXPECT_FALSE(refused([](V3Out&) {}, scoped));
  EXPECT_TRUE(refused([](V3Out& o) { o.flags = kFlagPriv; }, scoped));
  EXPECT_TRUE(refused([](V3Out& o) { o.max_size = 483; }, scoped));
  EXPECT_TRUE(refused([&](V3Out& o) { o.user_name = long_name; }, scoped));
  EXPECT_TRUE(refused([](V3Out&) {}, Oct("")));  // a plaintext that is not a SEQUENCE
  EXPECT_TRUE(refused([](V3Out& o) { o.flags = kFlagAuth | kFlagPriv; }, big));
}

// snmptrap -v 3 ... 0 1.3.6.1.6.3.1.1.5.1 at each level; see the files' comments.
TEST(V3Codec, DecodesNetSnmpCapturesAndEncodesThemBack) {
  const std::vector<uint8_t> engine = {0x80, 0, 0, 0, 1, 2, 3, 4};
  const std::vector<uint8_t> test_engine = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
  const struct {
    const char* file;
    int flags;
    const std::vector<uint8_t>& engine;
  } cases[] = {{"v3_noauth_coldstart.hex", 0, engine},
               {"v3_authnopriv_sha_coldstart.hex", kFlagAuth, test_engine},
               {"v3_authpriv_sha_aes_coldstart.hex", kFlagAuth | kFlagPriv, test_engine}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto datagram = testing::LoadHexFile(std::string(TERVANE_TESTDATA_DIR) + "/" + c.file);
    ASSERT_TRUE(datagram.ok()) << datagram.status().ToString();
    V3Header h;
    V3Fault fault = V3Fault::kMalformed;
    const Status status = DecodeV3Header(*datagram, &h, &fault);
    ASSERT_TRUE(status.ok()) << status.ToString();
    EXPECT_EQ(h.flags, c.flags);
    EXPECT_EQ(Vec(h.engine_id), c.engine);
    EXPECT_EQ(Vec(h.user_name), Vec(Span("tervane")));
    // HMAC-SHA-96's 12 octets, found where the offset says.
    ASSERT_EQ(h.auth_params.size(), c.flags == 0 ? 0U : 12U);
    ASSERT_LE(h.auth_params_offset + h.auth_params.size(), datagram->size());
    EXPECT_EQ(Vec(h.auth_params),
              Vec(std::span(*datagram).subspan(h.auth_params_offset, h.auth_params.size())));
    EXPECT_EQ(h.priv_params.size(), (c.flags & kFlagPriv) != 0 ? 8U : 0U);
    if ((c.flags & kFlagPriv) != 0) continue;  // the rest is ciphertext

    DecodedMessage decoded;
    ScopedContext context;
    ASSERT_TRUE(DecodeScopedPdu(h.data, 0, &decoded, &context).ok());
    const Message m = ToMessage(decoded.view());
    EXPECT_EQ(m.kind, kKindTrapV2);
    EXPECT_EQ(m.variables, (std::vector<Variable>{
                               {"1.3.6.1.2.1.1.3.0", kTypeTimeTicks, "0"},
                               {"1.3.6.1.6.3.1.1.4.1.0", kTypeObjectId, "1.3.6.1.6.3.1.1.5.1"}}));
    // net-snmp writes the forms we write: the same octets again, the MAC apart.
    BerWriter scoped;
    ASSERT_TRUE(EncodeScopedPdu(decoded.view(), context, &scoped).ok());
    const std::vector<uint8_t> plain = Vec(scoped.data());
    const V3Out out{
        h.msg_id,  h.max_size,           h.flags, h.engine_id, h.engine_boots, h.engine_time,
        "tervane", h.auth_params.size(), {},      {}};
    BerWriter message;
    size_t mac_offset = 0;
    ASSERT_TRUE(EncodeV3(out, plain, &message, &mac_offset).ok());
    std::vector<uint8_t> again = Vec(message.data());
    ASSERT_EQ(mac_offset, h.auth_params_offset);
    ASSERT_EQ(again.size(), datagram->size());
    std::copy(h.auth_params.begin(), h.auth_params.end(),
              again.begin() + static_cast<ptrdiff_t>(mac_offset));
    EXPECT_EQ(again, *datagram);
  }
}

}  // namespace
}  // namespace tervane::snmp
