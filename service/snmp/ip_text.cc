#include "service/snmp/ip_text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "service/snmp/value_text.h"

namespace tervane::snmp {
namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

}  // namespace

IpAddress IpAddress::V4(const uint8_t octets[4]) {
  IpAddress a;
  a.family = Family::kIpv4;
  std::memcpy(a.octets.data(), octets, 4);
  return a;
}

IpAddress IpAddress::V6(const uint8_t octets[16]) {
  IpAddress a;
  a.family = Family::kIpv6;
  std::memcpy(a.octets.data(), octets, 16);
  return a;
}

bool IpAddress::IsAny() const {
  const size_t n = is_v4() ? 4 : is_v6() ? 16 : 0;
  return n != 0 && std::all_of(octets.begin(), octets.begin() + static_cast<long>(n),
                               [](uint8_t o) { return o == 0; });
}

bool IpAddress::IsV4Mapped() const {
  return is_v6() && std::equal(kMappedPrefix, kMappedPrefix + 12, octets.begin());
}

IpAddress IpAddress::Unmapped() const { return IsV4Mapped() ? V4(octets.data() + 12) : *this; }

const char* ParseAddressText(std::string_view text, IpAddress* out) {
  uint8_t v4[4];
  if (ParseIpText(text, v4) == nullptr) {
    *out = IpAddress::V4(v4);
    return nullptr;
  }
  if (text.find(':') == std::string_view::npos || text.size() >= INET6_ADDRSTRLEN) {
    return "is not an IPv4 or IPv6 address (a.b.c.d or x:x::x)";
  }
  if (text.find('%') != std::string_view::npos) {
    return "has a zone ID (%...); zone IDs are not supported: give the address alone";
  }
  char buffer[INET6_ADDRSTRLEN];
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  uint8_t v6[16];
  if (inet_pton(AF_INET6, buffer, v6) != 1) {
    return "is not an IPv4 or IPv6 address (a.b.c.d or x:x::x)";
  }
  *out = IpAddress::V6(v6);
  return nullptr;
}

std::string FormatAddress(const IpAddress& address) {
  if (address.is_v4()) {
    std::string text;
    FormatIp(std::span<const uint8_t, 4>(address.octets.data(), 4), &text);
    return text;
  }
  if (!address.is_v6()) return {};
  // glibc's inet_ntop writes the RFC 5952 form: lower case, no leading zeros, the longest
  // (first) run of two or more zero groups as "::", and ::ffff:a.b.c.d for a mapped address.
  char text[INET6_ADDRSTRLEN];
  if (inet_ntop(AF_INET6, address.octets.data(), text, sizeof text) == nullptr) return "::";
  return text;
}

std::string CanonicalAddressText(std::string_view text) {
  IpAddress parsed;
  if (ParseAddressText(text, &parsed) != nullptr || !parsed.is_v6()) return std::string(text);
  return FormatAddress(parsed);
}

std::string FormatEndpoint(std::string_view address, uint16_t port) {
  std::string text;
  const bool bracket = address.find(':') != std::string_view::npos;
  text.reserve(address.size() + 8);
  if (bracket) text += '[';
  text += address;
  if (bracket) text += ']';
  text += ':';
  text += std::to_string(port);
  return text;
}

bool SameHost(const IpAddress& a, const IpAddress& b) { return a.Unmapped() == b.Unmapped(); }

bool BoundAddressCovers(const IpAddress& bound, const IpAddress& to) {
  const IpAddress target = to.Unmapped();
  if (bound.is_v6() && bound.IsAny()) return target.family != IpAddress::Family::kNone;
  const IpAddress own = bound.Unmapped();
  if (own.is_v4() && own.IsAny()) return target.is_v4();
  return own == target;
}

}  // namespace tervane::snmp
