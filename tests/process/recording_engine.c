// A stand-in for the browser engine: writes what it was started with to
// $QUILLON_TEST_RECORD, each item "KEY VALUE" ended by a NUL byte: one "arg"
// per argument, one "env" per variable, "ppid", "pid", "sid", one "fd" per
// open descriptor ("N TARGET") and the "SigBlk:" and "SigIgn:" lines of
// /proc/self/status. Then it lingers $QUILLON_TEST_LINGER seconds.
#define _GNU_SOURCE
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern char** environ;

static char record[1 << 20];
static size_t used;

static void item(const char* key, const char* value) {
  int n = snprintf(record + used, sizeof record - used, "%s %s", key, value);
  if (n < 0 || used + (size_t)n + 1 >= sizeof record) _exit(70);
  used += (size_t)n + 1;
}

static void number(const char* key, long value) {
  char text[32];
  snprintf(text, sizeof text, "%ld", value);
  item(key, text);
}

int main(int argc, char** argv) {
  // The parent first: once the launcher has gone, someone else adopts us.
  number("ppid", getppid());
  DIR* dir = opendir("/proc/self/fd");
  for (struct dirent* e; dir && (e = readdir(dir)) != NULL;) {
    char link[300], value[4400];
    snprintf(link, sizeof link, "/proc/self/fd/%s", e->d_name);
    int k = snprintf(value, sizeof value, "%s ", e->d_name);
    ssize_t n = readlink(link, value + k, sizeof value - (size_t)k - 1);
    value[k + (n > 0 ? n : 0)] = '\0';
    if (e->d_name[0] != '.' && atoi(e->d_name) != dirfd(dir)) item("fd", value);
  }
  if (dir) closedir(dir);
  for (int i = 0; i < argc; ++i) item("arg", argv[i]);
  for (char** e = environ; *e; ++e) item("env", *e);
  number("pid", getpid());
  number("sid", getsid(0));
  FILE* status = fopen("/proc/self/status", "re");
  for (char line[512]; status && fgets(line, sizeof line, status);) {
    line[strcspn(line, "\n")] = '\0';
    char* tab = strchr(line, '\t');
    if (tab && (!strncmp(line, "SigBlk:", 7) || !strncmp(line, "SigIgn:", 7))) {
      *tab = '\0';
      item(line, tab + 1);
    }
  }
  if (status) fclose(status);

  const char* path = getenv("QUILLON_TEST_RECORD");
  char temporary[4096];
  if (!path || snprintf(temporary, sizeof temporary, "%s.tmp", path) >= (int)sizeof temporary)
    return 71;
  FILE* out = fopen(temporary, "we");
  if (!out || fwrite(record, 1, used, out) != used || fclose(out) != 0 || rename(temporary, path))
    return 72;
  const char* linger = getenv("QUILLON_TEST_LINGER");
  if (linger) sleep((unsigned)atoi(linger));
  return 0;
}
