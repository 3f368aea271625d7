// A counting allocator, loaded into a process with LD_PRELOAD (the relay tests and the relay
// benchmark start TervixSrv with it): it counts every allocation the process makes (malloc,
// calloc, realloc, the aligned forms, and through them C++'s operator new) and hands each on
// to the C library's allocator unchanged.
//
// The counts live in a file named in TERVANE_ALLOC_COUNTS, mapped shared, so that whoever
// started the process reads them from outside at any moment without its help: two 64-bit
// words, the number of allocations and the bytes asked for. Without the variable, or
// when the file cannot be mapped, the library only passes the calls on. It is meant for
// single-threaded relays (the counts are plain increments).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);                   // NOLINT(bugprone-reserved-identifier)
void* __libc_calloc(size_t count, size_t size);     // NOLINT(bugprone-reserved-identifier)
void* __libc_realloc(void* old, size_t size);       // NOLINT(bugprone-reserved-identifier)
void* __libc_memalign(size_t alignment, size_t n);  // NOLINT(bugprone-reserved-identifier)
}

namespace {

struct Counts {
  uint64_t allocations;
  uint64_t bytes;
};

// Counts made before the file is mapped (the dynamic loader and the C library allocate
// before any constructor runs) are kept here and carried over.
Counts g_early{};
Counts* g_counts = &g_early;

void Count(size_t size) {
  ++g_counts->allocations;
  g_counts->bytes += size;
}

// Maps the file named by TERVANE_ALLOC_COUNTS. Nothing here allocates: getenv, open,
// ftruncate and mmap are plain system calls or reads.
__attribute__((constructor)) void MapCounts() {
  const char* path = std::getenv("TERVANE_ALLOC_COUNTS");
  if (path == nullptr || *path == '\0') return;
  const int saved_errno = errno;
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    if (ftruncate(fd, sizeof(Counts)) == 0) {
      void* mapped = mmap(nullptr, sizeof(Counts), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (mapped != MAP_FAILED) {
        auto* counts = static_cast<Counts*>(mapped);
        *counts = g_early;
        g_counts = counts;
      }
    }
    close(fd);
  }
  errno = saved_errno;
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
  Count(size);
  return __libc_malloc(size);
}

void* calloc(size_t nmemb, size_t size) {
  Count(nmemb * size);
  return __libc_calloc(nmemb, size);
}

void* realloc(void* ptr, size_t size) {
  Count(size);
  return __libc_realloc(ptr, size);
}

void* memalign(size_t alignment, size_t size) {
  Count(size);
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  Count(size);
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** memptr, size_t alignment, size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  Count(size);
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *memptr = p;
  return 0;
}

}  // extern "C"
