#include "config/row_writer.h"

#include <cstdint>

#include "service/snmp/ip_text.h"
#include "store/station_rules.h"

namespace tervane::config {

void RowWriter::Text(const std::string& now, std::string& was, const std::string& column) {
  if (now == was || !going()) return;
  columns_.emplace_back(column, store::Value(now));
  updates_.emplace_back(&now, &was);
}

void RowWriter::Number(const std::string& now, std::string& was, const std::string& column,
                       const store::NumberRange& range, const std::string& what,
                       const Field& field) {
  if (now == was || !going()) return;
  Result<int64_t> n = store::ParseNumberText(now, store::NumberStyle::kWhole, range, what);
  if (!n.ok()) return Refuse(n.status(), field);
  columns_.emplace_back(column, store::Value(*n));
  updates_.emplace_back(&now, &was);
}

void RowWriter::Flag(const bool& now, bool& was, const std::string& column) {
  if (now == was || !going()) return;
  columns_.emplace_back(column, store::Value(now ? 1 : 0));
  flags_.emplace_back(&now, &was);
}

void RowWriter::Address(const std::string& now, std::string& was, const std::string& column,
                        bool any_allowed, const std::string& what, const Field& field) {
  if (now == was || !going()) return;
  // The rule the service and tervane-svc apply to the same value, in the same words.
  if (Status s = store::CheckAddressText(now, any_allowed, what); !s.ok()) return Refuse(s, field);
  columns_.emplace_back(column, store::Value(snmp::CanonicalAddressText(now)));
  updates_.emplace_back(&now, &was);
}

std::optional<Refusal> RowWriter::Finish(
    const std::function<Status(const store::ColumnValues&)>& write) {
  if (!going()) return refusal_;
  if (!columns_.empty()) {
    if (Status s = write(columns_); !s.ok()) return Refusal{s, std::nullopt};
  }
  for (auto& [now, was] : updates_) *was = *now;
  for (auto& [now, was] : flags_) *was = *now;
  return refusal_;
}

}  // namespace tervane::config
