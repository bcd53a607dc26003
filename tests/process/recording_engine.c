// A stand-in engine: writes to $QUILLON_TEST_RECORD "KEY VALUE" items, each ended by a NUL:
// "pid", "sid", "fd N TARGET" per descriptor, "arg" per argument, "env" per variable, the
// "SigBlk:" and "SigIgn:" masks. Then it lingers $QUILLON_TEST_LINGER seconds and exits with
// $QUILLON_TEST_STATUS (0 without it).
#define _GNU_SOURCE
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  char temporary[4096], line[4400];
  const char* path = getenv("QUILLON_TEST_RECORD");
  FILE* out = NULL;
  if (!path || snprintf(temporary, sizeof temporary, "%s.tmp", path) >= (int)sizeof temporary ||
      !(out = fopen(temporary, "w")))
    return 71;
  fprintf(out, "pid %d%csid %d%c", getpid(), 0, getsid(0), 0);
  DIR* dir = opendir("/proc/self/fd");
  for (struct dirent* e; dir && (e = readdir(dir));) {
    int k = snprintf(line, sizeof line, "/proc/self/fd/%s", e->d_name), fd = atoi(e->d_name);
    ssize_t n = readlink(line, line + k + 1, sizeof line - (size_t)k - 2);
    line[k + 1 + (n > 0 ? n : 0)] = '\0';
    if (e->d_name[0] != '.' && fd != dirfd(dir) && fd != fileno(out))
      fprintf(out, "fd %d %s%c", fd, line + k + 1, 0);
  }
  if (dir) closedir(dir);
  for (int i = 0; i < argc; ++i) fprintf(out, "arg %s%c", argv[i], 0);
  for (char** e = environ; *e; ++e) fprintf(out, "env %s%c", *e, 0);
  FILE* status = fopen("/proc/self/status", "re");
  while (status && fgets(line, sizeof line, status)) {
    line[strcspn(line, "\n")] = '\0';
    if (!strncmp(line, "SigBlk:\t", 8) || !strncmp(line, "SigIgn:\t", 8))
      fprintf(out, "%.7s %s%c", line, line + 8, 0);
  }
  if (fclose(out) != 0 || rename(temporary, path) != 0) return 72;
  const char* linger = getenv("QUILLON_TEST_LINGER");
  if (linger) sleep((unsigned)atoi(linger));
  const char* exitStatus = getenv("QUILLON_TEST_STATUS");
  return exitStatus ? atoi(exitStatus) : 0;
}
