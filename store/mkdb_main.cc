// tervane_mkdb: makes the settings database of a program folder at build time.
//
//   tervane_mkdb <path of Tervix.mdb>
//
// Creates the file from the schema, with the default settings row, only when it is missing:
// an existing file holds a user's settings and is never touched. Exit status 0 when the
// file exists afterwards, 1 when it could not be made, 2 on a usage error.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/file.h"
#include "store/store.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tervane_mkdb <path of Tervix.mdb>\n");
    return 2;
  }
  tervane::KeepGroupWritable();  // the service and the window's users share the file
  const std::string path = argv[1];
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return 0;  // kept: a rebuild never resets settings
  tervane::Status made = tervane::store::Store::Create(path);
  if (!made.ok()) {
    std::fprintf(stderr, "tervane_mkdb: %s\n", made.ToString().c_str());
    return 1;
  }
  std::printf("tervane_mkdb: created %s\n", path.c_str());
  return 0;
}
