// A stand-in for the browser engine: records what it was started with (its
// argument vector, environment, process ids, open descriptors and signal
// state) to $QUILLON_TEST_RECORD, then exits or lingers for
// $QUILLON_TEST_LINGER milliseconds.
//
// Record format, one item per line; every string is length-prefixed
// ("<bytes>:<bytes of the string>") so newlines and any byte survive:
//   argc N          followed by N lines "LEN:BYTES"
//   envc N          followed by N lines "LEN:BYTES"
//   pid N / ppid N / sid N
//   fd N LEN:TARGET one line per descriptor open at start
//   sigblk HEX / sigign HEX   as in /proc/self/status
//   end
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

enum { kMaxFds = 1024 };

struct Buffer {
  char* data;
  size_t size;
  size_t capacity;
};

static void append(struct Buffer* b, const char* bytes, size_t n) {
  if (b->size + n > b->capacity) {
    size_t capacity = b->capacity ? b->capacity : 4096;
    while (capacity < b->size + n) capacity *= 2;
    char* grown = realloc(b->data, capacity);
    if (!grown) _exit(70);
    b->data = grown;
    b->capacity = capacity;
  }
  memcpy(b->data + b->size, bytes, n);
  b->size += n;
}

static void appendText(struct Buffer* b, const char* text) { append(b, text, strlen(text)); }

static void appendLine(struct Buffer* b, const char* key, long long value) {
  char line[64];
  int n = snprintf(line, sizeof line, "%s %lld\n", key, value);
  append(b, line, (size_t)n);
}

static void appendString(struct Buffer* b, const char* s, size_t n) {
  char prefix[32];
  int k = snprintf(prefix, sizeof prefix, "%zu:", n);
  append(b, prefix, (size_t)k);
  append(b, s, n);
  append(b, "\n", 1);
}

static int compareInts(const void* a, const void* b) {
  int x = *(const int*)a, y = *(const int*)b;
  return (x > y) - (x < y);
}

// Descriptors open when the engine started, without the one used to list them.
static int listOpenDescriptors(int* fds) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int own = dirfd(dir);
  int count = 0;
  struct dirent* entry;
  while ((entry = readdir(dir)) != NULL && count < kMaxFds) {
    if (entry->d_name[0] == '.') continue;
    int fd = atoi(entry->d_name);
    if (fd != own) fds[count++] = fd;
  }
  closedir(dir);
  qsort(fds, (size_t)count, sizeof fds[0], compareInts);
  return count;
}

static void appendDescriptor(struct Buffer* b, int fd) {
  char link[64], target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target);
  if (n < 0) n = 0;
  char key[32];
  snprintf(key, sizeof key, "fd %d ", fd);
  appendText(b, key);
  appendString(b, target, (size_t)n);
}

// Copies the "SigBlk:" and "SigIgn:" lines of /proc/self/status.
static void appendSignalState(struct Buffer* b) {
  FILE* status = fopen("/proc/self/status", "re");
  if (!status) return;
  char line[512];
  while (fgets(line, sizeof line, status)) {
    char* value = NULL;
    const char* key = NULL;
    if (strncmp(line, "SigBlk:", 7) == 0) key = "sigblk ", value = line + 7;
    if (strncmp(line, "SigIgn:", 7) == 0) key = "sigign ", value = line + 7;
    if (!key) continue;
    while (*value == ' ' || *value == '\t') ++value;
    appendText(b, key);
    appendText(b, value);
  }
  fclose(status);
}

static int writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    data += n;
    size -= (size_t)n;
  }
  return 0;
}

// Writes <path>.tmp and renames it over path, so a reader sees it whole.
static int publish(const char* path, const struct Buffer* b) {
  size_t length = strlen(path);
  char* temporary = malloc(length + 5);
  if (!temporary) return -1;
  memcpy(temporary, path, length);
  memcpy(temporary + length, ".tmp", 5);
  int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int ok = fd >= 0 && writeAll(fd, b->data, b->size) == 0;
  if (fd >= 0 && close(fd) != 0) ok = 0;
  if (ok && rename(temporary, path) != 0) ok = 0;
  free(temporary);
  return ok ? 0 : -1;
}

static void linger(const char* text) {
  long ms = strtol(text, NULL, 10);
  if (ms <= 0) return;
  struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int main(int argc, char** argv) {
  // The parent first: the launcher exits right after the spawn, and from then
  // on getppid() names whoever adopted the engine.
  pid_t parent = getppid();
  static int fds[kMaxFds];
  int fdCount = listOpenDescriptors(fds);

  struct Buffer b = {NULL, 0, 0};
  appendLine(&b, "argc", argc);
  for (int i = 0; i < argc; ++i) appendString(&b, argv[i], strlen(argv[i]));
  long long envc = 0;
  for (char** e = environ; *e; ++e) ++envc;
  appendLine(&b, "envc", envc);
  for (char** e = environ; *e; ++e) appendString(&b, *e, strlen(*e));
  appendLine(&b, "pid", getpid());
  appendLine(&b, "ppid", parent);
  appendLine(&b, "sid", getsid(0));
  for (int i = 0; i < fdCount; ++i) appendDescriptor(&b, fds[i]);
  appendSignalState(&b);
  appendText(&b, "end\n");

  const char* record = getenv("QUILLON_TEST_RECORD");
  if (!record || !*record || publish(record, &b) != 0) return 71;
  const char* wait = getenv("QUILLON_TEST_LINGER");
  if (wait) linger(wait);
  return 0;
}
