// libFuzzer target for the message decoder.
//
// Whatever the input, Decode must return without reading out of bounds or invoking
// undefined behaviour (the sanitizers watch that). For every datagram it accepts, the
// round trip must hold: Encode succeeds, the encoding decodes to an equal Message, and
// encoding that again gives the same bytes. Decoding into a Message that still holds an
// earlier datagram must give the same result as decoding into a fresh one. Decoding into
// views accepts the same datagrams and gives the same texts; a binding that carries its
// encoding is exactly what encoding its texts gives, so that the views encode to the same
// bytes as the Message; and decoding with the texts made on demand accepts the same, makes
// the same texts when asked, and encodes the same. A broken property stops the run at once with
// __builtin_trap, so libFuzzer keeps the input.
//
// An SNMPv3 datagram (IsV3) is never a message Decode takes. Its header goes through
// DecodeV3Header, and its ScopedPDU through DecodeScopedPdu as the security model hands it on:
// the plaintext one, and the content of an encryptedPDU as if it were what decrypting gave, with
// no padding allowed and with a DES plaintext's 7 octets, in both text modes. Allowing padding
// never refuses what no padding takes, and both give the same views. Whatever decodes
// re-encodes (EncodeScopedPdu, EncodeV3 with the received MAC put back) into a header with the
// same fields and a ScopedPDU with the same context and views; encoding that again gives the
// same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "service/snmp/ber_writer.h"
#include "service/snmp/codec.h"
#include "service/snmp/v3_codec.h"

using tervane::snmp::Decode;
using tervane::snmp::DecodedMessage;
using tervane::snmp::Encode;
using tervane::snmp::EncodeBinding;
using tervane::snmp::Message;
using tervane::snmp::ToMessage;
using tervane::snmp::VariableView;

