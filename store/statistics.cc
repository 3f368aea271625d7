#include "store/statistics.h"

#include <sqlite3.h>

#include <optional>
#include <utility>

#include "platform/program_folder.h"
#include "store/connection.h"
#include "store/schema.h"
#include "store/statement.h"
#include "store/store.h"

namespace tervane::store {

// The statements name the file by a view of `path`, which therefore stays in one place
// however the writer is moved.
struct StatisticsWriter::Statements {
  std::string path;
  std::optional<Statement> begin;
  std::optional<Statement> clear;
  std::optional<Statement> insert;
  std::optional<Statement> commit;
};

std::string UtcStamp(std::time_t t) {
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string(text, n);
}

StatisticsWriter::StatisticsWriter(sqlite3* db, std::string path)
    : db_(db), path_(std::move(path)) {}

StatisticsWriter::StatisticsWriter(StatisticsWriter&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)),
      path_(std::move(other.path_)),
      statements_(std::move(other.statements_)) {}

StatisticsWriter& StatisticsWriter::operator=(StatisticsWriter&& other) noexcept {
  if (this != &other) {
    statements_.reset();
    sqlite3_close_v2(db_);
    db_ = std::exchange(other.db_, nullptr);
    path_ = std::move(other.path_);
    statements_ = std::move(other.statements_);
  }
  return *this;
}

StatisticsWriter::~StatisticsWriter() {
  statements_.reset();  // finalized before the connection closes
  sqlite3_close_v2(db_);
}

Result<StatisticsWriter> StatisticsWriter::Open(const std::string& folder) {
  // The checks, and an upgrade of an old file, are the store's.
  Result<Store> store = Store::Open(folder);
  if (!store.ok()) return store.status();
  return Open(*store, folder);
}

Result<StatisticsWriter> StatisticsWriter::Open(const Store& checked, const std::string& folder) {
  std::string path = checked.path();
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  StatisticsWriter writer(db, std::move(path));
  if (rc != SQLITE_OK) return SqliteError(db, rc, writer.path_, "opening");
  // No busy timeout: a write that finds the file locked fails at once.
  PersistWalInStickyFolder(db, folder);
  Status set = schema::RunScript(db, writer.path_, "PRAGMA synchronous = NORMAL");
  if (!set.ok()) return set;
  auto statements = std::make_unique<Statements>();
  statements->path = writer.path_;
  auto prepare = [&](std::string_view sql) {
    return Statement::Prepare(db, statements->path, sql);
  };
  Result<Statement> begin = prepare("BEGIN IMMEDIATE");
  Result<Statement> clear = prepare("DELETE FROM RelayStatistics");
  Result<Statement> insert = prepare(
      "INSERT INTO RelayStatistics (Name, Label, Value, Since, Written) "
      "VALUES (?1, ?2, ?3, ?4, ?5)");
  Result<Statement> commit = prepare("COMMIT");
  for (const Status* s : {&begin.status(), &clear.status(), &insert.status(), &commit.status()}) {
    if (!s->ok()) return *s;
  }
  statements->begin = std::move(*begin);
  statements->clear = std::move(*clear);
  statements->insert = std::move(*insert);
  statements->commit = std::move(*commit);
  writer.statements_ = std::move(statements);
  return writer;
}

Status StatisticsWriter::Write(std::span<const Counter> counters, std::string_view since,
                               std::string_view written, int wait_ms) {
  sqlite3_busy_timeout(db_, wait_ms);
  Status done = WriteRows(counters, since, written);
  sqlite3_busy_timeout(db_, 0);
  return done;
}

Status StatisticsWriter::WriteRows(std::span<const Counter> counters, std::string_view since,
                                   std::string_view written) {
  Statement& begin = *statements_->begin;
  Statement& clear = *statements_->clear;
  Statement& insert = *statements_->insert;
  Statement& commit = *statements_->commit;
  for (Statement* statement : {&begin, &clear, &commit}) statement->Reset();
  if (Status begun = begin.Run(); !begun.ok()) {
    const int rc = begun.code() & 0xFF;
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
      return Status::Error(kErrorBusy, path_ +
                                           ": another program is writing; the counters are "
                                           "written next time");
    }
    return begun;
  }
  Status done = clear.Run();
  for (const Counter& c : counters) {
    if (!done.ok()) break;
    insert.Reset();
    done = insert.BindView(1, c.name);
    if (done.ok()) done = insert.BindView(2, c.label);
    // Stored as a signed 64-bit integer; no counter of this service reaches 2^63.
    if (done.ok()) done = insert.Bind(3, Value(static_cast<int64_t>(c.value)));
    if (done.ok()) done = insert.BindView(4, since);
    if (done.ok()) done = insert.BindView(5, written);
    if (done.ok()) done = insert.Run();
  }
  if (done.ok()) done = commit.Run();
  if (!done.ok()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  // The texts were bound without copies, and the caller's views go out of date now.
  insert.Reset();
  insert.ClearBindings();
  return done;
}

}  // namespace tervane::store
