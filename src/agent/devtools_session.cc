#include "agent/devtools_session.h"

#include "config/json_read.h"

namespace quillon {

namespace {

std::string command(DevtoolsSession& session, std::string_view sessionId, const char* method,
                    Json params = Json::object()) {
  Json message = {{"id", session.nextId++}, {"method", method}, {"params", std::move(params)}};
  if (!sessionId.empty()) message["sessionId"] = sessionId;
  return message.dump();
}

std::string autoAttach(DevtoolsSession& session, std::string_view sessionId) {
  return command(session, sessionId, "Target.setAutoAttach",
                 {{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}});
}

bool isFrame(std::string_view type) {
  return type == "page" || type == "iframe";
}

// The text member key of value, "" when value is no object or has none.
std::string textAt(const Json& value, const char* key) {
  if (!value.is_object()) return "";
  auto it = value.find(key);
  return it != value.end() && it->is_string() ? it->get<std::string>() : "";
}

const Json& memberAt(const Json& value, const char* key) {
  static const Json kNone;
  if (!value.is_object()) return kNone;
  auto it = value.find(key);
  return it != value.end() ? *it : kNone;
}

}  // namespace

std::vector<std::string> browserCommands(DevtoolsSession& session) {
  return {autoAttach(session, "")};
}

std::vector<std::string> targetCommands(DevtoolsSession& session, std::string_view sessionId,
                                        std::string_view type) {
  const AgentValues& values = session.values;
  std::vector<std::string> commands = {autoAttach(session, sessionId)};
  // Geolocation is the browser's, held per page: workers refuse it.
  if (isFrame(type) && values.latitude && values.longitude)
    commands.push_back(command(
        session, sessionId, "Emulation.setGeolocationOverride",
        {{"latitude", *values.latitude}, {"longitude", *values.longitude}, {"accuracy", 100}}));
  if (values.hardwareConcurrency)
    commands.push_back(command(session, sessionId, "Emulation.setHardwareConcurrencyOverride",
                               {{"hardwareConcurrency", *values.hardwareConcurrency}}));
  // The locale is held per renderer process: a worker takes its page's.
  if (isFrame(type) && !values.locale.empty())
    commands.push_back(
        command(session, sessionId, "Emulation.setLocaleOverride", {{"locale", values.locale}}));
  commands.push_back(command(session, sessionId, "Runtime.runIfWaitingForDebugger"));
  return commands;
}

std::vector<std::string> answerMessage(DevtoolsSession& session, std::string_view message) {
  // Only this event is read; answers and other events are passed over unparsed.
  if (message.find("\"Target.attachedToTarget\"") == std::string_view::npos) return {};
  Json parsed = Json::parse(message, nullptr, false);
  if (textAt(parsed, "method") != "Target.attachedToTarget") return {};
  const Json& params = memberAt(parsed, "params");
  std::string sessionId = textAt(params, "sessionId");
  if (sessionId.empty()) return {};
  return targetCommands(session, sessionId, textAt(memberAt(params, "targetInfo"), "type"));
}

}  // namespace quillon
