/* The least any safe rewrite of the configuration file can cost: the shell pipeline that
 * writes the new file, an fsync of it and a rename over the old one. The tool's own add and
 * remove commands are timed against this.
 *
 *   lumora_floor [-d] add SCRATCH CONFIG         uniq SCRATCH > NEW
 *   lumora_floor [-d] remove SCRATCH NAME CONFIG cat SCRATCH | sed -e s/'^DEVICE=NAME .*$'// | uniq > NEW
 *   lumora_floor [-d] scratch-add LINE CONFIG    the add's own scratch-file steps, then as add
 *   lumora_floor [-d] loaded-add LINE CONFIG MODELS DEFAULT MODEL_SIZE DEVICE_SIZE
 *                                                the two reads of the add, then as scratch-add
 *
 * NEW is CONFIG with ".floor-new" appended, so it lives in the configuration directory like
 * the tool's own pending file. SCRATCH is prepared by the caller. With -d the directory is
 * synced after the rename as well, which the tool does so that the rename itself survives a
 * crash; timing both shows what that costs.
 *
 * scratch-add does, besides, what the add command is built to do with its scratch file and
 * what the plain add floor leaves to its caller: make it with mkstemp under /tmp and close it,
 * reopen it to append LINE and a line feed, append a copy of CONFIG, and unlink it at the end. It reads no
 * catalogue and no device list, so the tool's distance from it is the cost of those two reads
 * and of the tool's own checks.
 *
 * loaded-add first does the least those two reads can cost: every ".ini" file of the MODELS
 * directory, the DEFAULT catalogue file and CONFIG read whole, and one zeroed record of
 * MODEL_SIZE bytes per catalogue line and of DEVICE_SIZE bytes per CONFIG line allocated, linked
 * and freed, as the tool's lists are. No line is parsed, so the tool's distance from it is what
 * its parsing and checks cost. */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int fail(const char* what) {
  perror(what);
  return 1;
}

/* Appends the whole of the file at path to fd. */
static int append_file(int fd, const char* path) {
  const int in = open(path, O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail(path);
  char buffer[8192];
  ssize_t got;
  while ((got = read(in, buffer, sizeof buffer)) > 0) {
    if (write(fd, buffer, (size_t)got) != got) return fail("write scratch");
  }
  close(in);
  return got < 0 ? fail("read") : 0;
}

static int make_scratch(char* scratch, const char* line, const char* config) {
  int fd = mkstemp(scratch);
  if (fd < 0) return fail("mkstemp");
  close(fd);
  fd = open(scratch, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fail(scratch);
  char with_feed[1024];
  const int length = snprintf(with_feed, sizeof with_feed, "%s\n", line);
  if (length < 0 || (size_t)length >= sizeof with_feed) return fail("line too long");
  if (write(fd, with_feed, (size_t)length) != length) return fail("write line");
  if (close(fd) != 0) return fail("close scratch");
  fd = open(scratch, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fail(scratch);
  if (append_file(fd, config) != 0) return 1;
  return close(fd) != 0 ? fail("close scratch") : 0;
}

struct record {
  struct record* next;
};

/* Reads the file whole; allocates one record of record_size bytes per line onto *list. */
static int load_lines(const char* path, size_t record_size, struct record** list) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(path);
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) {
    for (const char* p = buffer; (p = memchr(p, '\n', (size_t)(buffer + got - p))) != NULL; ++p) {
      struct record* r = calloc(1, record_size);
      if (r == NULL) return fail("calloc");
      r->next = *list;
      *list = r;
    }
  }
  close(fd);
  return got < 0 ? fail("read") : 0;
}

static int load_all(const char* models, const char* default_file, const char* config,
                    size_t model_size, size_t device_size) {
  struct record* list = NULL;
  DIR* dir = opendir(models);
  if (dir == NULL) return fail(models);
  const struct dirent* entry;
  while ((entry = readdir(dir)) != NULL) {
    const size_t length = strlen(entry->d_name);
    if (entry->d_name[0] == '.' || length < 4 || strcmp(entry->d_name + length - 4, ".ini") != 0) continue;
    char path[4096];
    const int written = snprintf(path, sizeof path, "%s/%s", models, entry->d_name);
    if (written < 0 || (size_t)written >= sizeof path) return fail("path too long");
    if (load_lines(path, model_size, &list) != 0) return 1;
  }
  closedir(dir);
  if (load_lines(default_file, model_size, &list) != 0) return 1;
  if (load_lines(config, device_size, &list) != 0) return 1;
  while (list != NULL) {
    struct record* next = list->next;
    free(list);
    list = next;
  }
  return 0;
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
  char scratch[] = "/tmp/lumsane_tempfile5_XXXXXX";
  const char* mode = argc > 1 ? argv[1] : "";
  const int loaded_add = argc == 8 && strcmp(mode, "loaded-add") == 0;
  const int scratch_add = loaded_add || (argc == 4 && strcmp(mode, "scratch-add") == 0);
  const int add = argc == 4 && strcmp(mode, "add") == 0;
  const int remove = argc == 5 && strcmp(mode, "remove") == 0;
  if (!scratch_add && !add && !remove) {
    fprintf(stderr,
            "usage: %s [-d] add SCRATCH CONFIG | [-d] remove SCRATCH NAME CONFIG | "
            "[-d] scratch-add LINE CONFIG | "
            "[-d] loaded-add LINE CONFIG MODELS DEFAULT MODEL_SIZE DEVICE_SIZE\n",
            argv[0]);
    return 2;
  }
  const char* config = loaded_add ? argv[3] : argv[argc - 1];
  int written = snprintf(pending, sizeof pending, "%s.floor-new", config);
  if (written < 0 || (size_t)written >= sizeof pending) return fail("path too long");
  if (loaded_add) {
    const long model_size = strtol(argv[6], NULL, 10);
    const long device_size = strtol(argv[7], NULL, 10);
    if (model_size < (long)sizeof(struct record) || device_size < (long)sizeof(struct record)) {
      return fail("record sizes");
    }
    if (load_all(argv[4], argv[5], config, (size_t)model_size, (size_t)device_size) != 0) return 1;
  }
  if (scratch_add) {
    if (make_scratch(scratch, argv[2], config) != 0) return 1;
    written = snprintf(command, sizeof command, "uniq %s > %s", scratch, pending);
  } else if (add) {
    written = snprintf(command, sizeof command, "uniq %s > %s", argv[2], pending);
  } else {
    written = snprintf(command, sizeof command,
                       "cat %s | sed -e s/'^DEVICE=%s .*$'// | uniq > %s", argv[2], argv[3],
                       pending);
  }
  if (written < 0 || (size_t)written >= sizeof command) return fail("command too long");
  if (system(command) != 0) return fail("pipeline");
  const int fd = open(pending, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return fail(pending);
  if (fsync(fd) != 0) return fail("fsync");
  if (close(fd) != 0) return fail("close");
  if (rename(pending, config) != 0) return fail("rename");
  if (sync_dir && sync_directory_of(config) != 0) return 1;
  if (scratch_add && unlink(scratch) != 0) return fail("unlink scratch");
  return 0;
}
