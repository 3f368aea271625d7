// The layouts of the settings database and the steps between them.
//
// PRAGMA user_version holds a file's schema version. Version 0 is the layout of schema.sql:
// General_Setting and SnmpTrap. Each later version is one step from the version before it,
// listed in order in schema.cc; a new file is made at version 0 and taken through every step,
// so a new file and an upgraded one have the same layout.
#ifndef TERVANE_STORE_SCHEMA_H_
#define TERVANE_STORE_SCHEMA_H_

#include <string>
#include <string_view>

#include "platform/status.h"

struct sqlite3;

namespace tervane::store::schema {

// Runs every statement of `script` on `db`.
Status RunScript(sqlite3* db, const std::string& path, std::string_view script);

// Writes the upgraded value of every relay option that schema version `version` added.
Status WriteOptionDefaults(sqlite3* db, const std::string& path, int version);
// Gives a file just made at kSchemaVersion the options of a new database.
Status SetNewFileOptions(sqlite3* db, const std::string& path);
// The schema version of the file open in `db`.
Result<int> ReadVersion(sqlite3* db, const std::string& path);

// kErrorNewerSchema for a file of `version`, newer than this program reads.
Status NewerVersionError(const std::string& path, int version);

// Takes the file open in `db` from `version` to kSchemaVersion, inside the caller's write
// transaction, setting user_version after each step. With `backup`, the file as it is (version
// N, what is still in its -wal file included) is first written to path + ".vN.bak" with
// SQLite's online backup; a backup that fails stops the upgrade. The versions between N and
// kSchemaVersion exist only inside the transaction and never on disk, so they need none.
Status Upgrade(sqlite3* db, const std::string& path, int version, bool backup);

// Makes the empty file `path` (refusing one that exists, and never through a link) with
// exactly kDatabaseMode, in group kDatabaseGroup when that group exists and this process may
// give the file to it.
Status MakeFile(const std::string& path);

}  // namespace tervane::store::schema

#endif  // TERVANE_STORE_SCHEMA_H_
