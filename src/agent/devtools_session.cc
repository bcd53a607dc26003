#include "agent/devtools_session.h"

#include <algorithm>

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

std::string release(DevtoolsSession& session, std::string_view sessionId) {
  return command(session, sessionId, "Runtime.runIfWaitingForDebugger");
}

std::string continueRequest(DevtoolsSession& session, const std::string& requestId) {
  return command(session, "", "Fetch.continueRequest", {{"requestId", requestId}});
}

// The requests a held target kept, going on.
void continueHeld(DevtoolsSession& session, const HeldTarget& held,
                  std::vector<std::string>& commands) {
  for (const std::string& requestId : held.requests)
    commands.push_back(continueRequest(session, requestId));
}

// A held target's release and its requests going on.
void releaseHeld(DevtoolsSession& session, const HeldTarget& held,
                 std::vector<std::string>& commands) {
  commands.push_back(release(session, held.sessionId));
  continueHeld(session, held, commands);
}

std::string localeCommand(DevtoolsSession& session, const std::string& sessionId) {
  session.localeAsked[session.nextId] = {sessionId, session.localeLosses};
  return command(session, sessionId, "Emulation.setLocaleOverride",
                 {{"locale", session.values.locale}});
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

// The id of the command an answer answers, or 0.
long answeredId(const Json& message) {
  const Json& id = memberAt(message, "id");
  return id.is_number_integer() ? id.get<long>() : 0;
}

AttachedTarget attachedTarget(const Json& info) {
  AttachedTarget target;
  target.type = textAt(info, "type");
  target.url = textAt(info, "url");
  target.opener = !textAt(info, "openerId").empty();
  target.reachesOpener = memberAt(info, "canAccessOpener") == Json(true);
  target.id = textAt(info, "targetId");
  return target;
}

// Chromium's answer to a command on a session that has ended: a target's
// sessions may end with their parent's without an event of their own.
constexpr long kNoSuchSession = -32001;

// A session whose locale command succeeded holds its process's locale; one
// that no longer exists is forgotten.
void noteLocaleAnswer(DevtoolsSession& session, long id, const Json& message) {
  auto asked = session.localeAsked.find(id);
  if (asked == session.localeAsked.end()) return;
  std::string sessionId = asked->second.sessionId;
  session.localeAsked.erase(asked);
  const Json& error = memberAt(message, "error");
  if (error.is_null()) session.localeHolders.insert(sessionId);
  if (memberAt(error, "code") == Json(kNoSuchSession)) std::erase(session.attached, sessionId);
}

// The held target's release once its last answer is in; nothing otherwise.
std::vector<std::string> answered(DevtoolsSession& session, const Json& message) {
  std::string sessionId = textAt(message, "sessionId");
  long id = answeredId(message);
  noteLocaleAnswer(session, id, message);
  auto held = std::find_if(session.held.begin(), session.held.end(),
                           [&](const HeldTarget& t) { return t.sessionId == sessionId; });
  if (held == session.held.end() || held->unanswered.erase(id) == 0 || !held->unanswered.empty())
    return {};
  std::vector<std::string> commands;
  releaseHeld(session, *held, commands);
  session.held.erase(held);
  return commands;
}

// A document's request: held with its frame's target while that is held,
// going on at once otherwise.
std::vector<std::string> requestPaused(DevtoolsSession& session, const Json& params) {
  std::string requestId = textAt(params, "requestId");
  std::string frameId = textAt(params, "frameId");
  if (requestId.empty()) return {};
  auto held = std::find_if(session.held.begin(), session.held.end(), [&](const HeldTarget& t) {
    return !frameId.empty() && t.targetId == frameId;
  });
  if (held == session.held.end()) return {continueRequest(session, requestId)};
  held->requests.push_back(requestId);
  return {};
}

// Forgets an ended session; the requests its target held go on.
std::vector<std::string> forget(DevtoolsSession& session, const std::string& sessionId) {
  std::vector<std::string> commands;
  std::erase_if(session.held, [&](const HeldTarget& t) {
    if (t.sessionId != sessionId) return false;
    continueHeld(session, t, commands);
    return true;
  });
  std::erase_if(session.localeAsked,
                [&](const auto& asked) { return asked.second.sessionId == sessionId; });
  std::erase(session.attached, sessionId);
  if (session.localeHolders.erase(sessionId) != 0) ++session.localeLosses;
  return commands;
}

}  // namespace

