// The program folder: the folder of the running executable. Both programs keep their
// settings database, debug files and documents there, so every such path starts here.
#ifndef TERVANE_PLATFORM_PROGRAM_FOLDER_H_
#define TERVANE_PLATFORM_PROGRAM_FOLDER_H_

#include <string>

namespace tervane {

// Absolute path of the folder that holds the running executable, without a trailing "/".
// Falls back to the current directory if /proc/self/exe cannot be read.
std::string ProgramFolder();

// folder + "/" + name.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace tervane

#endif  // TERVANE_PLATFORM_PROGRAM_FOLDER_H_
