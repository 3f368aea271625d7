#include "service/relay/debug_log.h"

#include "platform/file.h"

namespace tervane::relay {

Status AppendRecord(const std::string& path, const std::string& record) {
  return AppendToFile(path, record);
}

Status DeleteIfExists(const std::string& path) { return DeleteFileIfExists(path); }

}  // namespace tervane::relay
