// The debug files in the program folder. Every record is appended by opening the file,
// writing the whole record in one write and closing it again, so no file stays open
// between records and records never interleave.
#ifndef TERVANE_SERVICE_RELAY_DEBUG_LOG_H_
#define TERVANE_SERVICE_RELAY_DEBUG_LOG_H_

#include <string>

#include "platform/status.h"

namespace tervane::relay {

inline constexpr char kDebugFile[] = "Debug.txt";
inline constexpr char kDebugErrorFile[] = "Debug-Error.txt";

// Appends `record` to `path`, creating the file when missing. On failure the file may hold
// part of the record; the Status names the file.
Status AppendRecord(const std::string& path, const std::string& record);

// Deletes `path` when it exists. A missing file is not an error.
Status DeleteIfExists(const std::string& path);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_DEBUG_LOG_H_
