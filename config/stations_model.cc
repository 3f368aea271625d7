#include "config/stations_model.h"

#include <algorithm>
#include <utility>

#include "config/model_fields.h"
#include "service/snmp/ip_text.h"
#include "store/convert.h"
#include "store/station_rules.h"

namespace tervane::config {
namespace {

bool FlagOf(const store::Value& value, bool fallback) {
  if (value.is_null()) return fallback;
  Result<bool> on = store::ToBoolean(value, "");
  return on.ok() && *on;
}

// "ADDRESS:PORT", an IPv6 address in brackets, as the service writes a station; a port written
// by hand that is no port number is shown as it is.
std::string Endpoint(const StationFields& station) {
  Result<uint16_t> port = store::ParsePortText(station.port, "");
  if (port.ok()) return snmp::FormatEndpoint(station.address, *port);
  std::string endpoint = snmp::FormatEndpoint(station.address, 0);
  endpoint.pop_back();
  return endpoint + station.port;
}

}  // namespace

std::string StationEntry(const StationFields& station) {
  std::string entry = Endpoint(station);
  if (station.to_v1) entry += "  SNMPv1";
  if (!station.community.empty()) entry += "  community \"" + station.community + "\"";
  if (!station.enabled) entry += "  (disabled)";
  return entry;
}

StationFields StationFieldsOf(const store::StationRow& row) {
  StationFields fields;
  fields.address = row.address.AsText();
  fields.port = row.port.AsText();
  fields.to_v1 = FlagOf(row.conv_v2_to_v1, false);
  fields.community = row.community.AsText();
  fields.enabled = FlagOf(row.enabled, true);
  return fields;
}

Status StationList::Read() {
  const int64_t was = selected_ >= 0 ? rows_[static_cast<size_t>(selected_)].id : 0;
  Result<store::Store> db = store::Store::Open(folder_, access_);
  if (!db.ok()) return db.status();
  Result<std::vector<store::StationRow>> rows = db->ReadStations();
  if (!rows.ok()) return rows.status();
  rows_ = std::move(*rows);
  fields_.clear();
  entries_.clear();
  for (const store::StationRow& row : rows_) {
    fields_.push_back(StationFieldsOf(row));
    entries_.push_back(StationEntry(fields_.back()));
  }
  const int place = selected_;
  selected_ = -1;
  SelectId(was);
  if (selected_ < 0 && place >= 0) Select(std::min(place, size() - 1));
  return Status::Ok();
}

void StationList::Select(int index) { selected_ = index >= 0 && index < size() ? index : -1; }

void StationList::SelectId(int64_t id) {
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].id == id) selected_ = static_cast<int>(i);
  }
}

void StationList::cmdStationAdd_Click() {
  if (!can_add()) return;
  StationFields fresh;
  fresh.port = "162";
  dialogs_.EditStation(kAddStationTitle, fresh,
                       [this](const StationFields& now) { return Store(now, 0, StationFields{}); });
}

void StationList::cmdStationEdit_Click() {
  if (!can_change()) return;
  const int64_t id = rows_[static_cast<size_t>(selected_)].id;
  const StationFields was = fields_[static_cast<size_t>(selected_)];
  dialogs_.EditStation(kEditStationTitle, was,
                       [this, id, was](const StationFields& now) { return Store(now, id, was); });
}

void StationList::cmdStationRemove_Click() {
  if (!can_change()) return;
  const store::StationRow row = rows_[static_cast<size_t>(selected_)];
  const std::string station = Endpoint(fields_[static_cast<size_t>(selected_)]);
  if (!dialogs_.AskYesNo("Remove the further station " + station +
                             "?\r\n\r\nThe service sends to it until it is next started.",
                         kTitleTervix, Icon::kQuestion)) {
    return;
  }
  Result<store::Store> db = store::Store::Open(folder_, access_);
  const Status removed = db.ok() ? db->DeleteStation(row.id) : db.status();
  if (!removed.ok()) return ReportAndRead(removed, station);
  if (Status read = Read(); !read.ok()) ReportAndRead(read, station);
}

StationVerdict StationList::Store(const StationFields& now, int64_t id, const StationFields& was) {
  const bool adding = id == 0;
  store::ColumnValues columns;
  // A refused value keeps the dialog open, the user's texts in it, the focus on the field.
  auto refuse = [this](const Status& why, StationField field) {
    dialogs_.Inform(why.description() + ".", kTitleTervix, Icon::kExclamation);
    return StationVerdict{false, field};
  };
  if (adding || now.address != was.address) {
    if (Status s = store::CheckAddressText(now.address, false, kStationAddressWhat); !s.ok()) {
      return refuse(s, StationField::kAddress);
    }
    columns.emplace_back("Address", store::Value(snmp::CanonicalAddressText(now.address)));
  }
  if (adding || now.port != was.port) {
    Result<uint16_t> port = store::ParsePortText(now.port, kStationPortWhat);
    if (!port.ok()) return refuse(port.status(), StationField::kPort);
    columns.emplace_back("Port", store::Value(static_cast<int64_t>(*port)));
  }
  if (adding || now.to_v1 != was.to_v1) {
    columns.emplace_back("ConvV2ToV1", store::Value(now.to_v1 ? 1 : 0));
  }
  if (adding || now.community != was.community) {
    columns.emplace_back("Community", store::Value(now.community));
  }
  if (adding || now.enabled != was.enabled) {
    columns.emplace_back("Enabled", store::Value(now.enabled ? 1 : 0));
  }
  if (columns.empty()) return {};

  Result<store::Store> db = store::Store::Open(folder_, access_);
  Status stored = db.status();
  int64_t stored_id = id;
  if (db.ok() && adding) {
    Result<int64_t> added = db->AddStation(columns);
    stored = added.status();
    if (added.ok()) stored_id = *added;
  } else if (db.ok()) {
    stored = db->UpdateStation(id, columns);
  }
  if (stored.error() == kErrorRowGone || stored.error() == kErrorOverflow) {
    ReportAndRead(stored, Endpoint(adding ? now : was));
    return {};
  }
  if (!stored.ok()) {
    // The file could not be written (locked too long, removed): the edit stays in the dialog,
    // to be tried again or cancelled.
    dialogs_.Inform("The further station could not be stored: " + stored.description(),
                    kTitleTervix, Icon::kCritical);
    return {false, StationField::kAddress};
  }
  if (Status read = Read(); !read.ok()) {
    ReportAndRead(read, Endpoint(now));
    return {};
  }
  SelectId(stored_id);
  return {};
}

void StationList::ReportAndRead(const Status& why, const std::string& station) {
  if (why.error() == kErrorRowGone) {
    dialogs_.Inform("The further station " + station +
                        " is no longer stored: another program removed it meanwhile. The list "
                        "now shows the stations as they are stored.",
                    kTitleTervix, Icon::kExclamation);
  } else if (why.error() == kErrorOverflow) {
    dialogs_.Inform("No further station can be added: Tervix.mdb holds " +
                        std::to_string(store::kMaxFurtherStations) +
                        " already, the most the service sends to besides the first.",
                    kTitleTervix, Icon::kExclamation);
  } else {
    dialogs_.Inform("The further stations could not be read or stored: " + why.description(),
                    kTitleTervix, Icon::kCritical);
    return;
  }
  (void)Read();
}

}  // namespace tervane::config
