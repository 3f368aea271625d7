"""The little of SNMPv2c that the pair's test needs, in BER: traps and informs to send, and
the fields of a received message (its kind, request id and bindings) to read back.

Only what the test's device and station exchange is covered: version 2c messages with an
SNMPv2-Trap, InformRequest or Response PDU whose bindings hold INTEGER, OCTET STRING, OID,
IpAddress, Counter32, Gauge32 or TimeTicks values. A datagram that is not such a message
raises BerError.
"""

TRAP = 0xA7
INFORM = 0xA6
RESPONSE = 0xA2

SYS_UP_TIME = "1.3.6.1.2.1.1.3.0"
SNMP_TRAP_OID = "1.3.6.1.6.3.1.1.4.1.0"
SNMP_TRAP_ADDRESS = "1.3.6.1.6.3.18.1.3.0"

_INTEGER, _OCTETS, _NULL, _OID, _SEQUENCE = 0x02, 0x04, 0x05, 0x06, 0x30
_IPADDRESS, _TIMETICKS = 0x40, 0x43
_UNSIGNED = (0x41, 0x42, 0x43)  # Counter32, Gauge32, TimeTicks


class BerError(ValueError):
    """A datagram that is not a message this module reads."""


def _length(n):
    if n < 0x80:
        return bytes([n])
    octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(octets)]) + octets


def _tlv(tag, content):
    return bytes([tag]) + _length(len(content)) + content


def _integer(value, tag=_INTEGER):
    size = max(1, (value.bit_length() + 8) // 8)
    return _tlv(tag, value.to_bytes(size, "big", signed=True))


def _oid(text):
    arcs = [int(a) for a in text.split(".")]
    out = bytearray([arcs[0] * 40 + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.append(0x80 | (arc & 0x7F))
            arc >>= 7
        out.extend(reversed(chunk))
    return _tlv(_OID, bytes(out))


def _value(kind, value):
    if kind == "s":
        return _tlv(_OCTETS, value.encode() if isinstance(value, str) else value)
    if kind == "o":
        return _oid(value)
    if kind == "t":
        return _integer(value, _TIMETICKS)
    if kind == "i":
        return _integer(value)
    raise ValueError(f"unknown value kind {kind!r}")


def encode(pdu, request_id, bindings, community="public"):
    """An SNMPv2c message: `bindings` are (oid, kind, value) with kind "s" (OCTET STRING),
    "o" (OID), "t" (TimeTicks) or "i" (INTEGER)."""
    varbinds = b"".join(_tlv(_SEQUENCE, _oid(oid) + _value(kind, value))
                        for oid, kind, value in bindings)
    body = _integer(request_id) + _integer(0) + _integer(0) + _tlv(_SEQUENCE, varbinds)
    return _tlv(_SEQUENCE, _integer(1) + _tlv(_OCTETS, community.encode()) + _tlv(pdu, body))


def notification(pdu, request_id, uptime, trap_oid, bindings, community="public"):
    """A trap or inform: sysUpTime.0 and snmpTrapOID.0 first, then `bindings`."""
    return encode(pdu, request_id,
                  [(SYS_UP_TIME, "t", uptime), (SNMP_TRAP_OID, "o", trap_oid)] + list(bindings),
                  community)


def _read(data, pos, end):
    """The TLV at data[pos:end]: (tag, content start, content end)."""
    if pos + 2 > end:
        raise BerError("truncated")
    tag, first = data[pos], data[pos + 1]
    pos += 2
    if first < 0x80:
        size = first
    else:
        count = first & 0x7F
        if count == 0 or count > 4 or pos + count > end:
            raise BerError("bad length")
        size = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    if pos + size > end:
        raise BerError("truncated")
    return tag, pos, pos + size


def _expect(data, pos, end, tag):
    got, start, stop = _read(data, pos, end)
    if got != tag:
        raise BerError(f"tag 0x{got:02x} where 0x{tag:02x} belongs")
    return start, stop


def _oid_text(content):
    if not content:
        raise BerError("empty OID")
    arcs = list(divmod(content[0], 40)) if content[0] < 80 else [2, content[0] - 80]
    arc = 0
    for octet in content[1:]:
        arc = (arc << 7) | (octet & 0x7F)
        if not octet & 0x80:
            arcs.append(arc)
            arc = 0
    return ".".join(str(a) for a in arcs)


def _value_text(tag, content):
    if tag == _OCTETS:
        return content.decode("latin-1")
    if tag == _OID:
        return _oid_text(content)
    if tag == _IPADDRESS and len(content) == 4:
        return ".".join(str(b) for b in content)
    if tag == _INTEGER:
        return str(int.from_bytes(content, "big", signed=True))
    if tag in _UNSIGNED:
        return str(int.from_bytes(content, "big"))
    if tag == _NULL:
        return ""
    raise BerError(f"value tag 0x{tag:02x}")


def decode(data):
    """(pdu tag, request id, {oid: value text}) of an SNMPv2c message."""
    start, end = _expect(data, 0, len(data), _SEQUENCE)
    v_start, v_end = _expect(data, start, end, _INTEGER)
    if data[v_start:v_end] != b"\x01":
        raise BerError("not SNMPv2c")
    _, c_end = _expect(data, v_end, end, _OCTETS)
    pdu, p_start, p_end = _read(data, c_end, end)
    if pdu not in (TRAP, INFORM, RESPONSE):
        raise BerError(f"PDU 0x{pdu:02x}")
    r_start, r_end = _expect(data, p_start, p_end, _INTEGER)
    request_id = int.from_bytes(data[r_start:r_end], "big", signed=True)
    _, pos = _expect(data, r_end, p_end, _INTEGER)
    _, pos = _expect(data, pos, p_end, _INTEGER)
    pos, list_end = _expect(data, pos, p_end, _SEQUENCE)
    bindings = {}
    while pos < list_end:
        b_start, b_end = _expect(data, pos, list_end, _SEQUENCE)
        o_start, o_end = _expect(data, b_start, b_end, _OID)
        tag, val_start, val_end = _read(data, o_end, b_end)
        bindings[_oid_text(data[o_start:o_end])] = _value_text(tag, data[val_start:val_end])
        pos = b_end
    return pdu, request_id, bindings
