// The least possible launcher, the benchmark's yardstick: posix_spawn of the
// engine named in argv[1] in a session of its own, with the remaining
// arguments and the launcher's three fixed trailing switches, then exit 0.
#define _GNU_SOURCE
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  static const char* const trailing[] = {
      "--hide-crash-restore-bubble",
      "--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
      "--disable-save-password-bubble",
  };
  int count = argc - 1 + 3;
  char** args = calloc((size_t)count + 1, sizeof *args);
  if (!args) return 1;
  for (int i = 1; i < argc; ++i) args[i - 1] = argv[i];
  for (int i = 0; i < 3; ++i) args[argc - 1 + i] = (char*)trailing[i];

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid;
  int code = posix_spawn(&pid, argv[1], NULL, &attributes, args, environ);
  posix_spawnattr_destroy(&attributes);
  return code == 0 ? 0 : 1;
}
