// What the interop tests against net-snmp share: a fixture that finds the tools and
// gives them a private, empty configuration and persistence directory (so that they
// neither read nor write anything of the machine's), and small text helpers for the
// values they print.
#ifndef TERVANE_TESTS_NET_SNMP_H_
#define TERVANE_TESTS_NET_SNMP_H_

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/message.h"
#include "service/snmp/socket_util.h"
#include "tests/free_port.h"
#include "tests/subprocess.h"

namespace tervane::snmp {

using testing::Subprocess;

inline constexpr const char* kSysUpTime = "1.3.6.1.2.1.1.3.0";
inline constexpr const char* kSnmpTrapOid = "1.3.6.1.6.3.1.1.4.1.0";
inline constexpr const char* kTrapOid = "1.3.6.1.4.1.32473.1.100.2.0.1000";
inline constexpr const char* kEnterprise = "1.3.6.1.4.1.32473.1";

inline std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

inline std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    if (!hex.empty()) hex.push_back(' ');
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 15]);
  }
  return hex;
}

// Readable failure messages for bindings: the value in hex, since it may be binary.
inline void PrintTo(const Variable& v, std::ostream* os) {
  *os << "{" << v.oid << ", type " << v.type << ", hex [" << Hex(v.value) << "]}";
}

// Bytes from net-snmp's hex dumps: pairs of hex digits, blanks and line breaks between.
inline std::optional<std::string> Unhex(const std::string& text) {
  std::string bytes;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else if (c == ' ' || c == '\n' || c == '\r') {
      if (high >= 0) return std::nullopt;
      continue;
    } else {
      return std::nullopt;
    }
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

inline std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string::npos;
       at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  parts.push_back(text.substr(start));
  return parts;
}

inline std::string StripDot(const std::string& oid) {
  return !oid.empty() && oid[0] == '.' ? oid.substr(1) : oid;
}

// The net-snmp tools with a private, empty configuration in a temporary directory.
class NetSnmpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    snmptrap_ = testing::FindProgram("snmptrap");
    snmpinform_ = testing::FindProgram("snmpinform");
    snmptrapd_ = testing::FindProgram("snmptrapd");
    if (snmptrap_.empty() || snmpinform_.empty() || snmptrapd_.empty()) {
      GTEST_SKIP() << "net-snmp's snmptrap, snmpinform or snmptrapd is not installed";
    }
    ASSERT_TRUE(dir_.ok());
    std::filesystem::create_directories(dir_.path() / "conf");
    std::filesystem::create_directories(dir_.path() / "persist");
  }

  std::vector<std::string> Env() const {
    const std::string d = dir_.path().string();
    return {"SNMPCONFPATH=" + d + "/conf", "SNMP_PERSISTENT_DIR=" + d + "/persist", "HOME=" + d,
            "MIBS=", "MIBDIRS=" + d + "/conf"};
  }

  // Runs a sending tool against our manager, pumping our loop meanwhile, until the tool
  // has exited and `enough()` holds, or a few seconds have passed. Returns its exit
  // status; the tool's output is left in *output.
  template <typename Enough>
  std::optional<int> RunAgainst(EventLoop& loop, const std::string& tool,
                                std::vector<std::string> args, Enough enough, std::string* output) {
    args.insert(args.begin(), tool);
    std::string error;
    std::unique_ptr<Subprocess> child = Subprocess::Spawn(args, Env(), &error);
    EXPECT_NE(child, nullptr) << error;
    if (!child) return std::nullopt;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline && !(child->TryExit() && enough())) {
      loop.RunOnce(10);
      child->Drain();
    }
    child->Drain();
    *output = child->output();
    return child->TryExit();
  }

  // Starts snmptrapd with the configuration text `config` and the options `options` on a free
  // port of 127.0.0.1 (of ::1 with `ipv6`), and waits until it is listening: it prints its
  // version line only after its socket is bound. A port taken by someone else between the
  // probe and the start makes snmptrapd exit at once; another port is tried.
  std::unique_ptr<Subprocess> StartTrapd(const std::string& config,
                                         const std::vector<std::string>& options, uint16_t* port,
                                         bool ipv6 = false) {
    const std::string config_file = (dir_.path() / "snmptrapd.conf").string();
    std::ofstream(config_file) << config;
    for (int attempt = 0; attempt < 5; ++attempt) {
      *port = ipv6 ? FreeUdp6Port() : FreeUdpPort();
      if (*port == 0) continue;
      std::vector<std::string> args = {snmptrapd_,
                                       "-f",
                                       "-Lo",
                                       "-C",
                                       "-c",
                                       config_file,
                                       "--persistentDir=" + (dir_.path() / "persist").string()};
      args.insert(args.end(), options.begin(), options.end());
      args.push_back((ipv6 ? "udp6:[::1]:" : "udp:127.0.0.1:") + std::to_string(*port));
      std::string error;
      std::unique_ptr<Subprocess> trapd = Subprocess::Spawn(args, Env(), &error);
      if (!trapd) {
        ADD_FAILURE() << error;
        return nullptr;
      }
      const bool ready = trapd->ReadUntil(
          [](const std::string& out) { return out.find("NET-SNMP version") != std::string::npos; },
          10000);
      if (ready) return trapd;
      if (!trapd->WaitExit(1000)) {
        ADD_FAILURE() << "snmptrapd did not get ready:\n" << trapd->output();
        return nullptr;
      }
    }
    ADD_FAILURE() << "snmptrapd could not bind a free port";
    return nullptr;
  }

  std::string snmptrap_;
  std::string snmpinform_;
  std::string snmptrapd_;
  testing::TempDir dir_;
};

// The records of an snmptrapd run whose format lines print each trap as "V1|...|END" or
// "V2|...|END" on a line of its own: in arrival order, without their "|END".
inline std::vector<std::string> TrapdRecords(const std::string& output) {
  std::vector<std::string> records;
  size_t at = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    const size_t start = std::min(output.find("V1|", at), output.find("V2|", at));
    if (start == std::string::npos) break;
    const size_t end = output.find("|END\n", start);
    if (end == std::string::npos) break;
    records.push_back(output.substr(start, end - start));
    at = end + 5;
  }
  return records;
}

}  // namespace tervane::snmp

#endif  // TERVANE_TESTS_NET_SNMP_H_
