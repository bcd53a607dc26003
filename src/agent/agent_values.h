// The persona's values that only the persona agent can give a stock Chromium,
// and their form on the agent's command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

inline constexpr const char* kAgentName = "quillon-launcher-agent";

// The agent's descriptors: it writes commands on the first, which Chromium
// reads on its descriptor 3, and reads Chromium's messages on the second,
// which Chromium writes on its descriptor 4.
inline constexpr int kAgentCommandFd = 3;
inline constexpr int kAgentMessageFd = 4;

struct AgentValues {
  std::optional<double> latitude;  // with longitude, or neither
  std::optional<double> longitude;
  std::optional<int> hardwareConcurrency;
  std::string locale;  // a language tag, "" for none
};

// A number's text as the agent takes it: the whole text a finite decimal
// number, an integer above zero for the processor count; none otherwise.
std::optional<double> coordinateOf(std::string_view text);
std::optional<int> processorCountOf(std::string_view text);

// Whether there is anything for the agent to carry.
bool agentCarriesAny(const AgentValues& values);

// "--latitude=..", "--longitude=..", "--hardware-concurrency=..", "--locale=..",
// each only when set.
std::vector<std::string> agentArguments(const AgentValues& values);

// The values of the agent's arguments; none when one is not understood.
std::optional<AgentValues> agentValuesFromArguments(const std::vector<std::string>& args);

// The engine relaunches itself (chrome://restart, the settings' "Relaunch")
// by running the program its argv[0] names with its own switches. With the
// agent, that program is the agent's, and these switches tell it which engine
// to run and with which values: "--quillon-agent-engine=PATH", and each of
// agentArguments with "--quillon-agent-" in place of "--".
std::vector<std::string> relaunchSwitches(const AgentValues& values, const std::string& enginePath);

struct AgentRelaunch {
  std::string enginePath;
  AgentValues values;
};

// What a relaunch's command line asks for; none when it names no engine or
// a value is not understood. The engine's other switches are passed over.
std::optional<AgentRelaunch> relaunchFromArguments(const std::vector<std::string>& args);

}  // namespace quillon
