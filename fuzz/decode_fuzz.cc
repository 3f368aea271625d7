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
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "service/snmp/codec.h"

using tervane::snmp::Decode;
using tervane::snmp::DecodedMessage;
using tervane::snmp::Encode;
using tervane::snmp::EncodeBinding;
using tervane::snmp::Message;
using tervane::snmp::ToMessage;
using tervane::snmp::VariableView;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
  std::vector<uint8_t> binding;
  for (const VariableView& v : views.view().variables) {
    if (v.encoding.empty()) continue;
    VariableView texts = v;
    texts.encoding = {};
    if (!EncodeBinding(texts, &binding).ok()) __builtin_trap();
    if (!std::equal(binding.begin(), binding.end(), v.encoding.begin(), v.encoding.end())) {
      __builtin_trap();
    }
  }

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
