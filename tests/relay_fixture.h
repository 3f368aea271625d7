// The fixture of the end-to-end tests of TervixSrv: each test gets a program folder of its
// own in a temporary directory, with a copy of the built TervixSrv (the service finds its
// database and debug files beside its executable, so a symlink would not do) and a fresh
// Tervix.mdb holding the test's settings and trap definitions. The service runs as a child
// process on 127.0.0.1 and a free port; it forwards to a sink in the test process (our own
// manager on another free port of 127.0.0.1), which the test pumps with deadlines.
//
// Every wait is bounded, and the child is stopped (SIGTERM, and SIGKILL when that is not
// enough) when the test ends, whatever happened.
#ifndef TERVANE_TESTS_RELAY_FIXTURE_H_
#define TERVANE_TESTS_RELAY_FIXTURE_H_

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/agent.h"
#include "service/snmp/codec.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/ip_text.h"
#include "service/snmp/manager.h"
#include "service/snmp/message.h"
#include "store/relay_options.h"
#include "store/store.h"
#include "tests/free_port.h"
#include "tests/net_snmp.h"
#include "tests/relay_records.h"
#include "tests/subprocess.h"

namespace tervane::testing {

using snmp::Message;
using snmp::Variable;

inline constexpr char kWrappedTrapPrefix[] = "1.3.6.1.4.1.32473.1.100.2.0.";
inline constexpr char kWrappedEnterprise[] = "1.3.6.1.4.1.32473.1.100.2";
inline constexpr char kNewVarPrefix[] = "1.3.6.1.4.1.32473.1.100.1.";
inline constexpr char kSnmpTrapAddress[] = "1.3.6.1.6.3.18.1.3.0";
// Trap OIDs of the markers that Flush sends; no test defines a trap under this branch.
inline constexpr char kMarkerPrefix[] = "1.3.6.1.4.1.32473.99.0.";
// Why a test that counts allocations skips where RelayTest::CountAllocations fails.
inline constexpr char kNoAllocationCounter[] =
    "no counting allocator in this build (it cannot run under the sanitizers)";

// One new variable of a definition: 1-based byte position, length and SNMP type name.
struct Piece {
  Piece(int p, int l, std::string t = "DisplayString") : pos(p), len(l), type(std::move(t)) {}
  int pos;
  int len;
  std::string type;
};

// One SnmpTrap row.
struct Definition {
  Definition(std::string o, int s, std::vector<Piece> p, int n = 1000,
             std::optional<int> count = std::nullopt)
      : oid(std::move(o)), source(s), pieces(std::move(p)), number(n), new_var_no(count) {}
  std::string oid;
  int source;
  std::vector<Piece> pieces;
  int number;
  // TrapNewVarNo when it is not the number of pieces.
  std::optional<int> new_var_no;
};

struct RelayConfig {
  bool debug = false;
  bool convert = false;
  std::string recv_ip = "127.0.0.1";
  // Empty: the sink's address.
  std::string forw_ip;
  // 0: the sink's port.
  uint16_t forw_port = 0;
  std::vector<Definition> definitions;
  // The address of the service that our sender and the tools send to: 127.0.0.1, or ::1 for
  // a service that receives on ::1 (or on ::).
  std::string send_to = "127.0.0.1";
  // The option AddSourceAddress. "0" by default: the tests of other things compare what the
  // sink receives with what was sent, binding for binding. Empty: as a new database has it.
  std::string add_source_address = "0";
};

// A datagram the sink received: the message and where it came from.
struct Received {
  Message message;
  std::string source;
  uint16_t source_port = 0;
};

// The trap OID of a received trap: snmpTrapOID.0 of an SNMPv2 trap, or for an SNMPv1 trap
// the OID that RFC 3584 forms from enterprise, generic-trap and specific-trap.
inline std::string TrapOidOf(const Message& m) {
  if (m.kind == snmp::kKindTrapV1) {
    if (m.generic_trap == 6) return m.enterprise + ".0." + std::to_string(m.specific_trap);
    return "1.3.6.1.6.3.1.1.5." + std::to_string(m.generic_trap + 1);
  }
  return m.variables.size() >= 2 ? m.variables[1].value : std::string();
}

// An SNMPv2c trap: sysUpTime.0, snmpTrapOID.0, then `vars`.
inline Message V2Trap(const std::string& trap_oid, std::vector<Variable> vars,
                      const std::string& community = "public", const std::string& uptime = "987") {
  Message m;
  m.kind = snmp::kKindTrapV2;
  m.community = community;
  m.request_id = 4711;
  m.variables = {{snmp::kSysUpTime, snmp::kTypeTimeTicks, uptime},
                 {snmp::kSnmpTrapOid, snmp::kTypeObjectId, trap_oid}};
  m.variables.insert(m.variables.end(), vars.begin(), vars.end());
  return m;
}

inline std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class RelayTest : public snmp::NetSnmpTest {
 protected:
  using Clock = std::chrono::steady_clock;

  void SetUp() override {
    snmp::NetSnmpTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    folder_ = dir_.path() / "program";
    std::filesystem::create_directories(folder_);
    std::error_code ec;
    std::filesystem::copy_file(TERVIX_SRV_PATH, folder_ / "TervixSrv", ec);
    ASSERT_FALSE(ec) << "copying " << TERVIX_SRV_PATH << ": " << ec.message();
    std::filesystem::permissions(folder_ / "TervixSrv", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);

    sink_.SetTrapHandler([this] {
      received_.push_back({sink_.CurrentMessage(), sink_.SourceAddress(), sink_.SourcePort()});
    });
    const Status listening = sink_.Listen(0, "127.0.0.1");
    ASSERT_TRUE(listening.ok()) << listening.ToString();
    const Status started = sender_.Start(0, "127.0.0.1");
    ASSERT_TRUE(started.ok()) << started.ToString();
  }

  void TearDown() override {
    if (relay_ && !relay_->TryExit()) {
      kill(relay_->pid(), SIGTERM);
      relay_->WaitExit(5000);
    }
    relay_.reset();  // kills and reaps what is still running
  }

  // Makes a new Tervix.mdb with the settings and definitions, and points our agent at the
  // receive port: a free one of 127.0.0.1 unless `recv_port` names one.
  void Configure(const RelayConfig& config, uint16_t recv_port = 0) {
    probed_port_ = recv_port == 0;
    recv_port_ = recv_port != 0 ? recv_port : FreeUdpPort();
    ASSERT_NE(recv_port_, 0);
    for (const char* name : {"Tervix.mdb", "Tervix.mdb-wal", "Tervix.mdb-shm"}) {
      std::filesystem::remove(folder_ / name);
    }
    const Status created = store::Store::Create((folder_ / "Tervix.mdb").string());
    ASSERT_TRUE(created.ok()) << created.ToString();
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    const Status written = db->WriteSettings({
        {"DebugMode", store::Value(config.debug ? 1 : 0)},
        {"TrapRecvIpAddr", store::Value(config.recv_ip)},
        {"TrapRecvPort", store::Value(static_cast<int>(recv_port_))},
        {"TrapForwIpAddr", store::Value(config.forw_ip.empty() ? "127.0.0.1" : config.forw_ip)},
        {"TrapForwPort", store::Value(static_cast<int>(config.forw_port != 0 ? config.forw_port
                                                                             : sink_.LocalPort()))},
        {"ConvV2ToV1", store::Value(config.convert ? 1 : 0)},
    });
    ASSERT_TRUE(written.ok()) << written.ToString();
    if (!config.add_source_address.empty()) {
      const Status option =
          db->WriteRelayOption(store::kOptionAddSourceAddress, config.add_source_address);
      ASSERT_TRUE(option.ok()) << option.ToString();
    }
    int row = 0;
    for (const Definition& d : config.definitions) {
      store::ColumnValues columns = {
          {"TrapName", store::Value("trap" + std::to_string(++row))},
          {"TrapOID", store::Value(d.oid)},
          {"TrapSourceVarNo", store::Value(d.source)},
          {"TrapNewVarNo", store::Value(d.new_var_no.value_or(static_cast<int>(d.pieces.size())))},
          {"TrapNewNumber", store::Value(d.number)},
      };
      for (size_t i = 0; i < d.pieces.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        columns.push_back({"VarName" + n, store::Value("var" + n)});
        columns.push_back({"VarPos" + n, store::Value(d.pieces[i].pos)});
        columns.push_back({"VarChar" + n, store::Value(d.pieces[i].len)});
        columns.push_back({"VarType" + n, store::Value(d.pieces[i].type)});
      }
      Result<int64_t> added = db->AddTrap(columns);
      ASSERT_TRUE(added.ok()) << added.status().ToString();
    }
    send_to_ = config.send_to;
    sender_.ClearDestinations();
    const Status added = sender_.AddDestination(Target());
    ASSERT_TRUE(added.ok()) << added.ToString();
  }

  // The service's receive endpoint as our agent takes it: "127.0.0.1:PORT" or "[::1]:PORT".
  std::string Target() const { return snmp::FormatEndpoint(send_to_, recv_port_); }

  // Starts TervixSrv without waiting for anything, in the environment of the tools and
  // relay_env_.
  void SpawnRelay() {
    std::string error;
    std::vector<std::string> env = Env();
    env.insert(env.end(), relay_env_.begin(), relay_env_.end());
    relay_ = Subprocess::Spawn({(folder_ / "TervixSrv").string()}, env, &error);
    ASSERT_NE(relay_, nullptr) << error;
  }

  // Starts TervixSrv and waits until it has logged event 101. Fails the test when it does
  // not within a few seconds. A probed receive port that someone else took meanwhile is
  // replaced by another one and the service started again.
  void StartRelay() {
    for (int attempt = 1;; ++attempt) {
      ASSERT_NO_FATAL_FAILURE(SpawnRelay());
      ASSERT_TRUE(PumpUntil([this] { return Logged("Tervane: information 101\n"); }, 10000))
          << "TervixSrv did not report its start:\n"
          << relay_->output();
      if (!probed_port_ || attempt == 3 || !Logged("SNMP Trap Port was in use\n")) return;
      ASSERT_NO_FATAL_FAILURE(StopRelay());
      recv_port_ = FreeUdpPort();
      ASSERT_NO_FATAL_FAILURE(
          WriteSetting("TrapRecvPort", store::Value(static_cast<int>(recv_port_))));
      sender_.ClearDestinations();
      const Status added = sender_.AddDestination(Target());
      ASSERT_TRUE(added.ok()) << added.ToString();
    }
  }

  // Overwrites one column of General_Setting.
  void WriteSetting(const std::string& column, const store::Value& value) {
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    const Status written = db->WriteSettings({{column, value}});
    ASSERT_TRUE(written.ok()) << written.ToString();
  }

  // SIGTERM, then waits for a clean exit after event 102.
  void StopRelay() {
    ASSERT_NE(relay_, nullptr);
    ASSERT_EQ(kill(relay_->pid(), SIGTERM), 0);
    const std::optional<int> code = relay_->WaitExit(10000);
    ASSERT_TRUE(code.has_value()) << "TervixSrv did not end after SIGTERM:\n" << relay_->output();
    EXPECT_EQ(*code, 0) << relay_->output();
    EXPECT_TRUE(Logged("Tervane: information 102\n")) << relay_->output();
  }

  // Pumps the sink and reads the service's output until `done` holds or `timeout_ms` has
  // passed; returns done().
  bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done() && Clock::now() < deadline) {
      loop_.RunOnce(10);
      if (relay_) relay_->Drain();
    }
    return done();
  }

  // True when the service's output so far holds `text`.
  bool Logged(const std::string& text) const {
    return relay_ && relay_->output().find(text) != std::string::npos;
  }
  // Waits (bounded) until the service's output holds `text`.
  bool WaitLogged(const std::string& text, int timeout_ms = 5000) {
    return PumpUntil([&] { return Logged(text); }, timeout_ms);
  }
  // The event lines ("Tervane: ...") that the service has written so far.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    if (!relay_) return events;
    for (const std::string& line : snmp::Split(relay_->output(), "\n")) {
      if (line.rfind("Tervane: ", 0) == 0) events.push_back(line);
    }
    return events;
  }

  // Sends `m` to the service from our own agent.
  void Send(const Message& m) {
    sender_.Outgoing() = m;
    const Status sent = sender_.Send();
    ASSERT_TRUE(sent.ok()) << sent.ToString();
  }

  // Waits until the sink has received `count` datagrams in all; returns them.
  std::vector<Received> Receive(size_t count, int timeout_ms = 5000) {
    PumpUntil([&] { return received_.size() >= count; }, timeout_ms);
    return received_;
  }

  // Sends a trap that no definition matches and waits for it at the sink. The service
  // handles datagrams one after the other, so whatever it sent for the earlier ones has
  // arrived before the marker. Returns the datagrams that came before it and forgets them;
  // an empty optional when the marker did not come back.
  std::optional<std::vector<Received>> Flush() {
    const std::string oid = kMarkerPrefix + std::to_string(++markers_);
    Send(V2Trap(oid, {}, "marker"));
    auto at = [&]() -> std::optional<size_t> {
      for (size_t i = 0; i < received_.size(); ++i) {
        if (TrapOidOf(received_[i].message) == oid) return i;
      }
      return std::nullopt;
    };
    if (!PumpUntil([&] { return at().has_value(); }, 5000)) {
      ADD_FAILURE() << "marker " << oid << " not forwarded; service output:\n"
                    << (relay_ ? relay_->output() : "");
      return std::nullopt;
    }
    const size_t n = *at();
    std::vector<Received> before(received_.begin(), received_.begin() + static_cast<long>(n));
    received_.erase(received_.begin(), received_.begin() + static_cast<long>(n) + 1);
    return before;
  }

  // Runs snmptrap or snmpinform (`tool`) against the service with `args` after the target,
  // pumping the sink meanwhile; returns the tool's exit status.
  std::optional<int> RunTool(const std::string& tool, std::vector<std::string> args,
                             std::string* output) {
    // net-snmp names an IPv6 target by its transport: udp6:[::1]:PORT.
    const bool v6 = send_to_.find(':') != std::string::npos;
    args.insert(args.begin() + ToolOptionCount(args), (v6 ? "udp6:" : "") + Target());
    return RunAgainst(
        loop_, tool, args, [] { return true; }, output);
  }

  // Sends `datagram` to the service from a socket of its own and waits up to `timeout_ms`
  // for one datagram back, pumping the sink meanwhile; returns what came back, if anything.
  std::optional<std::vector<uint8_t>> RoundTrip(const std::vector<uint8_t>& datagram,
                                                int timeout_ms) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return std::nullopt;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(recv_port_);
    std::optional<std::vector<uint8_t>> answer;
    if (sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to) == static_cast<ssize_t>(datagram.size())) {
      PumpUntil(
          [&] {
            std::vector<uint8_t> buffer(65536);
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n < 0) return false;
            buffer.resize(static_cast<size_t>(n));
            answer = std::move(buffer);
            return true;
          },
          timeout_ms);
    }
    close(fd);
    return answer;
  }

  // Sends the inform `m` and returns the decoded answer, if one came within `timeout_ms`.
  std::optional<Message> Inform(const Message& m, int timeout_ms = 3000) {
    std::vector<uint8_t> datagram;
    const Status encoded = snmp::Encode(m, &datagram);
    EXPECT_TRUE(encoded.ok()) << encoded.ToString();
    const std::optional<std::vector<uint8_t>> answer = RoundTrip(datagram, timeout_ms);
    if (!answer) return std::nullopt;
    Message response;
    const Status decoded = snmp::Decode(*answer, &response);
    EXPECT_TRUE(decoded.ok()) << decoded.ToString();
    return response;
  }

  // The content of a file of the program folder, or nothing when it does not exist.
  std::optional<std::string> ReadProgramFile(const std::string& name) const {
    return ReadWholeFile(folder_ / name);
  }

  // The lines of a file of the program folder; a test failure when it does not exist.
  std::vector<std::string> FileLines(const std::string& name) const {
    const std::optional<std::string> text = ReadProgramFile(name);
    EXPECT_TRUE(text.has_value()) << "no " << name;
    return text ? Lines(*text) : std::vector<std::string>();
  }

  // The General_Setting row as the service left it.
  store::SettingsRow Settings() const {
    Result<store::Store> db = store::Store::Open(folder_.string());
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) return store::SettingsRow();
    Result<store::SettingsRow> row = db->ReadSettings();
    EXPECT_TRUE(row.ok()) << row.status().ToString();
    return row.ok() ? *row : store::SettingsRow();
  }

  // Adds a further station (a ForwardTarget row); without `community` its Community stays
  // NULL.
  void AddStation(const std::string& address, uint16_t port, bool convert,
                  const std::optional<std::string>& community = std::nullopt, bool enabled = true) {
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    store::ColumnValues columns = {{"Address", store::Value(address)},
                                   {"Port", store::Value(static_cast<int>(port))},
                                   {"ConvV2ToV1", store::Value(convert ? 1 : 0)}};
    if (community) columns.push_back({"Community", store::Value(*community)});
    columns.push_back({"Enabled", store::Value(enabled ? 1 : 0)});
    Result<int64_t> added = db->AddStation(columns);
    ASSERT_TRUE(added.ok()) << added.status().ToString();
  }

  // RelayStatistics as "name/label" -> value; every row must say since when it counts and
  // when it was written.
  std::map<std::string, int64_t> Counters() const {
    std::map<std::string, int64_t> counters;
    Result<store::Store> db = store::Store::Open(folder_.string(), store::Access::kReadOnly);
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) return counters;
    Result<std::vector<store::StatisticRow>> rows = db->ReadStatistics();
    EXPECT_TRUE(rows.ok()) << rows.status().ToString();
    if (!rows.ok()) return counters;
    for (const store::StatisticRow& row : *rows) {
      counters[row.name + "/" + row.label] = row.value;
      EXPECT_FALSE(row.since.empty());
      EXPECT_FALSE(row.written.empty());
    }
    return counters;
  }

  // Where the counting allocator writes how many allocations it has seen in TervixSrv.
  std::filesystem::path AllocationCounts() const { return dir_.path() / "alloc.counts"; }

  // Runs TervixSrv, from its next start, under the counting allocator. False, with
  // relay_env_ unchanged, in a build without one (where it could be static, but is not).
  bool CountAllocations() {  // NOLINT(readability-convert-member-functions-to-static)
#ifdef ALLOC_COUNTER_PATH
    relay_env_ = {std::string("LD_PRELOAD=") + ALLOC_COUNTER_PATH,
                  "TERVANE_ALLOC_COUNTS=" + AllocationCounts().string()};
    return true;
#else
    return false;
#endif
  }

  // How many allocations the counting allocator has seen in TervixSrv so far; nothing
  // before it has written a count.
  std::optional<uint64_t> Allocations() const {
    std::ifstream file(AllocationCounts(), std::ios::binary);
    uint64_t count = 0;
    if (!file.read(reinterpret_cast<char*>(&count), sizeof count)) return std::nullopt;
    return count;
  }

  // Runs `work` and expects TervixSrv, started under CountAllocations, to allocate nothing
  // meanwhile; `what` names the work in the failure.
  void ExpectNoAllocationsDuring(const std::function<void()>& work, const std::string& what) {
    const std::optional<uint64_t> before = Allocations();
    ASSERT_TRUE(before.has_value())
        << "the counting allocator wrote nothing to " << AllocationCounts();
    ASSERT_NO_FATAL_FAILURE(work());
    const std::optional<uint64_t> after = Allocations();
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(*after - *before, 0u) << "allocations while " << what;
  }

  std::filesystem::path folder_;
  uint16_t recv_port_ = 0;
  std::string send_to_ = "127.0.0.1";
  bool probed_port_ = true;
  snmp::EventLoop loop_;
  snmp::Manager sink_{loop_};
  snmp::Agent sender_;
  std::vector<Received> received_;
  std::unique_ptr<Subprocess> relay_;
  std::vector<std::string> relay_env_;  // NAME=value for TervixSrv's environment
  int markers_ = 0;

 private:
  // The tools take their options first; the target follows the last option (and its value).
  static size_t ToolOptionCount(const std::vector<std::string>& args) {
    size_t i = 0;
    while (i < args.size() && !args[i].empty() && args[i][0] == '-') {
      const std::string& option = args[i];
      // Options with a separate value: -v 2c, -c public, -r 0, -t 3.
      const bool has_value = option == "-v" || option == "-c" || option == "-r" || option == "-t";
      i += has_value ? 2 : 1;
    }
    return i;
  }
};

}  // namespace tervane::testing

#endif  // TERVANE_TESTS_RELAY_FIXTURE_H_
