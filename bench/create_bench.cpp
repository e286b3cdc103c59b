// What making n files of 1 KB in an empty folder costs, three ways: under
// their names at once (the floor), under a temporary name renamed into place
// without replacing (what extraction does), and unnamed (O_TMPFILE), linked
// under the name once written. Linux only; compare system times:
//
//   /usr/bin/time -f %S build/release/bench/create_bench direct|rename|tmpfile FOLDER 20000
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Fail(const char* what) {
  std::perror(what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: create_bench direct|rename|tmpfile FOLDER N\n");
    return 2;
  }
  const std::string how = argv[1];
  const int n = std::atoi(argv[3]);
  const int dir = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return Fail(argv[2]);
  char data[1024];
  std::memset(data, 'x', sizeof data);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) {
    char name[32];
    char temp[32];
    std::snprintf(name, sizeof name, "f%d", i);
    std::snprintf(temp, sizeof temp, ".t%d", i);
    constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    const int fd = how == "tmpfile" ? openat(dir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666)
                                    : openat(dir, how == "rename" ? temp : name, kCreate, 0666);
    if (fd < 0) return Fail("create");
    if (write(fd, data, sizeof data) != static_cast<ssize_t>(sizeof data) || futimens(fd, nullptr) != 0)
      return Fail("write");
    if (how == "tmpfile") {
      // AT_EMPTY_PATH would need CAP_DAC_READ_SEARCH; the /proc path does not.
      char self[40];
      std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
      if (linkat(AT_FDCWD, self, dir, name, AT_SYMLINK_FOLLOW) != 0) return Fail("linkat");
    }
    close(fd);
    if (how == "rename" && renameat2(dir, temp, dir, name, RENAME_NOREPLACE) != 0)
      return Fail("renameat2");
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%s: %d files, %.1f us each\n", how.c_str(), n, took.count() / n * 1e6);
  return 0;
}
