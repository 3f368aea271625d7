// Settings that every read-write connection to Tervix.mdb gets, whoever opens it.
#ifndef TERVANE_STORE_CONNECTION_H_
#define TERVANE_STORE_CONNECTION_H_

#include <string>

struct sqlite3;

namespace tervane::store {

// In a sticky folder (the shared program folder) the last connection to close leaves
// Tervix.mdb-wal and -shm in place, emptied, instead of deleting them: there they belong to the
// folder's owner, whom the kernel requires as the owner of other users' files that SQLite
// opens with O_CREAT (fs.protected_regular = 2).
void PersistWalInStickyFolder(sqlite3* db, const std::string& folder);

}  // namespace tervane::store

#endif  // TERVANE_STORE_CONNECTION_H_
