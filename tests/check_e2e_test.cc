// tervane-svc check against a real TervixSrv that the built-in manager runs: healthy while it
// runs, not once it has stopped, and not while another program holds its receive port; on
// IPv4 and on IPv6's loopback address, whose socket the kernel lists in its udp6 table.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "service/snmp/socket_util.h"
#include "tests/service_fixture.h"

namespace tervane::testing {
namespace {

using HealthCheck = ServiceTest;

TEST_F(HealthCheck, PassesWhileTheServiceRunsAndFailsOnceItHasStopped) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_EQ(Program("TervixSrv", {"-install_noMsg"}).exit, 0);
  ProgramRun start = Program("tervane-svc", {"start", "--wait"});
  ServiceProcess();
  ASSERT_EQ(start.exit, 0) << start.err << ServiceLog();

  const std::string endpoint = "127.0.0.1:" + std::to_string(recv_port_);
  ProgramRun healthy = Program("tervane-svc", {"check", "--folder", folder_.string()});
  EXPECT_EQ(healthy.exit, 0) << healthy.err;
  EXPECT_EQ(healthy.out.rfind("Tervane: running, listening on " + endpoint + ", ", 0), 0u)
      << healthy.out;
  EXPECT_EQ(healthy.err, "");

  ASSERT_EQ(Program("tervane-svc", {"stop", "--wait"}).exit, 0);
  ProgramRun stopped = Program("tervane-svc", {"check", "--folder", folder_.string()});
  EXPECT_EQ(stopped.exit, 1);
  EXPECT_EQ(stopped.out, "");
  EXPECT_EQ(stopped.err, "Tervane: not running (STOPPED)\n");
}

TEST_F(HealthCheck, ASocketOfAnotherProgramOnTheReceivePortIsNoListenerOfTheService) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  // Taken before the service starts: its listener fails, and the service runs on without it.
  const int other = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(other, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(recv_port_);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(other, reinterpret_cast<const sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(Program("TervixSrv", {"-install_noMsg"}).exit, 0);
  ProgramRun start = Program("tervane-svc", {"start", "--wait"});
  const std::optional<svc::ProcessId> service = ServiceProcess();
  ASSERT_EQ(start.exit, 0) << start.err << ServiceLog();
  ASSERT_TRUE(service.has_value());

  // The service runs as this test's user, whose check may read the service's descriptors and
  // so tells the sockets apart.
  ProgramRun check = Program("tervane-svc", {"check", "--folder", folder_.string()});
  close(other);
  EXPECT_EQ(check.exit, 1);
  EXPECT_EQ(check.err, "Tervane: 127.0.0.1:" + std::to_string(recv_port_) +
                           " is bound by another program, not by the service (pid " +
                           std::to_string(service->pid) + ")\n");
}

TEST_F(HealthCheck, FindsTheListenerOnAnIpv6AddressAndOnEveryAddress) {
  if (!snmp::IsLocalAddress("::1")) GTEST_SKIP() << "this machine has no ::1 to receive on";
  // :: receives both families on one socket, which the kernel lists in its udp6 table.
  for (const char* address : {"::1", "::"}) {
    SCOPED_TRACE(address);
    RelayConfig config;
    config.recv_ip = address;
    ASSERT_NO_FATAL_FAILURE(Configure(config));
    if (std::string(address) == "::1") {
      ASSERT_EQ(Program("TervixSrv", {"-install_noMsg"}).exit, 0);
    }
    ProgramRun start = Program("tervane-svc", {"start", "--wait"});
    ServiceProcess();
    ASSERT_EQ(start.exit, 0) << start.err << ServiceLog();

    ProgramRun healthy = Program("tervane-svc", {"check", "--folder", folder_.string()});
    EXPECT_EQ(healthy.exit, 0) << healthy.err << ServiceLog();
    const std::string endpoint = "[" + std::string(address) + "]:" + std::to_string(recv_port_);
    EXPECT_EQ(healthy.out.rfind("Tervane: running, listening on " + endpoint + ", ", 0), 0u)
        << healthy.out;
    ASSERT_EQ(Program("tervane-svc", {"stop", "--wait"}).exit, 0);
  }
}

}  // namespace
}  // namespace tervane::testing
