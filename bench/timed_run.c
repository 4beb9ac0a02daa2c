/* Runs a command COUNT times (default 1) with its output thrown away and prints the wall time
 * of each run in nanoseconds, one line each: from just before fork to just after the wait. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int main(int argc, char** argv) {
  int first = 1;
  long count = 1;
  if (argc > 2 && strcmp(argv[1], "-n") == 0) {
    count = strtol(argv[2], NULL, 10);
    first = 3;
  }
  if (first >= argc || count < 1) {
    fprintf(stderr, "usage: %s [-n COUNT] COMMAND [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd < 0) {
    perror("/dev/null");
    return 1;
  }
  int worst = 0;
  for (long run = 0; run < count; ++run) {
    const long long start = now_ns();
    const pid_t pid = fork();
    if (pid < 0) {
      perror("fork");
      return 1;
    }
    if (pid == 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      execvp(argv[first], argv + first);
      _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) {
      perror("waitpid");
      return 1;
    }
    const long long elapsed = now_ns() - start;
    printf("%lld\n", elapsed);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) worst = 1;
  }
  return worst;
}
