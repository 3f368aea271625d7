// RowWriter: collects the columns of one row to store, from the texts the user sees and the
// texts as they were read. Only what the user changed is written: a changed text as it is, a
// changed number checked and written as a number, a changed address checked and written in the
// form the programs write it. The first value
// that may not be stored is kept as the refusal; with `skip_refused` the refused values are
// left out and the others written all the same.
#ifndef TERVANE_CONFIG_ROW_WRITER_H_
#define TERVANE_CONFIG_ROW_WRITER_H_

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/model_fields.h"
#include "store/number_text.h"
#include "store/store.h"

namespace tervane::config {

class RowWriter {
 public:
  explicit RowWriter(bool skip_refused) : skip_refused_(skip_refused) {}

  // False once a value was refused and the row is not to be written.
  bool going() const { return skip_refused_ || !refusal_; }
  void Text(const std::string& now, std::string& was, const std::string& column);
  void Number(const std::string& now, std::string& was, const std::string& column,
              const store::NumberRange& range, const std::string& what, const Field& field);
  void Flag(const bool& now, bool& was, const std::string& column);
  // An IPv4 or IPv6 address, without a zone ID; 0.0.0.0 or :: only when `any_allowed`. IPv6
  // text is written in its RFC 5952 form, IPv4 text as typed.
  void Address(const std::string& now, std::string& was, const std::string& column,
               bool any_allowed, const std::string& what, const Field& field);
  void Refuse(const Status& why, const Field& field) {
    if (!refusal_) refusal_ = Refusal{why, field};
  }

  // Writes the columns with `write`; then what was written counts as stored. A failed write
  // is the refusal, without a field, and nothing counts as stored.
  std::optional<Refusal> Finish(const std::function<Status(const store::ColumnValues&)>& write);

 private:
  bool skip_refused_;
  std::optional<Refusal> refusal_;
  store::ColumnValues columns_;
  std::vector<std::pair<const std::string*, std::string*>> updates_;
  std::vector<std::pair<const bool*, bool*>> flags_;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_ROW_WRITER_H_
