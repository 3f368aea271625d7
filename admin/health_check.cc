#include "admin/health_check.h"

#include <charconv>

namespace tervane::svc {
namespace {

// The hexadecimal number that `text` holds whole, of at most 16 digits.
std::optional<uint64_t> Hex(std::string_view text) {
  uint64_t value = 0;
  if (text.empty() || text.size() > 16) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<uint64_t> Decimal(std::string_view text) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// The fields of a line, split at blanks.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

// "AAAAAAAA:PPPP" (IPv4) or 32 hexadecimal digits and ":PPPP" (IPv6) as an address and a port.
bool ParseEndpoint(std::string_view text, std::endian order, UdpSocket* socket) {
  const size_t colon = text.find(':');
  if ((colon != 8 && colon != 32) || text.size() != colon + 5) return false;
  uint8_t octets[16] = {};
  for (size_t word = 0; word < colon / 8; ++word) {
    const std::optional<uint64_t> value = Hex(text.substr(8 * word, 8));
    if (!value) return false;
    for (size_t i = 0; i < 4; ++i) {
      // The octet that lies at byte i of the 32-bit number in memory.
      const size_t shift = order == std::endian::little ? 8 * i : 8 * (3 - i);
      octets[4 * word + i] = static_cast<uint8_t>(*value >> shift);
    }
  }
  const std::optional<uint64_t> port = Hex(text.substr(colon + 1));
  if (!port || *port > 0xFFFF) return false;
  socket->address = colon == 8 ? snmp::IpAddress::V4(octets) : snmp::IpAddress::V6(octets);
  socket->port = static_cast<uint16_t>(*port);
  return true;
}

}  // namespace

std::vector<UdpSocket> ParseUdpTable(std::string_view text, std::endian order) {
  // "  sl  local_address rem_address   st tx_queue:rx_queue tr:tm->when retrnsmt   uid
  //  timeout inode ref pointer drops": the inode is the tenth field.
  std::vector<UdpSocket> sockets;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.size() < 10 || fields[0].empty() || fields[0].back() != ':') continue;
    UdpSocket socket;
    const std::optional<uint64_t> state = Hex(fields[3]);
    const std::optional<uint64_t> inode = Decimal(fields[9]);
    if (!ParseEndpoint(fields[1], order, &socket) || !state || *state > 0xFF || !inode) continue;
    socket.state = static_cast<int>(*state);
    socket.inode = *inode;
    sockets.push_back(socket);
  }
  return sockets;
}

std::vector<UdpSocket> ListenersOn(const std::vector<UdpSocket>& table,
                                   const snmp::IpAddress& address, uint16_t port) {
  std::vector<UdpSocket> found;
  for (const UdpSocket& socket : table) {
    if (socket.state == kUdpUnconnected && socket.port == port &&
        socket.address.family == address.family &&
        (socket.address == address || socket.address.IsAny())) {
      found.push_back(socket);
    }
  }
  return found;
}

std::optional<uint64_t> SocketInode(std::string_view link) {
  constexpr std::string_view kPrefix = "socket:[";
  if (!link.starts_with(kPrefix) || !link.ends_with(']')) return std::nullopt;
  return Decimal(link.substr(kPrefix.size(), link.size() - kPrefix.size() - 1));
}

std::optional<std::string> CountersProblem(int64_t now, std::optional<int64_t> written,
                                           std::optional<int64_t> service_age) {
  if (written && now - *written <= kCountersMaxAgeSeconds) return std::nullopt;
  if (service_age && *service_age < kCountersMaxAgeSeconds) return std::nullopt;
  if (written) return "counters last written " + std::to_string(now - *written) + " s ago";
  if (service_age) {
    return "no counters written in the " + std::to_string(*service_age) +
           " s since the service started";
  }
  return "no counters written";
}

std::string EndpointText(const snmp::IpAddress& address, uint16_t port) {
  return snmp::FormatEndpoint(snmp::FormatAddress(address), port);
}

}  // namespace tervane::svc
