#include <unistd.h>

#include <cerrno>

#include "persona/commands.h"
#include "platform/files.h"

namespace quillon {

void printError(const std::string& message) {
  writeStandardError("quillon-persona: " + message + "\n");
}

bool printOut(const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace quillon
