#include "agent/agent_values.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace quillon {

namespace {

// Shortest text that reads back as the same double.
std::string numberText(double value) {
  char buffer[32];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end);
}

}  // namespace

std::optional<double> coordinateOf(std::string_view text) {
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<int> processorCountOf(std::string_view text) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value <= 0)
    return std::nullopt;
  return value;
}

bool agentCarriesAny(const AgentValues& values) {
  return (values.latitude && values.longitude) || values.hardwareConcurrency ||
         !values.locale.empty();
}

std::vector<std::string> agentArguments(const AgentValues& values) {
  std::vector<std::string> args;
  if (values.latitude && values.longitude) {
    args.push_back("--latitude=" + numberText(*values.latitude));
    args.push_back("--longitude=" + numberText(*values.longitude));
  }
  if (values.hardwareConcurrency)
    args.push_back("--hardware-concurrency=" + std::to_string(*values.hardwareConcurrency));
  if (!values.locale.empty()) args.push_back("--locale=" + values.locale);
  return args;
}

std::optional<AgentValues> agentValuesFromArguments(const std::vector<std::string>& args) {
  AgentValues values;
  for (std::string_view arg : args) {
    size_t equals = arg.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    std::string_view name = arg.substr(0, equals);
    std::string_view text = arg.substr(equals + 1);
    if (name == "--latitude" && coordinateOf(text))
      values.latitude = coordinateOf(text);
    else if (name == "--longitude" && coordinateOf(text))
      values.longitude = coordinateOf(text);
    else if (name == "--hardware-concurrency" && processorCountOf(text))
      values.hardwareConcurrency = processorCountOf(text);
    else if (name == "--locale" && !text.empty())
      values.locale = text;
    else
      return std::nullopt;
  }
  if (values.latitude.has_value() != values.longitude.has_value()) return std::nullopt;
  return values;
}

namespace {

constexpr std::string_view kRelaunchPrefix = "--quillon-agent-";
constexpr std::string_view kRelaunchEngine = "--quillon-agent-engine=";

}  // namespace

std::vector<std::string> relaunchSwitches(const AgentValues& values,
                                          const std::string& enginePath) {
  std::vector<std::string> switches = {std::string(kRelaunchEngine) + enginePath};
  for (const std::string& arg : agentArguments(values))
    switches.push_back(std::string(kRelaunchPrefix) + arg.substr(2));
  return switches;
}

std::optional<AgentRelaunch> relaunchFromArguments(const std::vector<std::string>& args) {
  AgentRelaunch relaunch;
  std::vector<std::string> valueArgs;
  for (std::string_view arg : args) {
    if (arg.starts_with(kRelaunchEngine))
      relaunch.enginePath = arg.substr(kRelaunchEngine.size());
    else if (arg.starts_with(kRelaunchPrefix))
      valueArgs.push_back("--" + std::string(arg.substr(kRelaunchPrefix.size())));
  }
  if (relaunch.enginePath.empty()) return std::nullopt;
  std::optional<AgentValues> values = agentValuesFromArguments(valueArgs);
  if (!values) return std::nullopt;
  relaunch.values = *values;
  return relaunch;
}

}  // namespace quillon
