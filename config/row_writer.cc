#include "config/row_writer.h"

#include <algorithm>
#include <cstdint>

#include "service/snmp/value_text.h"

namespace tervane::config {
namespace {

Status NotAnAddress(const std::string& what, const std::string& text) {
  return Status::Error(kErrorInvalidArgument,
                       what + ": " + snmp::QuoteText(text) + " is not an IPv4 address (a.b.c.d)");
}

}  // namespace

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
  uint8_t octets[4];
  if (snmp::ParseIpText(now, octets) != nullptr ||
      (!any_allowed && std::all_of(octets, octets + 4, [](uint8_t o) { return o == 0; }))) {
    return Refuse(NotAnAddress(what, now), field);
  }
  columns_.emplace_back(column, store::Value(now));
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