namespace {

namespace snmp = tervane::snmp;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// A binding that carries its encoding is exactly what encoding its texts gives.
void CheckEncodings(const snmp::MessageView& view) {
  std::vector<uint8_t> binding;
  for (const VariableView& v : view.variables) {
    if (v.encoding.empty()) continue;
    VariableView texts = v;
    texts.encoding = {};
    Check(EncodeBinding(texts, &binding).ok());
    Check(std::equal(binding.begin(), binding.end(), v.encoding.begin(), v.encoding.end()));
  }
}

bool Same(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// The header fields that EncodeV3 writes back as they came; the MAC and the salt only where
// the flags say the message has them.
void CheckSameHeader(const snmp::V3Header& a, const snmp::V3Header& b) {
  Check(a.msg_id == b.msg_id && a.max_size == b.max_size && a.flags == b.flags &&
        a.security_model == b.security_model && a.engine_boots == b.engine_boots &&
        a.engine_time == b.engine_time);
  Check(Same(a.engine_id, b.engine_id) && Same(a.user_name, b.user_name));
  const bool auth = (a.flags & snmp::kFlagAuth) != 0;
  const bool priv = (a.flags & snmp::kFlagPriv) != 0;
  Check(auth ? Same(a.auth_params, b.auth_params) : b.auth_params.empty());
  Check(priv ? Same(a.priv_params, b.priv_params) : b.priv_params.empty());
}

// Encodes the message of `header` around `data` (a ScopedPDU element, or with kFlagPriv the
// ciphertext) with the received MAC put back in its place, into *writer.
void EncodeLike(const snmp::V3Header& header, std::span<const uint8_t> data,
                snmp::BerWriter* writer) {
  snmp::V3Out out;
  out.msg_id = header.msg_id;
  out.max_size = header.max_size;
  out.flags = header.flags;
  out.engine_id = header.engine_id;
  out.engine_boots = header.engine_boots;
  out.engine_time = header.engine_time;
  out.user_name = {reinterpret_cast<const char*>(header.user_name.data()), header.user_name.size()};
  out.mac_length = header.auth_params.size();
  out.priv_params = header.priv_params;
  size_t mac_offset = 0;
  Check(snmp::EncodeV3(out, data, writer, &mac_offset).ok());
  if ((header.flags & snmp::kFlagAuth) != 0) {
    Check(mac_offset + header.auth_params.size() <= writer->size());
    std::copy(header.auth_params.begin(), header.auth_params.end(),
              writer->mutable_data().begin() + static_cast<ptrdiff_t>(mac_offset));
  }
}

// A ScopedPDU as the security model hands it on: decoded with and without padding allowed
// and in both text modes alike, and re-encoded into a message like `header`'s that decodes
// back to the same.
void CheckScopedPdu(const snmp::V3Header& header, std::span<const uint8_t> scoped) {
  static DecodedMessage strict, padded, on_demand, back;  // reused, as the service's are
  snmp::ScopedContext context, padded_context, lazy_context, back_context;
  const bool accepted = snmp::DecodeScopedPdu(scoped, 0, &strict, &context).ok();
  const bool padded_ok = snmp::DecodeScopedPdu(scoped, 7, &padded, &padded_context).ok();
  Check(!accepted || padded_ok);
  Check(snmp::DecodeScopedPdu(scoped, 7, &on_demand, &lazy_context, snmp::Texts::kOnDemand).ok() ==
        padded_ok);
  if (!padded_ok) return;
  const Message message = ToMessage(padded.view());
  Check(padded.view().community.empty() && !padded.view().snmpv3);
  Check(ToMessage(on_demand.view()) == message);
  Check(lazy_context.engine_id == padded_context.engine_id &&
        lazy_context.name == padded_context.name);
  if (accepted) {
    Check(ToMessage(strict.view()) == message);
    Check(context.engine_id == padded_context.engine_id && context.name == padded_context.name);
  }
  CheckEncodings(padded.view());

  static snmp::BerWriter scoped_out, whole, again;
  Check(snmp::EncodeScopedPdu(padded.view(), padded_context, &scoped_out).ok());
  std::vector<uint8_t> from_views(scoped_out.data().begin(), scoped_out.data().end());
  Check(snmp::EncodeScopedPdu(on_demand.view(), lazy_context, &scoped_out).ok());
  Check(Same(scoped_out.data(), from_views));
  // The plaintext form of the message, whatever it came as.
  snmp::V3Header plain = header;
  plain.flags = static_cast<uint8_t>(header.flags & ~snmp::kFlagPriv);
  EncodeLike(plain, from_views, &whole);
  snmp::V3Header decoded;
  snmp::V3Fault fault = snmp::V3Fault::kMalformed;
  Check(snmp::DecodeV3Header(whole.data(), &decoded, &fault).ok() && fault == snmp::V3Fault::kNone);
  CheckSameHeader(plain, decoded);
  Check(snmp::DecodeScopedPdu(decoded.data, 0, &back, &back_context).ok());
  Check(ToMessage(back.view()) == message);
  Check(back_context.engine_id == padded_context.engine_id &&
        back_context.name == padded_context.name);
  Check(snmp::EncodeScopedPdu(back.view(), back_context, &scoped_out).ok());
  Check(Same(scoped_out.data(), from_views));
  EncodeLike(decoded, scoped_out.data(), &again);
  Check(Same(again.data(), whole.data()));
}

void CheckV3(std::span<const uint8_t> datagram) {
  // Not a message of the community-based versions.
  Message v2c;
  Check(!Decode(datagram, &v2c).ok());
  snmp::V3Header header;
  snmp::V3Fault fault = snmp::V3Fault::kNone;
  const bool accepted = snmp::DecodeV3Header(datagram, &header, &fault).ok();
  Check(accepted == (fault == snmp::V3Fault::kNone));
  if (!accepted) return;
  Check(header.security_model == snmp::kSecurityModelUsm);
  Check(header.auth_params_offset + header.auth_params.size() <= datagram.size());
  Check(Same(datagram.subspan(header.auth_params_offset, header.auth_params.size()),
             header.auth_params));
  // The header alone, around the data as it came.
  static snmp::BerWriter whole, again;
  EncodeLike(header, header.data, &whole);
  snmp::V3Header decoded;
  Check(snmp::DecodeV3Header(whole.data(), &decoded, &fault).ok());
  CheckSameHeader(header, decoded);
  Check(Same(decoded.data, header.data));  // copied as it came, its lengths too
  EncodeLike(decoded, decoded.data, &again);
  Check(Same(again.data(), whole.data()));
  CheckScopedPdu(header, header.data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (snmp::IsV3({data, size})) {
    CheckV3({data, size});
    return 0;
  }
  static Message reused;  // keeps whatever the previous input left in it
  Message first;
  const bool accepted = Decode({data, size}, &first).ok();
  const bool accepted_reused = Decode({data, size}, &reused).ok();
  if (accepted != accepted_reused) __builtin_trap();
  static DecodedMessage views;  // reused too
  if (Decode({data, size}, &views).ok() != accepted) __builtin_trap();
  static DecodedMessage on_demand;
  if (Decode({data, size}, &on_demand, tervane::snmp::Texts::kOnDemand).ok() != accepted) {
    __builtin_trap();
  }
  if (!accepted) return 0;
  if (!(reused == first)) __builtin_trap();
  if (!(ToMessage(views.view()) == first)) __builtin_trap();
  if (!(ToMessage(on_demand.view()) == first)) __builtin_trap();
  CheckEncodings(views.view());

  std::vector<uint8_t> wire;
  if (!Encode(first, &wire).ok()) __builtin_trap();
  std::vector<uint8_t> from_views;
  if (!Encode(views.view(), &from_views).ok() || from_views != wire) __builtin_trap();
  if (!Encode(on_demand.view(), &from_views).ok() || from_views != wire) __builtin_trap();
  Message second;
  if (!Decode(wire, &second).ok()) __builtin_trap();
  if (!(second == first)) __builtin_trap();
  std::vector<uint8_t> again;
  if (!Encode(second, &again).ok() || again != wire) __builtin_trap();
  return 0;
}
