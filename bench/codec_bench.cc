// Codec benchmark: how long the relay's hot path takes per trap. It decodes a captured
// 10-binding SNMPv2c trap, and decodes and re-encodes it, many times over, and prints the
// median time per trap of several rounds. When built with net-snmp (libsnmp-dev) it
// measures the same work done by snmp_parse and snmp_parse + snmp_build, and prints the
// ratios.
//
// The codec remembers recent OID conversions, which is what a relay meets in practice (the
// same trap types again and again) and what repeating one capture measures. So that the
// figures also show the other end, a second pair of measurements cycles through 4096
// variants of the capture whose OIDs all differ, so that nearly every OID is new to it.
//
// Usage: codec_bench [ITERATIONS [ROUNDS [CAPTURE.hex]]]
// This is a measuring tool, not a test: it asserts nothing about speed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "service/snmp/codec.h"
#include "tests/hex_file.h"

#if TERVANE_BENCH_NETSNMP
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#endif

namespace {

using tervane::snmp::Message;
using Datagram = std::vector<uint8_t>;

// Outputs are folded in here so the compiler cannot drop the measured work.
volatile size_t g_sink = 0;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "codec_bench: %s\n", what.c_str());
  std::exit(1);
}

// One measured operation: a name and the work for one trap.
struct Subject {
  const char* name;
  std::function<void()> run;
  std::vector<double> ns_per_trap = {};  // one figure per round
};

// Runs every subject `iterations` times per round, round after round, so that a change in
// the machine's load during the measurement affects all of them alike; the first round
// warms up and is not counted. Returns the median of each subject's rounds.
std::vector<double> Measure(std::vector<Subject>& subjects, int iterations, int rounds) {
  for (int round = -1; round < rounds; ++round) {
    for (Subject& subject : subjects) {
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < iterations; ++i) subject.run();
      const auto elapsed = std::chrono::steady_clock::now() - start;
      if (round >= 0) {
        subject.ns_per_trap.push_back(std::chrono::duration<double, std::nano>(elapsed).count() /
                                      iterations);
      }
    }
  }
  std::vector<double> medians;
  for (Subject& subject : subjects) {
    std::sort(subject.ns_per_trap.begin(), subject.ns_per_trap.end());
    medians.push_back(subject.ns_per_trap[subject.ns_per_trap.size() / 2]);
  }
  return medians;
}

// Variants of `message`, each with every OID (binding names and OID values) extended by
// its own sub-identifier, encoded.
std::vector<Datagram> Variants(const Message& message, size_t count) {
  std::vector<Datagram> variants(count);
  for (size_t i = 0; i < count; ++i) {
    Message m = message;
    const std::string suffix = "." + std::to_string(i + 1);
    for (tervane::snmp::Variable& var : m.variables) {
      var.oid += suffix;
      if (var.type == tervane::snmp::kTypeObjectId) var.value += suffix;
    }
    if (!tervane::snmp::Encode(m, &variants[i]).ok()) Die("a variant does not encode");
  }
  return variants;
}

#if TERVANE_BENCH_NETSNMP
// net-snmp's decode (snmp_parse into a fresh PDU, as its session layer does for every
// datagram) and decode + encode (snmp_build into one reused packet buffer).
class NetSnmp {
 public:
  NetSnmp() {
    // No configuration files, no MIB modules, no log output: only the codec is wanted.
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    snmp_disable_log();
    init_snmp("bench");
    snmp_sess_init(&session_);
    session_.version = SNMP_VERSION_2c;
    packet_ = static_cast<u_char*>(std::malloc(capacity_));
    if (packet_ == nullptr) Die("out of memory");
  }
  ~NetSnmp() { std::free(packet_); }
  NetSnmp(const NetSnmp&) = delete;
  NetSnmp& operator=(const NetSnmp&) = delete;

  // Decodes `datagram`, and encodes it again when `build`; returns the encoded size.
  size_t Run(Datagram& datagram, bool build) {
    netsnmp_pdu* pdu = snmp_pdu_create(0);
    if (snmp_parse(nullptr, &session_, pdu, datagram.data(), datagram.size()) != 0) {
      Die("snmp_parse refused a datagram");
    }
    size_t size = 0;
    if (build) {
      size_t length = capacity_;
      if (snmp_build(&packet_, &length, &size, &session_, pdu) != 0) Die("snmp_build failed");
      capacity_ = length;  // snmp_build may have grown the buffer
    }
    snmp_free_pdu(pdu);
    return size;
  }

