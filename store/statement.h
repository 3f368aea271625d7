// The store's thin layer over the SQLite C API: one prepared statement at a time, and the
// one place where SQLite result codes become Status.
//
// Internal to the store library; nothing outside store/ includes SQLite.
#ifndef TERVANE_STORE_STATEMENT_H_
#define TERVANE_STORE_STATEMENT_H_

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "platform/status.h"
#include "store/value.h"

namespace tervane::store {

// Status for SQLite result code `rc`: code `rc`, description
// "<file>: <doing>: <SQLite's text>". SQLite's text is the connection's last error message
// when `db` has one for this failure, else the generic text of `rc`.
Status SqliteError(sqlite3* db, int rc, std::string_view file, std::string_view doing);

// A prepared statement on one connection; finalized on destruction. Movable, not copyable.
class Statement {
 public:
  // Prepares the first statement in `sql`; `tail`, when given, receives the rest of the
  // text, for running a script statement by statement. On failure nothing is left open.
  // `file` names the database in error messages and must outlive the statement.
  static Result<Statement> Prepare(sqlite3* db, std::string_view file, std::string_view sql,
                                   std::string_view* tail = nullptr);

  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  // Binds parameter `index` (1-based). Text is copied.
  Status Bind(int index, const Value& value);
  Status Bind(int index, std::string_view text);
  // Binds `text` without copying it: it must stay unchanged until the statement is bound anew
  // or ClearBindings is called.
  Status BindView(int index, std::string_view text);
  void ClearBindings();

  // Runs the statement one step: true when a row is ready, false when it is done. After a
  // failure the statement is reset and may be run again.
  Result<bool> Step();
  // Steps to the end, for statements that return no rows.
  Status Run();
  // Makes the statement ready to be bound and run again (its bindings are kept).
  void Reset();

  // Column `index` (0-based) of the current row; a BLOB reads as text of its bytes.
  Value Column(int index) const;

  // true when the statement had nothing to prepare (an empty or comment-only text).
  bool empty() const { return stmt_ == nullptr; }

 private:
  Statement(sqlite3* db, std::string_view file, sqlite3_stmt* stmt)
      : db_(db), file_(file), stmt_(stmt) {}

  sqlite3* db_;
  std::string_view file_;
  sqlite3_stmt* stmt_;
};

}  // namespace tervane::store

#endif  // TERVANE_STORE_STATEMENT_H_
