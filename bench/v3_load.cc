#include "bench/v3_load.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "bench/trap_load.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/message.h"
#include "service/snmp/v3_codec.h"

namespace tervane::bench {
namespace {

namespace usm = snmp::usm;

constexpr char kAuthPassword[] = "bench-auth-password";
constexpr char kPrivPassword[] = "bench-priv-password";
// The device's engine ID (RFC 3411 §5: net-snmp's enterprise 8072, format 4, text).
constexpr std::array<uint8_t, 12> kDeviceEngine = {0x80, 0x00, 0x1f, 0x88, 0x04, 'b',
                                                   'e',  'n',  'c',  'h',  '-',  '1'};
constexpr uint32_t kDeviceBoots = 1;
// The device's engine time when it was made, in seconds.
constexpr uint32_t kDeviceTimeBase = 1000;

}  // namespace

store::V3User V3BenchUser() {
  store::V3User user;
  user.name = kV3UserName;
  user.auth = kV3Auth;
  user.auth_key = usm::PasswordToKey(kV3Auth, kAuthPassword);
  user.priv = kV3Priv;
  // The privacy Ku is made with the authentication hash.
  user.priv_key = usm::PasswordToKey(kV3Auth, kPrivPassword);
  return user;
}

V3Device::V3Device() : engine_id_(kDeviceEngine.begin(), kDeviceEngine.end()) {
  const store::V3User user = V3BenchUser();
  authenticator_ =
      usm::Authenticator(kV3Auth, usm::LocalizeKey(kV3Auth, user.auth_key.view(), engine_id_));
  const usm::Key priv_kul = usm::LocalizeKey(kV3Auth, user.priv_key.view(), engine_id_);
  privacy_ = usm::Privacy(kV3Priv, usm::PrivacyKey(kV3Auth, kV3Priv, priv_kul, engine_id_));
}

Status V3Device::Build(uint32_t trial, size_t size, std::vector<std::vector<uint8_t>>* pool) {
  pool->clear();
  const snmp::Message trap = MakeTrap(trial);
  std::vector<snmp::VariableView> variables;
  const snmp::MessageView view = snmp::ViewOf(trap, &variables);
  const std::string_view engine_text(reinterpret_cast<const char*>(engine_id_.data()),
                                     engine_id_.size());
  // Devices name their own engine as the context's.
  const snmp::ScopedContext context{engine_text, ""};
  snmp::BerWriter scoped;
  if (Status s = snmp::EncodeScopedPdu(view, context, &scoped); !s.ok()) return s;
  const std::span<const uint8_t> plaintext = scoped.data();
  std::vector<uint8_t> ciphertext(privacy_.CiphertextLength(plaintext.size()));
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - made_)
          .count();
  snmp::V3Out out;
  out.flags = snmp::kFlagAuth | snmp::kFlagPriv;
  out.engine_id = engine_id_;
  out.engine_boots = kDeviceBoots;
  out.engine_time = kDeviceTimeBase + static_cast<uint32_t>(seconds);
  out.user_name = kV3UserName;
  out.mac_length = authenticator_.mac_length();
  out.context = context;
  std::array<uint8_t, usm::kPrivParamsLength> salt{};
  out.priv_params = salt;
  snmp::BerWriter whole;
  pool->reserve(size);
  for (size_t i = 0; i < size; ++i) {
    privacy_.Encrypt(next_salt_++, out.engine_boots, out.engine_time, plaintext, ciphertext.data(),
                     salt.data());
    out.msg_id = next_msg_id_;
    // msgID is 0 to 2147483647: start again at 1 after the largest.
    next_msg_id_ = next_msg_id_ == 2147483647 ? 1 : next_msg_id_ + 1;
    size_t mac_offset = 0;
    if (Status s = snmp::EncodeV3(out, ciphertext, &whole, &mac_offset); !s.ok()) {
      pool->clear();
      return s;
    }
    authenticator_.Sign(whole.mutable_data(), mac_offset);
    pool->emplace_back(whole.data().begin(), whole.data().end());
  }
  return Status::Ok();
}

size_t V3Device::DatagramSize() {
  std::vector<std::vector<uint8_t>> one;
  return Build(0, 1, &one).ok() ? one.front().size() : 0;
}

}  // namespace tervane::bench
