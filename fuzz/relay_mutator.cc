// relay_fuzz's custom mutator: besides libFuzzer's own byte mutations, changes to the decoded
// message that the input's datagram part carries, encoded again: an SNMPv2c or SNMPv1 datagram,
// or the plaintext ScopedPDU of an SNMPv3 description (see v3_peer.h), which relay_fuzz then
// encrypts and signs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_table.h"
#include "fuzz/v3_peer.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/codec.h"
#include "service/snmp/message.h"
#include "service/snmp/v3_codec.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

namespace {

namespace snmp = tervane::snmp;

using tervane::fuzz::DatagramOffset;
using tervane::fuzz::IsDescription;

// `text` changed by one of libFuzzer's own byte mutations.
void MutateText(std::string& text, size_t max_size) {
  if (text.empty()) text.push_back('0');
  const size_t size = text.size();
  text.resize(std::max(size, max_size));
  text.resize(LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(text.data()), size, text.size()));
}

// One change to a decoded message: a text, a type, a header field, or the bindings' order
// and number.
void MutateMessage(snmp::Message& m, std::minstd_rand& random) {
  std::vector<snmp::Variable>& vars = m.variables;
  const size_t pick = vars.empty() ? 0 : random() % vars.size();
  switch (random() % 8) {
    case 0:
      MutateText(m.community, 64);
      break;
    case 1:
      if (!vars.empty()) MutateText(vars[pick].oid, 64);
      break;
    case 2:
      if (!vars.empty()) MutateText(vars[pick].value, 128);
      break;
    case 3:
      if (!vars.empty()) vars[pick].type = static_cast<int32_t>(random() % 10);
      break;
    case 4:
      if (!vars.empty()) vars.erase(vars.begin() + static_cast<ptrdiff_t>(pick));
      break;
    case 5:
      if (!vars.empty()) {
        const snmp::Variable copy = vars[pick];
        vars.insert(vars.begin() + static_cast<ptrdiff_t>(random() % (vars.size() + 1)), copy);
      }
      break;
    case 6:
      if (!vars.empty()) std::swap(vars[pick], vars[random() % vars.size()]);
      break;
    default:
      if (m.kind == snmp::kKindTrapV1) {
        MutateText(m.enterprise, 64);
        m.generic_trap = static_cast<int32_t>(random() % 7);
        m.specific_trap = static_cast<int32_t>(random());
      } else {
        m.kind = m.kind == snmp::kKindTrapV2 ? snmp::kKindInform : snmp::kKindTrapV2;
      }
      break;
  }
}

// An SNMPv3 description whose rest is a ScopedPDU: half the time its PDU changed as
// MutateMessage changes a datagram's, in the same context; else libFuzzer's own mutation.
size_t MutateDescription(uint8_t* data, size_t size, size_t max_size, size_t datagram_at,
                         std::minstd_rand& random) {
  const size_t scoped_at = datagram_at + tervane::fuzz::kDescriptionHead;
  static snmp::DecodedMessage decoded;
  snmp::ScopedContext context;
  if (random() % 2 == 0 || scoped_at >= size || (data[datagram_at + 1] & 1U) != 0 ||
      !snmp::DecodeScopedPdu({data + scoped_at, data + size}, 0, &decoded, &context).ok()) {
    return LLVMFuzzerMutate(data, size, max_size);
  }
  const std::string engine_id(context.engine_id), name(context.name);
  snmp::Message message = snmp::ToMessage(decoded.view());
  MutateMessage(message, random);
  std::vector<snmp::VariableView> variables;
  static snmp::BerWriter writer;
  if (!snmp::EncodeScopedPdu(snmp::ViewOf(message, &variables), {engine_id, name}, &writer).ok() ||
      scoped_at + writer.size() > max_size) {
    return LLVMFuzzerMutate(data, size, max_size);
  }
  std::memcpy(data + scoped_at, writer.data().data(), writer.size());
  return scoped_at + writer.size();
}

}  // namespace

// Most byte mutations of a datagram break one of its nested BER lengths and end at Decode:
// a trap OID or a binding list of another length is hardly ever reached that way. Half of
// the mutations therefore change the decoded message instead and encode it again; the other
// half, and every one whose message does not decode or encode, are libFuzzer's own, which
// also change the table.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int seed) {
  std::minstd_rand random(seed);
  const size_t datagram_at = DatagramOffset(data, size);
  if (size >= 2 && IsDescription({data + datagram_at, data + size})) {
    return MutateDescription(data, size, max_size, datagram_at, random);
  }
  snmp::Message message;
  std::vector<uint8_t> wire;
  if (random() % 2 == 0 || size < 2 ||
      !snmp::Decode({data + datagram_at, data + size}, &message).ok()) {
    return LLVMFuzzerMutate(data, size, max_size);
  }
  MutateMessage(message, random);
  if (!snmp::Encode(message, &wire).ok() || datagram_at + wire.size() > max_size) {
    return LLVMFuzzerMutate(data, size, max_size);
  }
  std::memcpy(data + datagram_at, wire.data(), wire.size());
  return datagram_at + wire.size();
}
