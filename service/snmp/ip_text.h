// IP addresses as the settings and the records write them: dotted IPv4 ("192.0.2.7") or IPv6
// text ("2001:db8::7", written back in the RFC 5952 form), and an address joined to its port,
// "192.0.2.7:162" or "[2001:db8::7]:162".
//
// An IPv4 address reaching a dual-stack socket arrives as ::ffff:a.b.c.d; Unmapped() turns it
// back into a.b.c.d, so that it counts as the IPv4 address it is wherever addresses are
// compared or written. Zone IDs ("fe80::1%eth0") are refused: a zone names an interface of
// one machine, which a stored setting cannot rely on.
#ifndef TERVANE_SERVICE_SNMP_IP_TEXT_H_
#define TERVANE_SERVICE_SNMP_IP_TEXT_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tervane::snmp {

struct IpAddress {
  enum class Family : uint8_t { kNone, kIpv4, kIpv6 };
  Family family = Family::kNone;
  // IPv4: the first 4 octets; IPv6: all 16. Network order.
  std::array<uint8_t, 16> octets{};

  static IpAddress V4(const uint8_t octets[4]);
  static IpAddress V6(const uint8_t octets[16]);

  bool is_v4() const { return family == Family::kIpv4; }
  bool is_v6() const { return family == Family::kIpv6; }
  // 0.0.0.0 or ::, the address that means every address of its family (:: both families).
  bool IsAny() const;
  // ::ffff:a.b.c.d.
  bool IsV4Mapped() const;
  // a.b.c.d for ::ffff:a.b.c.d; any other address as it is.
  IpAddress Unmapped() const;
  friend bool operator==(const IpAddress&, const IpAddress&) = default;
};

// Parses `text` as dotted IPv4 (the codec's IpAddress rule) or IPv6 text. Returns nullptr and
// sets *out, or the reason the text is refused ("is not an IPv4 or IPv6 address (a.b.c.d or
// x:x::x)", "has a zone ID (%eth0); zone IDs are not supported"), leaving *out unchanged.
const char* ParseAddressText(std::string_view text, IpAddress* out);

// The address's text: dotted IPv4, or IPv6 in the RFC 5952 form (lower case, the longest run
// of zero groups shortened, ::ffff:a.b.c.d for a mapped IPv4 address). "" for kNone.
std::string FormatAddress(const IpAddress& address);
// The text of a stored or typed address in the form the programs write: IPv6 text in the
// RFC 5952 form, anything else (IPv4, or text that is not an address) as it is.
std::string CanonicalAddressText(std::string_view text);

// "ADDRESS:PORT", with the address in brackets when it is IPv6 text (it holds a ':').
std::string FormatEndpoint(std::string_view address, uint16_t port);

// Whether `a` and `b` are one host's address, counting ::ffff:a.b.c.d as a.b.c.d.
bool SameHost(const IpAddress& a, const IpAddress& b);
// Whether a socket bound to `bound` receives what is sent to `to`: the same host, or `bound`
// is 0.0.0.0 and `to` an IPv4 address, or `bound` is :: (both families).
bool BoundAddressCovers(const IpAddress& bound, const IpAddress& to);

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_IP_TEXT_H_
