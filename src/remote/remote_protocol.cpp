#include "remote/remote_protocol.h"

#include <algorithm>
#include <cmath>

#include "peers/json_bounds.h"

namespace tovami::remote {
namespace {

using nlohmann::json;

template <typename T>
json orNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

// A JSON integer that fits the protocol's ids (positive, exact in a double).
std::optional<int64_t> idIn(const json& value) {
  if (!value.is_number_integer()) return std::nullopt;
  const auto id = value.get<int64_t>();
  if (id <= 0 || id > (int64_t(1) << 53)) return std::nullopt;
  return id;
}

bool shortString(const json& value, std::size_t bound = kMaxStringBytes) {
  return value.is_string() && value.get_ref<const std::string&>().size() <= bound;
}

std::optional<std::string> text(const json& row, const char* key) {
  const auto it = row.find(key);
  if (it == row.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<double> number(const json& row, const char* key) {
  const auto it = row.find(key);
  if (it == row.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

// The type each row field must have (null always clears it).
enum class FieldType { integer, text, number, boolean };
FieldType fieldType(std::string_view name) {
  if (name == "pid") return FieldType::integer;
  if (name == "startedAt" || name == "updatedAt") return FieldType::number;
  if (name == "working") return FieldType::boolean;
  return FieldType::text;
}

bool fieldFits(std::string_view name, const json& value) {
  if (value.is_null()) return name != "pid" && name != "agent" && name != "startedAt" && name != "working";
  switch (fieldType(name)) {
    case FieldType::integer:
      return value.is_number_integer() && value.get<int64_t>() > 0 && value.get<int64_t>() <= INT32_MAX;
    case FieldType::number:
      return value.is_number() && std::isfinite(value.get<double>());
    case FieldType::boolean:
      return value.is_boolean();
    case FieldType::text:
      return shortString(value);
  }
  return false;
}

}  // namespace

std::string encode(const UpMessage& message) {
  json line = std::visit(
      [](const auto& m) -> json {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Hello>)
          return {{"protocol", m.protocol}, {"version", m.version}, {"time", m.time}};
        else if constexpr (std::is_same_v<T, RowDelta>)
          return {{"row", m.id}, {"set", m.set}};
        else if constexpr (std::is_same_v<T, RowGone>)
          return {{"gone", m.id}};
        else if constexpr (std::is_same_v<T, Request>)
          return {{"request", m.id}, {"event", m.event}, {"payload", m.payload}};
        else if constexpr (std::is_same_v<T, Withdraw>)
          return {{"withdraw", m.id}};
        else if constexpr (std::is_same_v<T, Announce>)
          return {{"announce", m.id}};
        else
          return {{"alive", 1}};
      },
      message);
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string encode(const DownMessage& message) {
  json line = std::visit(
      [](const auto& m) -> json {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Decision>)
          return {{"decision", m.id}, {"reply", m.reply}};
        else if constexpr (std::is_same_v<T, Jump>)
          return {{"jump", m.id}};
        else if constexpr (std::is_same_v<T, Approvals>)
          return {{"approvals", m.on}};
        else
          return {{"alive", 1}};
      },
      message);
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

namespace {

std::optional<json> objectLine(std::string_view line, std::string& error) {
  json value = json_bounds::parse(line);
  if (!value.is_object()) {
    error = value.is_discarded() ? "a line is not JSON" : "a line is not a JSON object";
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<UpMessage> decodeUp(std::string_view line, std::string& error) {
  error.clear();
  const auto value = objectLine(line, error);
  if (!value) return std::nullopt;
  const json& m = *value;
  if (m.contains("protocol")) {
    if (!m["protocol"].is_number_integer()) return error = "the hello's protocol is not a number", std::nullopt;
    Hello hello{m["protocol"].get<int>(), text(m, "version").value_or(""), number(m, "time").value_or(0)};
    if (hello.version.size() > 64) hello.version.resize(64);
    return hello;
  }
  if (m.contains("row")) {
    const auto set = m.find("set");
    if (!shortString(m["row"], 64) || set == m.end() || !set->is_object())
      return error = "a row without its id or fields", std::nullopt;
    return RowDelta{m["row"].get<std::string>(), *set};
  }
  if (m.contains("gone")) {
    if (!shortString(m["gone"], 64)) return error = "a removal without its row id", std::nullopt;
    return RowGone{m["gone"].get<std::string>()};
  }
  if (m.contains("request")) {
    const auto id = idIn(m["request"]);
    const auto payload = m.find("payload");
    if (!id || !shortString(m.value("event", json()), 64) || payload == m.end() || !payload->is_object())
      return error = "a request without its id, event or payload", std::nullopt;
    return Request{*id, m["event"].get<std::string>(), *payload};
  }
  if (m.contains("withdraw")) {
    const auto id = idIn(m["withdraw"]);
    if (!id) return error = "a withdrawal without its request id", std::nullopt;
    return Withdraw{*id};
  }
  if (m.contains("announce")) {
    if (!shortString(m["announce"], 64)) return error = "an announcement without its row id", std::nullopt;
    return Announce{m["announce"].get<std::string>()};
  }
  if (m.contains("alive")) return Alive{};
  return std::nullopt;  // a kind this version does not know: skipped, error empty
}

std::optional<DownMessage> decodeDown(std::string_view line, std::string& error) {
  error.clear();
  const auto value = objectLine(line, error);
  if (!value) return std::nullopt;
  const json& m = *value;
  if (m.contains("decision")) {
    const auto id = idIn(m["decision"]);
    const auto reply = m.find("reply");
    if (!id || reply == m.end() || !reply->is_object())
      return error = "a decision without its request id or reply", std::nullopt;
    return Decision{*id, *reply};
  }
  if (m.contains("jump")) {
    if (!shortString(m["jump"], 64)) return error = "a jump without its row id", std::nullopt;
    return Jump{m["jump"].get<std::string>()};
  }
  if (m.contains("approvals")) {
    if (!m["approvals"].is_boolean()) return error = "approvals that are neither on nor off", std::nullopt;
    return Approvals{m["approvals"].get<bool>()};
  }
  if (m.contains("alive")) return Alive{};
  return std::nullopt;
}

// ---- Rows ---------------------------------------------------------------------------------------

std::string rowId(const AgentSession& session) {
  return std::to_string(session.pid) + ":" + std::to_string(int64_t(session.startedAt));
}

json rowFields(const AgentSession& s) {
  const ConversationSummary none;
  const ConversationSummary& c = s.context ? *s.context : none;
  return {{"pid", s.pid},
          {"agent", s.agentName},
          {"project", s.projectName},
          {"path", orNull(s.projectPath)},
          {"terminal", orNull(s.terminalName)},
          {"tty", orNull(s.terminalTTY)},
          {"startedAt", s.startedAt},
          {"working", s.activity == AgentActivity::working},
          {"sessionId", orNull(s.sessionId)},
          {"session", orNull(s.sessionName)},
          {"waitingFor", orNull(s.waitingFor)},
          {"title", orNull(c.title)},
          {"you", orNull(c.youLine)},
          {"reply", orNull(c.replyLine)},
          {"model", orNull(c.modelName)},
          {"doing", orNull(c.activityLine)},
          {"updatedAt", orNull(c.updatedAt)},
          {"customTitle", orNull(c.customTitle)},
          {"generatedTitle", orNull(c.generatedTitle)}};
}

std::vector<UpMessage> DeltaBuilder::update(const std::vector<AgentSession>& sessions) {
  std::vector<UpMessage> messages;
  std::map<std::string, std::pair<json, AgentSession>> next;
  for (const auto& session : sessions) {
    if (next.size() == kMaxRows) break;  // the oldest rows; the desktop would refuse more
    const std::string id = rowId(session);
    json fields = rowFields(session);
    // Long texts are cut to the bound (at a character boundary) rather than refused.
    for (auto& [key, value] : fields.items())
      if (value.is_string() && value.get_ref<const std::string&>().size() > kMaxStringBytes) {
        std::string cut = value.get<std::string>().substr(0, kMaxStringBytes);
        while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80) cut.pop_back();
        if (!cut.empty() && static_cast<unsigned char>(cut.back()) >= 0xC0) cut.pop_back();
        value = cut;
      }
    RowDelta delta{id};
    const auto before = rows_.find(id);
    for (const auto& [key, value] : fields.items()) {
      if (before == rows_.end() ? !value.is_null() : before->second.first[key] != value) delta.set[key] = value;
    }
    if (!delta.set.empty()) messages.emplace_back(std::in_place_type<RowDelta>, std::move(delta));
    next.emplace(id, std::make_pair(std::move(fields), session));
  }
  for (const auto& [id, row] : rows_)
    if (!next.count(id)) messages.emplace_back(RowGone{id});
  rows_ = std::move(next);
  return messages;
}

std::optional<AgentSession> DeltaBuilder::session(const std::string& id) const {
  const auto it = rows_.find(id);
  if (it == rows_.end()) return std::nullopt;
  return it->second.second;
}

bool RowTable::apply(const RowDelta& delta, std::string& error) {
  auto it = rows_.find(delta.id);
  const bool added = it == rows_.end();
  if (added && rows_.size() >= kMaxRows) return error = "more than 64 agents", false;
  json row = added ? json::object() : it->second;
  for (const auto& [key, value] : delta.set.items()) {
    if (std::find(std::begin(kRowFields), std::end(kRowFields), key) == std::end(kRowFields))
      continue;  // a field of a later version
    if (!fieldFits(key, value)) return error = "a row's \"" + key + "\" has the wrong type or size", false;
    if (value.is_null())
      row.erase(key);
    else
      row[key] = value;
  }
  if (!row.contains("pid") || !row.contains("agent") || !row.contains("startedAt") || !row.contains("working"))
    return error = "a row without its pid, agent, start or state", false;
  if (added)
    rows_.emplace(delta.id, std::move(row));
  else
    it->second = std::move(row);
  return true;
}

std::vector<AgentSession> RowTable::sessions(const std::string& host, Seconds clockOffset, Seconds now,
                                             std::vector<std::string>* ids) const {
  std::vector<std::pair<std::string, AgentSession>> out;
  out.reserve(rows_.size());
  for (const auto& [id, row] : rows_) {
    AgentSession s;
    s.pid = row["pid"].get<int32_t>();
    s.agentName = row["agent"].get<std::string>();
    s.projectPath = text(row, "path");
    s.projectName = text(row, "project").value_or(agentProjectName(s.projectPath, s.agentName));
    s.terminalName = text(row, "terminal");
    s.terminalTTY = text(row, "tty");
    s.startedAt = row["startedAt"].get<double>() + clockOffset;
    s.ageMinutes = int64_t(std::clamp(now - s.startedAt, 0.0, 1e12) / 60);  // a start time may be any finite number
    s.activity = row["working"].get<bool>() ? AgentActivity::working : AgentActivity::quiet;
    s.sessionId = text(row, "sessionId");
    s.sessionName = text(row, "session");
    s.waitingFor = text(row, "waitingFor");
    ConversationSummary c;
    c.title = text(row, "title");
    c.youLine = text(row, "you");
    c.replyLine = text(row, "reply");
    c.modelName = text(row, "model");
    c.activityLine = text(row, "doing");
    if (const auto updated = number(row, "updatedAt")) c.updatedAt = *updated + clockOffset;
    c.customTitle = text(row, "customTitle");
    c.generatedTitle = text(row, "generatedTitle");
    if (c != ConversationSummary{}) s.context = std::move(c);
    // Views show the project name: tagged with the host ("devbox · api").
    const std::string tagged = host + " \u00b7 " + s.projectName;
    if (s.sessionName == s.projectName) s.sessionName = tagged;
    s.projectName = tagged;
    s.host = host;
    out.emplace_back(id, std::move(s));
  }
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.second.startedAt < b.second.startedAt; });
  std::vector<AgentSession> sessions;
  for (auto& [id, session] : out) {
    if (ids) ids->push_back(id);
    sessions.push_back(std::move(session));
  }
  return sessions;
}

void LocalRowIds::number(const std::string& host, const std::vector<std::string>& ids,
                         std::vector<AgentSession>& sessions) {
  std::erase_if(numbers_, [&](const auto& entry) {
    return entry.first.first == host && std::find(ids.begin(), ids.end(), entry.first.second) == ids.end();
  });
  for (size_t i = 0; i < ids.size() && i < sessions.size(); ++i) {
    auto [it, added] = numbers_.try_emplace({host, ids[i]}, next_);
    if (added) next_ = next_ == INT32_MAX ? kFirstLocalId : next_ + 1;
    sessions[i].hostPid = sessions[i].pid;
    sessions[i].pid = it->second;
  }
}

std::optional<std::pair<std::string, std::string>> LocalRowIds::rowOf(int32_t number) const {
  for (const auto& [key, value] : numbers_)
    if (value == number) return key;
  return std::nullopt;
}

std::optional<std::string> RowTable::idOf(int32_t pid) const {
  for (const auto& [id, row] : rows_)
    if (row["pid"].get<int32_t>() == pid) return id;
  return std::nullopt;
}

// ---- Lines and rate -----------------------------------------------------------------------------

bool LineSplitter::feed(std::string_view bytes, std::vector<std::string>& lines) {
  if (failed_) return false;
  while (!bytes.empty()) {
    const auto end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (partial_.size() + piece.size() > maxLine_) {
      partial_.clear();
      partial_.shrink_to_fit();
      return failed_ = true, false;
    }
    partial_.append(piece);
    if (end == std::string_view::npos) break;
    if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
    lines.push_back(std::move(partial_));
    partial_.clear();
    bytes.remove_prefix(end + 1);
  }
  return true;
}

bool RateBound::admit(std::size_t bytes, Seconds uptime) {
  if (last_) {
    const double elapsed = std::max(0.0, uptime - *last_);
    lines_ = std::min(kLineBurst, lines_ + elapsed * kLinesPerSecond);
    bytes_ = std::min(double(kByteBurst), bytes_ + elapsed * kBytesPerSecond);
  }
  last_ = uptime;
  lines_ -= 1;
  bytes_ -= double(bytes);
  return lines_ >= 0 && bytes_ >= 0;
}

// ---- UpStream -----------------------------------------------------------------------------------

void UpStream::close(std::string reason) {
  if (closeReason_.empty()) closeReason_ = std::move(reason);
  rows_.clear();
  pending_.clear();
}

UpStream::Events UpStream::feed(std::string_view bytes, Seconds uptime, Seconds now) {
  Events events;
  if (closed()) return events;
  std::vector<std::string> lines;
  const bool whole = splitter_.feed(bytes, lines);
  for (const auto& line : lines) {
    if (!rate_.admit(line.size() + 1, uptime)) {
      close(host_ + " sent more than the remote protocol allows in a second");
      break;
    }
    take(line, events, now);
    if (closed()) break;
  }
  if (!whole && !closed()) close(host_ + " sent a line longer than " + std::to_string(kMaxLineBytes >> 10) + " KiB");
  if (closed()) return {};
  return events;
}

void UpStream::take(const std::string& line, Events& events, Seconds now) {
  if (line.empty()) return;
  std::string error;
  auto message = decodeUp(line, error);
  if (!hello_) {
    const Hello* hello = message ? std::get_if<Hello>(&*message) : nullptr;
    if (!hello) {
      if (++linesBeforeHello_ > kMaxLinesBeforeHello) close(host_ + " did not answer as Tovami does");
      return;
    }
    if (hello->protocol != kProtocolVersion)
      return close(host_ + " speaks remote protocol " + std::to_string(hello->protocol) + "; this Tovami speaks " +
                   std::to_string(kProtocolVersion) + ": install the same Tovami on both");
    hello_ = *hello;
    clockOffset_ = now - hello->time;
    events.helloNow = true;
    return;
  }
  if (!message) {
    if (!error.empty()) close(host_ + " sent what the remote protocol does not allow: " + error);
    return;
  }
  if (auto* delta = std::get_if<RowDelta>(&*message)) {
    if (!rows_.apply(*delta, error)) return close(host_ + " sent what the remote protocol does not allow: " + error);
    events.rowsChanged = true;
  } else if (auto* gone = std::get_if<RowGone>(&*message)) {
    rows_.apply(*gone);
    events.rowsChanged = true;
  } else if (auto* request = std::get_if<Request>(&*message)) {
    if (pending_.count(request->id)) return close(host_ + " sent one request twice");
    if (pending_.size() >= kMaxPendingRequests) return close(host_ + " sent more than 32 requests at once");
    pending_[request->id] = true;
    events.requests.push_back(std::move(*request));
  } else if (auto* withdraw = std::get_if<Withdraw>(&*message)) {
    if (pending_.erase(withdraw->id)) events.withdrawn.push_back(withdraw->id);
  } else if (auto* announce = std::get_if<Announce>(&*message)) {
    if (rows_.has(announce->id)) ++events.announced;
  } else if (std::holds_alternative<Alive>(*message)) {
    // Only that bytes came: RemoteLink::heard.
  } else {
    close(host_ + " sent a second hello");
  }
}

}  // namespace tovami::remote
