/* The least any safe rewrite of the configuration file can cost: the shell pipeline that
 * writes the new file, an fsync of it and a rename over the old one. The tool's own add and
 * remove commands are timed against this.
 *
 *   lumora_floor [-d] add SCRATCH CONFIG         uniq SCRATCH > NEW
 *   lumora_floor [-d] remove SCRATCH NAME CONFIG cat SCRATCH | sed s/'DEVICE=NAME .*$'// | uniq > NEW
 *
 * NEW is CONFIG with ".floor-new" appended, so it lives in the configuration directory like
 * the tool's own pending file. SCRATCH is prepared by the caller. With -d the directory is
 * synced after the rename as well, which the tool does so that the rename itself survives a
 * crash; timing both shows what that costs. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int fail(const char* what) {
  perror(what);
  return 1;
}

static int sync_directory_of(const char* path) {
  char dir[4096];
  const char* slash = strrchr(path, '/');
  if (slash == NULL || (size_t)(slash - path) + 2 > sizeof dir) return fail("directory");
  memcpy(dir, path, (size_t)(slash - path) + 1);
  dir[slash - path + 1] = '\0';
  const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail(dir);
  if (fsync(fd) != 0) return fail("fsync directory");
  close(fd);
  return 0;
}

int main(int argc, char** argv) {
  int sync_dir = 0;
  if (argc > 1 && strcmp(argv[1], "-d") == 0) {
    sync_dir = 1;
    --argc;
    ++argv;
  }
  char pending[4096];
  char command[16384];
  const char* config;
  int written;
  if (argc == 4 && strcmp(argv[1], "add") == 0) {
    config = argv[3];
    snprintf(pending, sizeof pending, "%s.floor-new", config);
    written = snprintf(command, sizeof command, "uniq %s > %s", argv[2], pending);
  } else if (argc == 5 && strcmp(argv[1], "remove") == 0) {
    config = argv[4];
    snprintf(pending, sizeof pending, "%s.floor-new", config);
    written = snprintf(command, sizeof command, "cat %s | sed s/'DEVICE=%s .*$'// | uniq > %s",
                       argv[2], argv[3], pending);
  } else {
    fprintf(stderr, "usage: %s [-d] add SCRATCH CONFIG | [-d] remove SCRATCH NAME CONFIG\n", argv[0]);
    return 2;
  }
  if (written < 0 || (size_t)written >= sizeof command) return fail("command too long");
  if (system(command) != 0) return fail("pipeline");
  const int fd = open(pending, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return fail(pending);
  if (fsync(fd) != 0) return fail("fsync");
  if (close(fd) != 0) return fail("close");
  if (rename(pending, config) != 0) return fail("rename");
  return sync_dir ? sync_directory_of(config) : 0;
}
