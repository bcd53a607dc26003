// A stand-in for the browser engine: records what it was started with to
// $QUILLON_TEST_RECORD, then exits or lingers for $QUILLON_TEST_LINGER ms (rounded up to seconds).
//
// The record is a list of items "KEY LEN:BYTES\n", so any byte survives:
// one "arg" per argument, one "env" per variable, "pid", "ppid", "sid",
// one "fd" per open descriptor ("N TARGET"), "sigblk" and "sigign" (hex, as
// in /proc/self/status), and "end" last.
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern char** environ;

static char record[1 << 20];
static size_t used;

static void item(const char* key, const char* bytes, size_t n) {
  int k = snprintf(record + used, sizeof record - used, "%s %zu:", key, n);
  if (k < 0 || used + (size_t)k + n + 1 >= sizeof record) _exit(70);
  used += (size_t)k;
  memcpy(record + used, bytes, n);
  used += n;
  record[used++] = '\n';
}

static void text(const char* key, const char* value) {
  item(key, value, strlen(value));
}

static void number(const char* key, long long value) {
  char digits[32];
  item(key, digits, (size_t)snprintf(digits, sizeof digits, "%lld", value));
}

// Every descriptor open at start, without the one that lists them.
static void descriptors(void) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) _exit(72);
  struct dirent* entry;
  while ((entry = readdir(dir)) != NULL) {
    int fd = atoi(entry->d_name);
    if (entry->d_name[0] == '.' || fd == dirfd(dir)) continue;
    char link[64], value[4200];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    int k = snprintf(value, sizeof value, "%d ", fd);
    ssize_t n = readlink(link, value + k, sizeof value - (size_t)k);
    item("fd", value, (size_t)k + (size_t)(n > 0 ? n : 0));
  }
  closedir(dir);
}

static void signalState(void) {
  FILE* status = fopen("/proc/self/status", "re");
  if (!status) _exit(73);
  char line[512];
  while (fgets(line, sizeof line, status)) {
    line[strcspn(line, "\n")] = '\0';
    if (strncmp(line, "SigBlk:\t", 8) == 0) text("sigblk", line + 8);
    if (strncmp(line, "SigIgn:\t", 8) == 0) text("sigign", line + 8);
  }
  fclose(status);
}

// Writes <path>.tmp and renames it over path, so a reader sees it whole.
static int publish(const char* path) {
  char temporary[4096];
  if (snprintf(temporary, sizeof temporary, "%s.tmp", path) >= (int)sizeof temporary) return -1;
  int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  int ok = write(fd, record, used) == (ssize_t)used;
  ok = close(fd) == 0 && ok;
  return ok && rename(temporary, path) == 0 ? 0 : -1;
}

int main(int argc, char** argv) {
  // The parent first: once the launcher has exited, getppid() names whoever
  // adopted the engine.
  pid_t parent = getppid();
  descriptors();
  for (int i = 0; i < argc; ++i) text("arg", argv[i]);
  for (char** e = environ; *e; ++e) text("env", *e);
  number("pid", getpid());
  number("ppid", parent);
  number("sid", getsid(0));
  signalState();
  text("end", "");

  const char* path = getenv("QUILLON_TEST_RECORD");
  if (!path || !*path || publish(path) != 0) return 71;
  const char* linger = getenv("QUILLON_TEST_LINGER");
  if (linger) sleep((unsigned)(atol(linger) + 999) / 1000);
  return 0;
}
