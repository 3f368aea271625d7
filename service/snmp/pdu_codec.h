// The PDU part of the codec, shared by the SNMPv2c message (codec.cc) and the SNMPv3
// ScopedPDU (v3_codec.cc): both carry the same SNMPv2 PDUs, decoded with the same strictness
// and encoded the same way. Internal to the codec library.
#ifndef TERVANE_SERVICE_SNMP_PDU_CODEC_H_
#define TERVANE_SERVICE_SNMP_PDU_CODEC_H_

#include <cstdint>

#include "platform/status.h"
#include "service/snmp/codec.h"
#include "service/snmp/message.h"

namespace tervane::snmp {

class BerReader;
class BerWriter;

// Decodes the content of an SNMPv2-Trap, InformRequest, Response or Report PDU, tagged
// `pdu_tag`, from *pdu (which must end empty) into *out, with an empty community; the texts
// and bindings are made as Decode makes them, viewing what *pdu views. Any other tag is
// malformed. On failure *out is in an unspecified but valid state.
Status DecodeV3Pdu(uint8_t pdu_tag, BerReader* pdu, DecodedMessage* out, Texts texts);

// Prepends the PDU element of `message` to *writer: the SNMPv1 Trap-PDU, the SNMPv2 PDUs
// and, with `scoped` (an SNMPv3 ScopedPDU's), the Report-PDU; SNMPv1's Trap-PDU only
// without it. On failure what was written of it is left in the writer and the Status says
// which field was refused.
Status PutPdu(const MessageView& message, bool scoped, BerWriter* writer);

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_PDU_CODEC_H_