bool holdsTarget(const AttachedTarget& target) {
  if (target.type == "iframe") return true;
  if (target.type != "page") return false;
  return !(target.url.empty() && target.opener && !target.reachesOpener);
}

std::vector<std::string> browserCommands(DevtoolsSession& session) {
  Json documents = Json::array(
      {{{"urlPattern", "*"}, {"resourceType", "Document"}, {"requestStage", "Request"}}});
  return {autoAttach(session, ""),
          command(session, "", "Fetch.enable", {{"patterns", std::move(documents)}})};
}

std::vector<std::string> targetCommands(DevtoolsSession& session, std::string_view sessionId,
                                        const AttachedTarget& target, AgentClock::time_point now) {
  const AgentValues& values = session.values;
  std::vector<std::string> commands = {autoAttach(session, sessionId)};
  // Geolocation is the browser's, held per page: workers refuse it.
  if (isFrame(target.type) && values.latitude && values.longitude)
    commands.push_back(command(
        session, sessionId, "Emulation.setGeolocationOverride",
        {{"latitude", *values.latitude}, {"longitude", *values.longitude}, {"accuracy", 100}}));
  if (values.hardwareConcurrency)
    commands.push_back(command(session, sessionId, "Emulation.setHardwareConcurrencyOverride",
                               {{"hardwareConcurrency", *values.hardwareConcurrency}}));
  // The locale is held per renderer process: a worker beside its page answers
  // that another override is in effect, and has the page's; a worker in a
  // process of its own (a service worker, often) takes it here.
  if (!values.locale.empty()) {
    session.attached.emplace_back(sessionId);
    commands.push_back(localeCommand(session, std::string(sessionId)));
  }
  if (!holdsTarget(target)) {
    commands.push_back(release(session, sessionId));
    return commands;
  }
  HeldTarget held{std::string(sessionId), {}, now, target.id, {}};
  for (long id = session.nextId - static_cast<long>(commands.size()); id < session.nextId; ++id)
    held.unanswered.insert(id);
  session.held.push_back(std::move(held));
  return commands;
}

std::vector<std::string> answerMessage(DevtoolsSession& session, std::string_view message,
                                       AgentClock::time_point now) {
  // Only attaches, detaches, paused requests and, while a target is held or
  // a locale command unanswered, answers are read; everything else is passed
  // over unparsed.
  bool attach = message.find("\"Target.attachedToTarget\"") != std::string_view::npos;
  bool detach = message.find("\"Target.detachedFromTarget\"") != std::string_view::npos;
  bool request = message.find("\"Fetch.requestPaused\"") != std::string_view::npos;
  if (!attach && !detach && !request && session.held.empty() && session.localeAsked.empty())
    return {};
  Json parsed = Json::parse(message, nullptr, false);
  std::string method = textAt(parsed, "method");
  const Json& params = memberAt(parsed, "params");
  std::string sessionId = textAt(params, "sessionId");
  if (method == "Target.attachedToTarget" && !sessionId.empty())
    return targetCommands(session, sessionId, attachedTarget(memberAt(params, "targetInfo")), now);
  if (method == "Target.detachedFromTarget") return forget(session, sessionId);
  if (method == "Fetch.requestPaused") return requestPaused(session, params);
  if (method.empty() && answeredId(parsed) != 0) return answered(session, parsed);
  return {};
}

std::vector<std::string> retakeLocale(DevtoolsSession& session) {
  if (session.localeRetaken == session.localeLosses) return {};
  session.localeRetaken = session.localeLosses;
  std::set<std::string> asking;  // since the last loss
  for (const auto& [id, asked] : session.localeAsked)
    if (asked.losses == session.localeLosses) asking.insert(asked.sessionId);
  std::vector<std::string> commands;
  for (const std::string& sessionId : session.attached)
    if (!session.localeHolders.contains(sessionId) && !asking.contains(sessionId))
      commands.push_back(localeCommand(session, sessionId));
  return commands;
}

std::vector<std::string> releaseOverdue(DevtoolsSession& session, AgentClock::time_point now) {
  std::vector<std::string> commands;
  std::erase_if(session.held, [&](const HeldTarget& t) {
    if (now - t.since < kHoldLimit) return false;
    releaseHeld(session, t, commands);
    return true;
  });
  return commands;
}

std::optional<AgentClock::time_point> nextDue(const DevtoolsSession& session) {
  if (session.held.empty()) return std::nullopt;
  AgentClock::time_point first = session.held.front().since;
  for (const HeldTarget& t : session.held) first = std::min(first, t.since);
  return first + kHoldLimit;
}

}  // namespace quillon
