// libFuzzer target for the message decoder.
//
// Whatever the input, Decode must return without reading out of bounds or invoking
// undefined behaviour (the sanitizers watch that). For every datagram it accepts, the
// round trip must hold: Encode succeeds, the encoding decodes to an equal Message, and
// encoding that again gives the same bytes. Decoding into a Message that still holds an
// earlier datagram must give the same result as decoding into a fresh one. A broken
// property stops the run at once with __builtin_trap, so libFuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "service/snmp/codec.h"

using tervane::snmp::Decode;
using tervane::snmp::Encode;
using tervane::snmp::Message;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Message reused;  // keeps whatever the previous input left in it
  Message first;
  const bool accepted = Decode({data, size}, &first).ok();
  const bool accepted_reused = Decode({data, size}, &reused).ok();
  if (accepted != accepted_reused) __builtin_trap();
  if (!accepted) return 0;
  if (!(reused == first)) __builtin_trap();

  std::vector<uint8_t> wire;
  if (!Encode(first, &wire).ok()) __builtin_trap();
  Message second;
  if (!Decode(wire, &second).ok()) __builtin_trap();
  if (!(second == first)) __builtin_trap();
  std::vector<uint8_t> again;
  if (!Encode(second, &again).ok() || again != wire) __builtin_trap();
  return 0;
}
