#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "persona/commands.h"
#include "persona/render.h"
#include "platform/files.h"

namespace quillon {

void printError(const std::string& message) {
  writeStandardError("quillon-persona: " + message + "\n");
}

bool printOut(const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

int finishOutput(const std::string& text, int status) {
  if (printOut(text)) return status;
  printError(std::string("cannot write the output: ") + std::strerror(errno));
  return kExitOutputFailed;
}

bool checkFolder(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      printError("no such folder: " + escapeText(path));
    else
      printError("cannot reach the folder " + escapeText(path) + ": " + std::strerror(errno));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    printError("not a folder: " + escapeText(path));
    return false;
  }
  return true;
}

}  // namespace quillon
