// The trivial forwarder: the relay benchmark's reference for what the machine can move at
// all. One thread copies every datagram that arrives on 127.0.0.1:LISTEN_PORT to
// 127.0.0.1:FORWARD_PORT (to each of several, in turn, for the fan-out case), in batches
// (recvmmsg, then sendmmsg), without looking at it.
//
// Usage: trivial_forwarder LISTEN_PORT FORWARD_PORT[,FORWARD_PORT...] [BUFFER_BYTES]
// BUFFER_BYTES (default 4 MiB) is asked for as the socket's receive and send buffer, within
// the system's limits. Runs until SIGTERM or SIGINT, or until its parent ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

constexpr size_t kBatch = 64;
constexpr size_t kSlotBytes = 65536;  // the largest UDP/IPv4 payload fits
constexpr size_t kMaxPorts = 16;

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

bool ParseNumber(std::string_view text, unsigned low, unsigned high, unsigned* number) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return false;
  }
  *number = value;
  return true;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  return sa;
}

// Sends headers[0..count) in as many sendmmsg calls as it takes. A datagram that cannot
// be sent (nobody listening, no buffer room for long) is skipped, as a relay would drop it.
void SendAll(int fd, mmsghdr* headers, unsigned count) {
  unsigned done = 0;
  for (int round = 0; done < count && round < 1000 && !g_stop; ++round) {
    const int n = sendmmsg(fd, headers + done, count - done, 0);
    if (n > 0) {
      done += static_cast<unsigned>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == ENOBUFS)) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 1);
    } else if (n < 0 && errno != EINTR) {
      ++done;  // skip the datagram that failed
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  unsigned listen_port = 0;
  std::array<unsigned, kMaxPorts> forward_ports{};
  size_t port_count = 0;
  unsigned buffer_bytes = 4 << 20;
  bool ports_ok = argc >= 3;
  for (std::string_view list = argc >= 3 ? argv[2] : ""; ports_ok && !list.empty();) {
    const size_t comma = list.find(',');
    ports_ok = port_count < kMaxPorts &&
               ParseNumber(list.substr(0, comma), 1, 65535, &forward_ports[port_count++]);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  if ((argc != 3 && argc != 4) || !ports_ok || port_count == 0 ||
      !ParseNumber(argv[1], 1, 65535, &listen_port) ||
      (argc == 4 && !ParseNumber(argv[3], 1, INT32_MAX, &buffer_bytes))) {
    std::fputs(
        "usage: trivial_forwarder LISTEN_PORT FORWARD_PORT[,FORWARD_PORT...] [BUFFER_BYTES]\n",
        stderr);
    return 2;
  }
  // Never outlive the benchmark that started it.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  if (getppid() == 1) return 0;

  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    std::perror("socket");
    return 1;
  }
  // The socket buffers that TervixSrv asks for, within the system's limits as there: the
  // two then absorb a burst alike, and only their handling of each datagram differs.
  const auto buffer = static_cast<int>(buffer_bytes);
  (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  const sockaddr_in local = Loopback(static_cast<uint16_t>(listen_port));
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    std::perror("bind");
    close(fd);
    return 1;
  }

  std::array<sockaddr_in, kMaxPorts> to{};
  for (size_t p = 0; p < port_count; ++p) to[p] = Loopback(static_cast<uint16_t>(forward_ports[p]));
  auto data = std::make_unique<uint8_t[]>(kBatch * kSlotBytes);
  std::array<iovec, kBatch> iov{};
  std::array<mmsghdr, kBatch> in{};
  std::array<mmsghdr, kBatch> out{};
  while (!g_stop) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;  // a signal or a quiet second: check g_stop
    for (size_t i = 0; i < kBatch; ++i) {
      iov[i].iov_base = data.get() + i * kSlotBytes;
      iov[i].iov_len = kSlotBytes;
      in[i] = mmsghdr{};
      in[i].msg_hdr.msg_iov = &iov[i];
      in[i].msg_hdr.msg_iovlen = 1;
    }
    const int n = recvmmsg(fd, in.data(), kBatch, MSG_DONTWAIT, nullptr);
    if (n <= 0) continue;
    for (int i = 0; i < n; ++i) {
      iov[static_cast<size_t>(i)].iov_len = in[static_cast<size_t>(i)].msg_len;
    }
    // The batch to each destination in turn, as a relay copying to several would.
    for (size_t d = 0; d < port_count; ++d) {
      for (int i = 0; i < n; ++i) {
        const auto k = static_cast<size_t>(i);
        out[k] = mmsghdr{};
        out[k].msg_hdr.msg_name = &to[d];
        out[k].msg_hdr.msg_namelen = sizeof to[d];
        out[k].msg_hdr.msg_iov = &iov[k];
        out[k].msg_hdr.msg_iovlen = 1;
      }
      SendAll(fd, out.data(), static_cast<unsigned>(n));
    }
  }
  close(fd);
  return 0;
}
