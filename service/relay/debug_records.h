// The text of the debug records and status texts: pure formatting, byte for byte, with CR LF
// line ends. The caller passes the time stamp in and writes the records to their files.
//
// Every value a record prints (a received binding's value, but also the community, the
// agent address an SNMPv2 sender may fill with any text, a stored trap OID) is printed with
// CR, LF, TAB and NUL shown as blanks, so that each stays on its line; what is stored and
// sent keeps the received bytes.
#ifndef TERVANE_SERVICE_RELAY_DEBUG_RECORDS_H_
#define TERVANE_SERVICE_RELAY_DEBUG_RECORDS_H_

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/relay/trap_state.h"
#include "service/snmp/message.h"

namespace tervane::relay {

inline constexpr char kHeaderTrapIn[] = "*** SNMP Trap In ***  ";
inline constexpr char kHeaderWrapped[] = "*** SNMP Trap Out (Wrapped) ***  ";
inline constexpr char kHeaderNotWrapped[] = "*** SNMP Trap Out (Not Wrapped) ***  ";
inline constexpr char kHeaderNullValues[] = "*** SNMP Trap In With NullValues ***  ";
inline constexpr char kHeaderTrapDb[] = "*** SNMP Trap DB *** ";

// Local time as "YYYY-MM-DD HH:MM:SS".
std::string TimeStamp(std::time_t when);

// `value` with CR, LF, TAB and NUL replaced by blanks.
std::string Printable(std::string_view value);

// Status texts of the listener and the agent.
std::string StartedStatus(const std::string& stamp, const char* what, const std::string& ip,
                          unsigned port);
// "Failed to Start" and, when not empty, the cause line.
std::string FailedStatus(const std::string& stamp, const std::string& cause);
// The listener's while it waits for its port to be free: "Waiting to Listen" (or `what`: the
// agent's debug record says "SNMP Agent Waiting to Start") and the cause line ("Port was in
// use").
std::string WaitingStatus(const std::string& stamp, const std::string& cause,
                          const char* what = "Waiting to Listen");
// The last line of a listening status when no interface of the machine has the address yet.
inline constexpr char kAddressNotHereYet[] = "The address is not on this machine yet";
// The listener's once it listens: StartedStatus's "Trap Server Started" text, and
// kAddressNotHereYet on a line of its own when `address_here` is false.
std::string ListeningStatus(const std::string& stamp, const std::string& ip, unsigned port,
                            bool address_here);

// Why a socket waits to bind: "port 162 on 0.0.0.0 is in use", or for an ephemeral port (0)
// "no free port on 10.0.0.1".
std::string PortInUseCause(const std::string& ip, unsigned port);
// Event 107's text when a socket that waited for its port has bound: "SNMP Trap Server
// Started on 0.0.0.0:162 after waiting 14 seconds for the port", an IPv6 address in brackets
// ("[::]:162"); `what` "SNMP Trap Server" or "SNMP Agent".
std::string StartedAfterWaitingText(const char* what, const std::string& ip, unsigned port,
                                    long long seconds);

// What the service manager's one status line says of the listener and the agent.
struct RunStatus {
  std::string ip;  // the listener's address and port: configured, or bound once it listens
  unsigned port = 0;
  std::string not_listening;  // why the listener did not open and will not try again
  std::string listen_wait;    // why the listener waits to open (PortInUseCause)
  bool address_here = true;   // some interface has the listener's address
  std::string not_sending;    // why the agent did not open and will not try again
  std::string send_wait;      // why the agent waits to open
};
// The line: "Not listening: " and why; or "Waiting to listen: " and why; or "Listening on
// IP:PORT" ("[IPV6]:PORT"), with " (the address is not on this machine yet)" when no interface has
// it, then
// "; not sending: " or "; waiting to send: " and why when the agent is not open.
std::string RunStatusText(const RunStatus& status);

// Start status record: the status text, a line end and an empty line.
std::string StartStatusRecord(const std::string& status);

// One binding as a record lists it.
struct DumpVar {
  std::string_view oid;
  std::string_view value;
  int32_t type;
};

// Head fields of a trap dump (lines 2 to 7).
struct DumpHead {
  std::string_view version;
  std::string_view oid;
  std::string_view source_agent;
  std::string_view source_network;
  std::string_view community;
  std::optional<uint32_t> sys_up_time;  // printed empty when there is none
  std::string_view user_name;           // an SNMPv3 trap's: a line of its own after the community
};

// header + stamp, the six head lines (seven with a user name), three lines per binding numbered
// from 1, one empty line.
std::string TrapDump(const char* header, const std::string& stamp, const DumpHead& head,
                     const std::vector<DumpVar>& vars);

// The received bindings 1 to TrapVarCount, and the bindings of a built message (without the
// sysUpTime.0 and snmpTrapOID.0 that head an SNMPv2 trap).
std::vector<DumpVar> TrapVars(const CurrentTrap& trap);
std::vector<DumpVar> MessageVars(const snmp::Message& message);
std::vector<DumpVar> MessageVars(const snmp::MessageView& message);

std::string TrapInRecord(const std::string& stamp, const CurrentTrap& trap);

// The record of a trap sent on: wrapped by `definition` (header kHeaderWrapped, the wrapped
// trap's OID) or, with `definition` null, forwarded (kHeaderNotWrapped, the received OID).
// The head names the version sent ("SNMPv1Trap" after conversion, else the received one),
// the agent address that a converted trap carries (V1AgentAddress) or the received one, the
// listener's own address `receive_address` as TrapSourceNetwork, and the received
// community and sysUpTime. `vars` are the bindings sent (MessageVars of the built message).
// A station's own `community`, when not empty, is shown in place of the received one.
std::string SentRecord(const std::string& stamp, const CurrentTrap& trap,
                       const TrapDefinition* definition, bool to_v1,
                       const std::string& receive_address, const std::vector<DumpVar>& vars,
                       std::string_view community = {});

// `record` with the line "TrapDestination=" + `endpoint` after its first line: the record of
// a trap sent to one of several stations.
std::string WithDestination(std::string record, std::string_view endpoint);

// The record of a forwarded trap that could not be sent: SentRecord's head with the
// received bindings, then the sender's name `module` and the reason.
std::string NotSentRecord(const std::string& stamp, const CurrentTrap& trap, bool to_v1,
                          const std::string& receive_address, const char* module,
                          const std::string& error);
std::string NullValuesRecord(const std::string& stamp, const std::string& null_list);
std::string DefinitionListRecord(const DefinitionTable& table);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_DEBUG_RECORDS_H_
