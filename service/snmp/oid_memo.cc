#include "service/snmp/oid_memo.h"

namespace tervane::snmp {

void OidMemo::Remember(std::span<const uint8_t> ber, std::string_view text, bool canonical_text) {
  if (ber.size() > kMaxBer || text.size() > kMaxText) return;
  if (canonical_text) Fill(&by_ber_[Slot(ber.data(), ber.size())], ber, text);
  Fill(&by_text_[Slot(reinterpret_cast<const uint8_t*>(text.data()), text.size())], ber, text);
}

void OidMemo::Fill(Entry* entry, std::span<const uint8_t> ber, std::string_view text) {
  entry->ber_length = static_cast<uint8_t>(ber.size());
  entry->text_length = static_cast<uint8_t>(text.size());
  std::memcpy(entry->ber, ber.data(), ber.size());
  std::memcpy(entry->text, text.data(), text.size());
}

}  // namespace tervane::snmp
