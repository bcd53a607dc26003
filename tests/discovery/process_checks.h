// Checks that a call left nothing of its child process behind: no open
// descriptor and no child (running or zombie).
#pragma once

#include <map>
#include <string>

namespace quillon::test {

// Every open descriptor of this process and what it refers to.
std::map<int, std::string> openDescriptors();

// True when this process has no child at all, zombies included.
bool hasNoChildren();

}  // namespace quillon::test
