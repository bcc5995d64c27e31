// sorbantilex-bench-measure PROGRAM [ARGUMENT...]: runs the program with its
// output thrown away and prints "SECONDS KIBIBYTES": its wall time, from
// start to end, to the microsecond, and its peak resident memory. Exits
// with the program's status. (/usr/bin/time gives hundredths of a second,
// too coarse for runs of tens of milliseconds.)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PROGRAM [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, STDOUT_FILENO);
    ::execvp(argv[1], argv + 1);
    std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("wait4");
      return 2;
    }
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.6f %ld\n", elapsed.count(), usage.ru_maxrss);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
