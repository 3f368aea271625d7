#include "store/statement.h"

#include <climits>
#include <string>
#include <utility>

namespace tervane::store {

Status SqliteError(sqlite3* db, int rc, std::string_view file, std::string_view doing) {
  // The connection's message belongs to this failure only if its code is this one; a
  // failure reported without a connection (or an out-of-memory one) has only the generic
  // text.
  const char* text =
      (db != nullptr && sqlite3_errcode(db) == rc) ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  std::string description(file);
  description += ": ";
  if (!doing.empty()) {
    description += doing;
    description += ": ";
  }
  description += text;
  return Status::Error(SqliteCode(rc), std::move(description));
}

Result<Statement> Statement::Prepare(sqlite3* db, std::string_view file, std::string_view sql,
                                     std::string_view* tail) {
  if (sql.size() > static_cast<size_t>(INT_MAX)) {
    return SqliteError(db, SQLITE_TOOBIG, file, "preparing a statement");
  }
  sqlite3_stmt* stmt = nullptr;
  const char* rest = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt, &rest);
  if (rc != SQLITE_OK) return SqliteError(db, rc, file, "preparing a statement");
  if (tail != nullptr) *tail = sql.substr(static_cast<size_t>(rest - sql.data()));
  return Statement(db, file, stmt);
}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), file_(other.file_), stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    db_ = other.db_;
    file_ = other.file_;
    stmt_ = std::exchange(other.stmt_, nullptr);
  }
  return *this;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Status Statement::Bind(int index, const Value& value) {
  int rc;
  if (value.is_integer()) {
    rc = sqlite3_bind_int64(stmt_, index, value.integer());
  } else if (value.is_real()) {
    rc = sqlite3_bind_double(stmt_, index, value.real());
  } else if (value.is_text()) {
    return Bind(index, std::string_view(value.text()));
  } else {
    rc = sqlite3_bind_null(stmt_, index);
  }
  if (rc != SQLITE_OK) return SqliteError(db_, rc, file_, "binding a value");
  return Status::Ok();
}

Status Statement::Bind(int index, std::string_view text) {
  int rc =
      sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) return SqliteError(db_, rc, file_, "binding a value");
  return Status::Ok();
}

Status Statement::BindView(int index, std::string_view text) {
  int rc = sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
  if (rc != SQLITE_OK) return SqliteError(db_, rc, file_, "binding a value");
  return Status::Ok();
}

void Statement::ClearBindings() { sqlite3_clear_bindings(stmt_); }

Result<bool> Statement::Step() {
  if (stmt_ == nullptr) return false;
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Status error = SqliteError(db_, rc, file_, "");
  sqlite3_reset(stmt_);
  return error;
}

Status Statement::Run() {
  for (;;) {
    Result<bool> row = Step();
    if (!row.ok()) return row.status();
    if (!*row) return Status::Ok();
  }
}

void Statement::Reset() { sqlite3_reset(stmt_); }

Value Statement::Column(int index) const {
  // The type is only meaningful before any fetch converts the value, so read it first.
  const int type = sqlite3_column_type(stmt_, index);
  switch (type) {
    case SQLITE_INTEGER:
      return Value(static_cast<int64_t>(sqlite3_column_int64(stmt_, index)));
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(stmt_, index));
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      // Bytes first, then their count: the count is of the form fetched last.
      const void* bytes = type == SQLITE_TEXT
                              ? static_cast<const void*>(sqlite3_column_text(stmt_, index))
                              : sqlite3_column_blob(stmt_, index);
      int size = sqlite3_column_bytes(stmt_, index);
      if (bytes == nullptr || size <= 0) return Value(std::string());
      return Value(std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)));
    }
    default:
      return Value();
  }
}

}  // namespace tervane::store
