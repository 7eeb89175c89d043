// strikecountd-glm-reader FILE: reads one GLM L2 LCFA file and writes the flashes to standard
// output in the form ReadGlmFileIsolated decodes. strikecountd starts one for each file, so that
// a file which makes the netCDF or HDF5 library crash, hang or run away with memory costs only
// this short-lived process.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "glm_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s GLM-FILE (the answer goes to standard output)\n", argv[0]);
    return 2;
  }
  const rlimit memory{2UL << 30, 2UL << 30}, no_core{0, 0};
  ::setrlimit(RLIMIT_AS, &memory);
  ::setrlimit(RLIMIT_CORE, &no_core);
  const std::string answer = strikecount::EncodeGlmReadResult(strikecount::ReadGlmFile(argv[1]));
  const char* p = answer.data();
  size_t left = answer.size();
  while (left > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return 0;
}
