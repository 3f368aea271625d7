// The service's SNMPv3 part: the users and this relay's engine read at start, and the events of
// the messages that the security checks drop.
#include <chrono>
#include <string>

#include "service/relay/counters.h"
#include "service/relay/debug_records.h"
#include "service/snmp/ip_text.h"
#include "service/snmp/usm.h"
#include "service/tervix_service.h"
#include "store/store.h"
#include "store/v3_users.h"

namespace tervane {

static_assert(snmp::usm::kDropReasons == relay::kSecurityDrops);

bool TervixService::SetUpSecurity(store::Store& db) {
  Result<std::vector<store::V3UserRow>> rows = db.ReadV3Users();
  if (!rows.ok()) {
    FailStart(rows.status(), &db, kExitFailed);
    return false;
  }
  Result<std::vector<store::V3User>> users = store::V3UsersFromRows(*rows);
  if (!users.ok()) {
    FailStart(users.status(), &db, kExitBadConfiguration);
    return false;
  }
  Result<store::EngineState> engine = db.ReadEngine();
  if (!engine.ok()) {
    FailStart(engine.status(), &db, kExitBadConfiguration);
    return false;
  }
  // A start counts before anything is answered, so that no engine that heard this relay
  // before takes its answers for replays.
  Result<uint32_t> boots = db.NextEngineBoots();
  if (!boots.ok()) {
    FailStart(boots.status(), &db, kExitFailed);
    return false;
  }
  std::vector<snmp::usm::User> configured;
  configured.reserve(users->size());
  for (store::V3User& user : *users) {
    configured.push_back({std::move(user.name), std::move(user.engine_id), user.auth, user.auth_key,
                          user.priv, user.priv_key});
  }
  security_.emplace(snmp::usm::LocalEngine{std::move(engine->id), *boots, SteadyMs()},
                    std::move(configured));
  snmpManager_.SetSecurity(&*security_);
  snmpManager_.SetSecurityDropHandler(
      [this](snmp::usm::Drop drop, std::string_view user, const snmp::IpAddress& from) {
        OnSecurityDrop(drop, user, from);
      });
  return true;
}

void TervixService::OnSecurityDrop(snmp::usm::Drop drop, std::string_view user,
                                   const snmp::IpAddress& from) {
  const size_t reason = static_cast<size_t>(drop);
  // One event a minute for each reason, counting those that it did not name.
  DropEvents& events = security_events_[reason];
  const int64_t now = SteadyMs();
  if (events.logged && now - events.last_ms < kSecurityEventPeriodMs) {
    ++events.unnamed;
    return;
  }
  std::string text = "Dropped an SNMPv3 message from " + snmp::FormatAddress(from);
  if (!user.empty()) {
    text.append(" for the user \"").append(relay::Printable(user)).append("\"");
  }
  text.append(": ").append(snmp::usm::DropText(drop)).append(".");
  if (events.unnamed > 0) {
    text.append(" ")
        .append(std::to_string(events.unnamed))
        .append(events.unnamed == 1 ? " more was" : " more were")
        .append(" dropped so since the last such event.");
  }
  host_.LogEvent(host::kEventWarning, 107, text);
  events = {true, now, 0};
}

}  // namespace tervane