  // Whether net-snmp re-encodes `datagram` to the same bytes, i.e. does the same work.
  bool Reproduces(Datagram& datagram) {
    const size_t size = Run(datagram, true);
    // snmp_build writes the message at the end of the packet buffer (reverse encoding).
    const u_char* start = packet_ + capacity_ - size;
    return size == datagram.size() && std::equal(datagram.begin(), datagram.end(), start);
  }

 private:
  netsnmp_session session_{};
  size_t capacity_ = 65536;
  u_char* packet_ = nullptr;
};
#endif

}  // namespace

int main(int argc, char** argv) {
  const int iterations = argc > 1 ? std::atoi(argv[1]) : 200000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  const std::string path = argc > 3 ? argv[3] : TERVANE_BENCH_CAPTURE;
  if (iterations <= 0 || rounds <= 0) Die("ITERATIONS and ROUNDS must be positive");
  auto loaded = tervane::testing::LoadHexFile(path);
  if (!loaded.ok()) Die(loaded.status().ToString());
  Datagram datagram = std::move(loaded).value();

  // The relay's pattern: one Message and one output buffer reused for every datagram.
  Message message;
  Datagram wire;
  tervane::Status status = tervane::snmp::Decode(datagram, &message);
  if (!status.ok()) Die("the capture does not decode: " + status.ToString());
  if (!tervane::snmp::Encode(message, &wire).ok() || wire != datagram) {
    Die("our codec does not re-encode the capture to the same bytes");
  }
  constexpr size_t kVariants = 4096;
  std::vector<Datagram> variants = Variants(message, kVariants);
  size_t next = 0;
  std::printf("input: %s\n       %zu bytes, %zu bindings; median of %d rounds x %d iterations\n",
              path.c_str(), datagram.size(), message.variables.size(), rounds, iterations);

  auto decode = [&](const Datagram& input) {
    if (!tervane::snmp::Decode(input, &message).ok()) Die("decode failed");
    g_sink = g_sink + message.variables.size();
  };
  auto round_trip = [&](const Datagram& input) {
    decode(input);
    if (!tervane::snmp::Encode(message, &wire).ok()) Die("encode failed");
    g_sink = g_sink + wire.size();
  };
  std::vector<Subject> subjects;
  subjects.push_back({"tervane  decode", [&] { decode(datagram); }});
  subjects.push_back({"tervane  decode + re-encode", [&] { round_trip(datagram); }});
  subjects.push_back(
      {"tervane  decode + re-encode, new OIDs", [&] { round_trip(variants[next++ % kVariants]); }});
#if TERVANE_BENCH_NETSNMP
  NetSnmp net;
  if (!net.Reproduces(datagram) || !net.Reproduces(variants[0])) {
    Die("net-snmp does not re-encode the inputs to the same bytes");
  }
  subjects.push_back({"net-snmp snmp_parse", [&] { g_sink = g_sink + net.Run(datagram, false); }});
  subjects.push_back(
      {"net-snmp snmp_parse + snmp_build", [&] { g_sink = g_sink + net.Run(datagram, true); }});
  subjects.push_back({"net-snmp snmp_parse + snmp_build, new OIDs",
                      [&] { g_sink = g_sink + net.Run(variants[next++ % kVariants], true); }});
#endif
  const std::vector<double> ns = Measure(subjects, iterations, rounds);
  for (size_t i = 0; i < subjects.size(); ++i) {
    std::printf("%-42s %9.1f ns/trap\n", subjects[i].name, ns[i]);
  }
#if TERVANE_BENCH_NETSNMP
  std::printf("%-42s %9.2f x\n", "speed-up, decode", ns[3] / ns[0]);
  std::printf("%-42s %9.2f x (target: at least 4 x)\n", "speed-up, decode + re-encode",
              ns[4] / ns[1]);
  std::printf("%-42s %9.2f x\n", "speed-up, decode + re-encode, new OIDs", ns[5] / ns[2]);
#else
  std::printf("net-snmp was not found at build time: no comparison\n");
#endif
  return 0;
}
