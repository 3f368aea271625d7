// The page "General Settings": reading the General_Setting row and the relay option shown
// with it, and storing what the user changed in them.
#include <optional>
#include <string>
#include <vector>

#include "config/row_writer.h"
#include "config/tervix_model.h"
#include "store/convert.h"
#include "store/number_text.h"
#include "store/store.h"

namespace tervane::config {

Status TervixModel::ReadGeneral() {
  Result<store::Store> db = store::Store::Open(folder_, access_);
  if (!db.ok()) return db.status();
  Result<store::SettingsRow> row = db->ReadSettings();
  // The file and its tables are there, the row is not: removed by another program.
  if (!row.ok() && row.status().error() == kErrorNotFound) {
    return Status::Error(kErrorRowGone, row.status().description());
  }
  if (!row.ok()) return row.status();
  auto flag = [&](const char* column) {
    Result<bool> on = store::ToBoolean(row->ByName(column), column);
    return on.ok() && *on;
  };
  general_.DebugMode = flag("DebugMode");
  general_.TrapRecvIpAddr = row->ByName("TrapRecvIpAddr").AsText();
  general_.TrapRecvPort = row->ByName("TrapRecvPort").AsText();
  general_.TrapRecvStatus = row->ByName("TrapRecvStatus").AsText();
  general_.TrapForwIpAddr = row->ByName("TrapForwIpAddr").AsText();
  general_.TrapForwPort = row->ByName("TrapForwPort").AsText();
  general_.ConvV2ToV1 = flag("ConvV2ToV1");
  // A file older than version 2 has no options: each reads as the relay runs with it.
  Result<std::vector<store::RelayOption>> options = db->ReadRelayOptions();
  if (!options.ok()) return options.status();
  // A file older than version 3 has no storm control: shown off, and not to be changed.
  if (Status read = storm_.Read(*db, *options); !read.ok()) return read;
  general_stored_ = general_;
  source_address_.Read(*options);
  return Status::Ok();
}

std::optional<Refusal> TervixModel::SaveGeneralSetting(bool skip_refused) {
  if (read_only()) return std::nullopt;
  // The status is the service's, and never written; the address only when the user changed
  // it, so that an address the service bound meanwhile is kept.
  const GeneralFields& now = general_;
  GeneralFields& was = general_stored_;
  RowWriter row(skip_refused);
  row.Flag(now.DebugMode, was.DebugMode, "DebugMode");
  row.Address(now.TrapRecvIpAddr, was.TrapRecvIpAddr, "TrapRecvIpAddr", true,
              "Receive Traps On, IP Address", Field{FieldKind::kTrapRecvIpAddr});
  row.Number(now.TrapRecvPort, was.TrapRecvPort, "TrapRecvPort", store::kPortRange,
             "Receive Traps On, Port", Field{FieldKind::kTrapRecvPort});
  // Every forward address but 0.0.0.0, which names no destination.
  row.Address(now.TrapForwIpAddr, was.TrapForwIpAddr, "TrapForwIpAddr", false,
              "Forward Traps To, IP Address", Field{FieldKind::kTrapForwIpAddr});
  row.Number(now.TrapForwPort, was.TrapForwPort, "TrapForwPort", store::kPortRange,
             "Forward Traps To, Port", Field{FieldKind::kTrapForwPort});
  row.Flag(now.ConvV2ToV1, was.ConvV2ToV1, "ConvV2ToV1");
  // Storm control's numbers are checked with the row's: a refused one keeps the row unwritten,
  // as a refused value of the row does.
  if (std::optional<Refusal> storm = storm_.Check()) row.Refuse(storm->why, *storm->field);
  std::optional<Refusal> refused = row.Finish([&](const store::ColumnValues& columns) {
    Result<store::Store> db = store::Store::Open(folder_, access_);
    return db.ok() ? db->WriteSettings(columns) : db.status();
  });
  // The option and storm control go with the row: not when a value is refused (the page is
  // not left), but when the refused values are discarded and the other edits stored; and only
  // what the user changed, so that a value another program wrote meanwhile stays.
  const bool row_stored = !refused || (skip_refused && refused->field);
  const std::optional<std::string> option = source_address_.Edited();
  if (row_stored && (option || storm_.edited())) {
    Result<store::Store> db = store::Store::Open(folder_, access_);
    Status written = db.status();
    if (db.ok() && option) {
      written = db->WriteRelayOption(source_address_.name(), *option);
      if (written.ok()) source_address_.Stored();
    }
    if (db.ok() && written.ok()) written = storm_.Write(*db);
    if (!written.ok() && !refused) refused = Refusal{written, std::nullopt};
  }
  if (refused && refused->why.error() == kErrorRowGone) {
    EndWithoutSettings(refused->why);
    return std::nullopt;
  }
  return refused;
}

}  // namespace tervane::config
