#include "agents/agent_logs.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>
#include <tuple>
#include <utility>

#include "agents/claude_project_folder.h"
#include "peers/codex_peer.h"
#include "peers/gemini_peer.h"

namespace tovami {
namespace {

namespace fs = std::filesystem;

// Names taken from files go into paths: letters, digits, "-", "_" and "." only, never "." or "..".
bool plainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= 200 &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                  c == '_' || c == '.';
         });
}

bool isRegular(const fs::directory_entry& entry) {
  std::error_code error;
  return entry.is_regular_file(error) && !error;
}

std::optional<Seconds> modifiedAt(const fs::directory_entry& entry) {
  std::error_code error;
  const auto time = entry.last_write_time(error);
  if (error) return std::nullopt;
  return unixSeconds(time);
}

// The first `limit` bytes of a regular file.
std::string readHead(const fs::path& file, std::size_t limit) {
  std::error_code error;
  if (!fs::is_regular_file(fs::status(file, error)) || error) return {};
  std::ifstream in(file, std::ios::binary);
  std::string text(limit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(limit));
  text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return text;
}

// "YYYY/MM/DD" of a Unix time in UTC.
std::string datePath(Seconds time) {
  const auto days = std::chrono::floor<std::chrono::days>(
      std::chrono::sys_seconds(std::chrono::seconds(static_cast<long long>(time))));
  const std::chrono::year_month_day date(days);
  char text[16];
  std::snprintf(text, sizeof text, "%04d/%02u/%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

// The entries of a folder whose names pass `keep`, in name order; nothing when it cannot be listed.
template <typename Keep>
std::vector<fs::directory_entry> entriesOf(const fs::path& folder, Keep keep) {
  std::vector<fs::directory_entry> entries;
  std::error_code error;
  fs::directory_iterator it(folder, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error))
    if (keep(it->path().filename().string())) entries.push_back(*it);
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool allDigits(const std::string& name, std::size_t length) {
  return name.size() == length &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

AgentLogLocations AgentLogLocations::fromEnvironment(const claude_code::EnvironmentLookup& environment) {
  fs::path home;
  if (auto value = environment("HOME")) home = *value;
  AgentLogLocations locations;
  locations.claude = claude_code::ClaudeCodeLocations::fromEnvironment(environment);
  locations.codexSessions = codex::sessionsFolder(home, environment(codex::kHomeVariable));
  locations.geminiFolder = gemini::configFolder(home);
  return locations;
}

std::optional<fs::path> claudeTranscriptOf(const fs::path& projectsFolder, const std::string& projectPath,
                                           const std::string& sessionId) {
  if (projectsFolder.empty() || projectPath.empty() || !plainName(sessionId)) return std::nullopt;
  const std::string file = sessionId + ".jsonl";
  std::error_code error;
  for (const auto& name : claude_transcript::candidateFolderNames(projectPath)) {
    const fs::path path = projectsFolder / name / file;
    if (fs::is_regular_file(fs::status(path, error))) return path;
  }
  if (auto prefix = claude_code::projectFolderPrefix(claude_code::projectFolderName(projectPath))) {
    for (const auto& folder :
         entriesOf(projectsFolder, [&](const std::string& n) { return n.starts_with(*prefix); }))
      if (fs::is_regular_file(fs::status(folder.path() / file, error))) return folder.path() / file;
  }
  return std::nullopt;
}

AgentLogReader::AgentLogReader(AgentLogLocations locations)
    : locations_(std::move(locations)), statuses_(locations_.claude) {}

AgentLogReport AgentLogReader::read(const AgentLogRequest& request) {
  if (auto binding = bindings_.find(request.pid); binding != bindings_.end()) binding->second.touched = true;
  if (request.agentName == claude_code::kAgentName) return readClaude(request);
  if (!request.projectPath) return {};
  if (request.agentName != codex::kAgentName && request.agentName != gemini::kAgentName) return {};
  if (auto kept = keptLog(request)) return std::move(*kept);
  return readAssigned(request);
}

void AgentLogReader::scanStarting(const std::vector<AgentLogRequest>& agents) {
  scanAgents_ = agents;
  assignments_.clear();
}

void AgentLogReader::scanEnded() {
  statuses_.forgetUnread();
  for (auto it = bindings_.begin(); it != bindings_.end();)
    it = std::exchange(it->second.touched, false) ? std::next(it) : bindings_.erase(it);
  if (codexMetas_.size() > 4096) codexMetas_.clear();
  if (geminiHeaders_.size() > 4096) geminiHeaders_.clear();
  scanAgents_.clear();
  assignments_.clear();
}

std::vector<const AgentLogRequest*> AgentLogReader::peersOf(const AgentLogRequest& request) const {
  std::vector<const AgentLogRequest*> peers;
  bool self = false;
  for (const auto& agent : scanAgents_)
    if (agent.agentName == request.agentName && agent.projectPath == request.projectPath) {
      self = self || agent.pid == request.pid;
      peers.push_back(&agent);
    }
  if (!self) peers.push_back(&request);
  std::sort(peers.begin(), peers.end(), [](auto* a, auto* b) { return a->pid < b->pid; });
  return peers;
}

AgentLogReader::Peers AgentLogReader::peerKey(const AgentLogRequest& request) const {
  Peers key;
  for (const auto* peer : peersOf(request)) key.emplace_back(peer->pid, peer->startedAt);
  return key;
}

std::optional<ConversationSummary> AgentLogReader::follow(const AgentLogRequest& request,
                                                          const fs::path& file, ConversationFormat format,
                                                          std::optional<std::string> sessionId) {
  Binding& binding = bindings_[request.pid];
  binding.touched = true;
  binding.process = {request.processStart, request.startedAt};
  binding.peers = peerKey(request);
  if (!binding.log || binding.log->path() != file)
    binding.log = std::make_unique<ConversationLog>(file, format);
  binding.sessionId = std::move(sessionId);
  binding.scansSinceFound = 0;
  return binding.log->read();
}

std::optional<AgentLogReport> AgentLogReader::keptLog(const AgentLogRequest& request,
                                                      const std::optional<std::string>* sessionId) {
  const auto binding = bindings_.find(request.pid);
  if (binding == bindings_.end() || !binding->second.log) return std::nullopt;
  Binding& kept = binding->second;
  // The pid may name another process by now.
  if (kept.process != std::pair(request.processStart, request.startedAt)) return std::nullopt;
  if (kept.peers != peerKey(request)) return std::nullopt;  // the one-to-one choice may differ now
  if (sessionId ? *sessionId != kept.sessionId : ++kept.scansSinceFound >= kFindAgainEvery)
    return std::nullopt;
  AgentLogReport report;
  report.conversation = kept.log->read();
  if (!report.conversation) return std::nullopt;  // gone or replaced by something else: look again
  report.sessionId = kept.sessionId;
  return report;
}

bool AgentLogReader::boundToAnother(int32_t pid, const fs::path& file) const {
  return std::any_of(bindings_.begin(), bindings_.end(), [&](const auto& entry) {
    return entry.first != pid && entry.second.log && entry.second.log->path() == file;
  });
}

std::optional<fs::path> AgentLogReader::openLog(const AgentLogRequest& request, const fs::path& under,
                                                std::string_view prefix, std::string_view extension) const {
  if (!request.openFiles || under.empty()) return std::nullopt;
  const std::string root = under.lexically_normal().string() + "/";
  for (const auto& open : request.openFiles()) {
    const fs::path path(open);
    const std::string name = path.filename().string();
    if (open.starts_with(root) && name.starts_with(prefix) && name.ends_with(extension)) return path;
  }
  return std::nullopt;
}

AgentLogReport AgentLogReader::readClaude(const AgentLogRequest& request) {
  AgentLogReport report;
  report.status = statuses_.read(request.pid, request.processStart);
  const fs::path projects = locations_.claude.projectsFolder();
  if (report.status) {
    report.sessionId = report.status->sessionId;
    // The session's transcript stays where it is: looked for again when the session changes.
    if (auto kept = keptLog(request, &report.sessionId)) {
      report.conversation = std::move(kept->conversation);
      return report;
    }
    const std::string folder = report.status->cwd.value_or(request.projectPath.value_or(""));
    if (auto file = claudeTranscriptOf(projects, folder, report.status->sessionId)) {
      report.conversation = follow(request, *file, ConversationFormat::claudeCode, report.sessionId);
    } else {
      bindings_.erase(request.pid);  // a session without a prompt yet has no transcript
    }
    return report;
  }
  if (auto kept = keptLog(request)) return std::move(*kept);
  if (auto file = openLog(request, projects, "", ".jsonl")) {
    report.sessionId = file->stem().string();
    report.conversation = follow(request, *file, ConversationFormat::claudeCode, report.sessionId);
    return report;
  }
  if (!request.projectPath) return report;
  for (const auto& file : claude_transcript::transcriptFiles(*request.projectPath, projects)) {
    if (boundToAnother(request.pid, file.path)) continue;
    report.conversation = follow(request, file.path, ConversationFormat::claudeCode);
    if (report.conversation) return report;
  }
  return report;
}

std::optional<codex_rollout::SessionMeta> AgentLogReader::codexMeta(const fs::path& file) {
  auto [it, fresh] = codexMetas_.try_emplace(file.string());
  // The first record carries the instructions: tens of KB.
  if (fresh) it->second = codex_rollout::sessionMeta(readHead(file, log_lines::kTailBytes));
  return it->second;
}

std::optional<gemini_chat::Header> AgentLogReader::geminiHeader(const fs::path& file) {
  auto [it, fresh] = geminiHeaders_.try_emplace(file.string());
  if (fresh) it->second = gemini_chat::header(readHead(file, 65536));
  return it->second;
}

std::vector<AgentLogReader::Candidate> AgentLogReader::codexCandidates(const std::string& projectPath,
                                                                       Seconds since) {
  std::vector<Candidate> found;
  const fs::path& sessions = locations_.codexSessions;
  if (sessions.empty()) return found;
  // Dated folders in local time: from the day before the start in UTC on covers every zone.
  const std::string day0 = datePath(since - 86400);
  for (const auto& year :
       entriesOf(sessions, [&](const std::string& n) { return allDigits(n, 4) && n >= day0.substr(0, 4); }))
    for (const auto& month : entriesOf(year.path(), [](const std::string& n) { return allDigits(n, 2); }))
      for (const auto& day : entriesOf(month.path(), [](const std::string& n) { return allDigits(n, 2); })) {
        const std::string date = year.path().filename().string() + "/" + month.path().filename().string() +
                                 "/" + day.path().filename().string();
        if (date < day0) continue;
        for (const auto& file : entriesOf(day.path(), [](const std::string& n) {
               return n.starts_with(codex::kRolloutPrefix) && n.ends_with(codex::kRolloutExtension);
             })) {
          const auto modified = modifiedAt(file);
          if (!modified || *modified < since - kStartSlack || !isRegular(file)) continue;
          const auto meta = codexMeta(file.path());
          if (!meta || meta->cwd != projectPath) continue;
          found.push_back({file.path(), *modified, meta->startedAt, meta->id});
        }
      }
  return found;
}

std::vector<AgentLogReader::Candidate> AgentLogReader::geminiCandidates(const std::string& projectPath,
                                                                        Seconds since) {
  std::vector<Candidate> found;
  const auto chats = geminiChats(projectPath);
  if (!chats) return found;
  for (const auto& file : entriesOf(*chats, [](const std::string& n) {
         return n.starts_with(gemini::kChatPrefix) && (n.ends_with(".jsonl") || n.ends_with(".json"));
       })) {
    const auto modified = modifiedAt(file);
    if (!modified || *modified < since - kStartSlack || !isRegular(file)) continue;
    Candidate candidate{file.path(), *modified, std::nullopt, std::nullopt};
    // The older ".json" form is one document: no header line to read.
    if (file.path().extension() == ".jsonl")
      if (auto header = geminiHeader(file.path())) {
        candidate.startedAt = header->startedAt;
        candidate.sessionId = header->sessionId;
      }
    found.push_back(std::move(candidate));
  }
  return found;
}

const AgentLogReader::Assignment& AgentLogReader::assignment(const AgentLogRequest& request) {
  // Named references, not a structured binding: lambdas below capture them.
  auto& entry = assignments_[std::pair(request.agentName, *request.projectPath)];
  auto& forPeers = entry.first;
  auto& assigned = entry.second;
  Peers key = peerKey(request);
  // Made this scan for these agents: an agent asking twice is in the next one.
  if (forPeers == key && !assigned.served.count(request.pid)) {
    assigned.served.insert(request.pid);
    return assigned;
  }
  forPeers = std::move(key);
  assigned = {};
  assigned.served.insert(request.pid);
  const std::vector<const AgentLogRequest*> all = peersOf(request);
  std::vector<const AgentLogRequest*> peers = all;  // those still without a log
  Seconds since = request.startedAt;
  for (const auto* peer : peers) since = std::min(since, peer->startedAt);
  const bool isCodex = request.agentName == codex::kAgentName;
  std::vector<Candidate> candidates =
      isCodex ? codexCandidates(*request.projectPath, since) : geminiCandidates(*request.projectPath, since);
  // Another folder's agent, or one that ended this scan, keeps what it follows.
  const auto boundToOthers = [&](const fs::path& file) {
    return std::any_of(bindings_.begin(), bindings_.end(), [&](const auto& binding) {
      return binding.second.log && binding.second.log->path() == file &&
             std::none_of(all.begin(), all.end(), [&](auto* peer) { return peer->pid == binding.first; });
    });
  };
  std::erase_if(candidates, [&](const Candidate& c) { return boundToOthers(c.path); });
  // A rollout the agent holds open itself is its own.
  if (isCodex)
    for (const auto* peer : std::vector(peers))
      if (auto open =
              openLog(*peer, locations_.codexSessions, codex::kRolloutPrefix, codex::kRolloutExtension)) {
        if (std::any_of(assigned.found.begin(), assigned.found.end(),
                        [&](auto& a) { return a.second.path == *open; }) ||
            boundToOthers(*open))
          continue;
        std::erase_if(candidates, [&](const Candidate& c) { return c.path == *open; });
        const auto meta = codexMeta(*open);
        assigned.found[peer->pid] = {*open, meta ? std::optional(meta->id) : std::nullopt};
        std::erase(peers, peer);
      }
  // The others: each session to the agent that started closest before it; its newest to each agent.
  std::unordered_map<int32_t, const Candidate*> newest;
  std::vector<const Candidate*> unplaced, timed;
  for (const auto& c : candidates) (c.startedAt ? timed : unplaced).push_back(&c);
  // In the order the sessions began, each to the agent that started closest before it, an agent
  // without a session first. An agent begins its session within seconds of its start; agents started
  // within moments of each other may both begin theirs after both started (Codex's shared app-server
  // begins them seconds later, in either order): while two or more such sessions follow two or more
  // such agents, which is whose cannot be told, and they are left to nobody rather than swapped.
  std::sort(timed.begin(), timed.end(), [](auto* a, auto* b) { return *a->startedAt < *b->startedAt; });
  for (const Candidate* candidate : timed) {
    const Candidate& c = *candidate;
    const AgentLogRequest* owner = nullptr;
    int withoutSession = 0;
    Seconds latestStart = 0;
    for (const auto* peer : peers) {
      if (peer->startedAt > *c.startedAt + kSessionSlack) continue;
      // Only agents surely started before the session began count here (no slack).
      const Seconds before = *c.startedAt - peer->startedAt;
      if (!newest.count(peer->pid) && before >= 0 && before <= kSessionBeginWindow) {
        ++withoutSession;
        latestStart = std::max(latestStart, peer->startedAt);
      }
      const auto gap = [&](const AgentLogRequest* p) {
        return std::tuple(newest.count(p->pid) > 0, p->startedAt > *c.startedAt,
                          std::abs(*c.startedAt - p->startedAt));
      };
      if (!owner || gap(peer) < gap(owner)) owner = peer;
    }
    if (withoutSession > 1 && std::count_if(timed.begin(), timed.end(), [&](const Candidate* other) {
                                return *other->startedAt >= latestStart;
                              }) > 1)
      continue;
    if (!owner) {
      unplaced.push_back(&c);
      continue;
    }
    const Candidate*& best = newest[owner->pid];
    if (!best || c.modified > best->modified) best = &c;
  }
  for (const auto& [pid, c] : newest) assigned.found[pid] = {c->path, c->sessionId};
  std::erase_if(peers, [&](auto* peer) { return assigned.found.count(peer->pid) > 0; });
  // Logs without a start, or older than every agent: the newest written since the agent started.
  std::sort(unplaced.begin(), unplaced.end(), [](auto* a, auto* b) { return a->modified > b->modified; });
  for (const auto* peer : peers)
    for (auto it = unplaced.begin(); it != unplaced.end(); ++it)
      if ((*it)->modified >= peer->startedAt - kStartSlack) {
        assigned.found[peer->pid] = {(*it)->path, (*it)->sessionId};
        unplaced.erase(it);
        break;
      }
  return assigned;
}

AgentLogReport AgentLogReader::readAssigned(const AgentLogRequest& request) {
  AgentLogReport report;
  const Assignment& assigned = assignment(request);
  const auto found = assigned.found.find(request.pid);
  if (found == assigned.found.end()) {
    bindings_.erase(request.pid);
    return report;
  }
  report.sessionId = found->second.sessionId;
  report.conversation =
      follow(request, found->second.path,
             request.agentName == codex::kAgentName ? ConversationFormat::codex : ConversationFormat::gemini,
             report.sessionId);
  return report;
}

std::optional<fs::path> AgentLogReader::geminiChats(const std::string& projectPath) {
  if (locations_.geminiFolder.empty()) return std::nullopt;
  if (auto known = geminiFolders_.find(projectPath); known != geminiFolders_.end()) return known->second;
  const fs::path temp = locations_.geminiFolder / gemini::kTempFolder;
  std::optional<std::string> id = gemini::registeredProjectId(
      readHead(locations_.geminiFolder / gemini::kProjectsFile, 1 << 20), projectPath);
  if (!id) {
    // Not registered (yet): the folder whose .project_root names the project.
    for (const auto& folder : entriesOf(temp, [](const std::string& n) { return plainName(n); })) {
      std::string root = readHead(folder.path() / gemini::kProjectRootFile, 4096);
      while (!root.empty() && (root.back() == '\n' || root.back() == '\r')) root.pop_back();
      if (root == projectPath) {
        id = folder.path().filename().string();
        break;
      }
    }
  }
  if (!id || !plainName(*id)) return std::nullopt;
  const fs::path chats = temp / *id / gemini::kChatsFolder;
  geminiFolders_[projectPath] = chats;
  return chats;
}

}  // namespace tovami
