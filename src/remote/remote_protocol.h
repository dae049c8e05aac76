// The remote protocol (docs/remote-protocol.md): JSON lines between `tovami --remote-stream` on
// another machine and the desktop program, inside an SSH channel. Up: a hello, agent rows as
// deltas, approval requests and withdrawals. Down: decisions and jumps. Everything that comes up
// is data, bounded here in size and rate; the first breach ends the link.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "agents/agent_session.h"
#include "platform/scheduler.h"

namespace tovami::remote {

inline constexpr int kProtocolVersion = 1;

// Bounds of what comes up; a remote side past any of them is disconnected.
inline constexpr std::size_t kMaxLineBytes = 256u << 10;  // an approval request (64 KiB) with room
inline constexpr std::size_t kMaxRows = 64;
inline constexpr std::size_t kMaxStringBytes = 4096;  // one field of a row
inline constexpr std::size_t kMaxPendingRequests = 32;
// Lines before the hello that are not it (a shell start-up file that prints) are skipped, up to:
inline constexpr int kMaxLinesBeforeHello = 16;
// Rate: a bucket of lines and one of bytes, refilled per second.
inline constexpr double kLineBurst = 400, kLinesPerSecond = 100;
inline constexpr double kByteBurst = 2u << 20, kBytesPerSecond = 512u << 10;
// A remote side that wrote nothing for this long says it is alive; a desktop that read nothing for
// three of them (as ssh's own keep-alives count) closes the link: the remote side is stuck or stopped.
inline constexpr Seconds kHeartbeatAfter = 15, kSilentAfter = 3 * kHeartbeatAfter;

// ---- Messages -----------------------------------------------------------------------------------

struct Hello {
  int protocol = 0;
  std::string version;  // the remote Tovami's version
  Seconds time = 0;     // the remote clock when it wrote the hello (Unix seconds)
  bool operator==(const Hello&) const = default;
};
// A row's changed fields: each key of `set` is a field of the row (kRowFields); null clears it.
struct RowDelta {
  std::string id;
  nlohmann::json set = nlohmann::json::object();
  bool operator==(const RowDelta&) const = default;
};
struct RowGone {
  std::string id;
  bool operator==(const RowGone&) const = default;
};
// An approval request as the approval socket received it: `event` and `payload` of that protocol.
struct Request {
  int64_t id = 0;
  std::string event;
  nlohmann::json payload;
  bool operator==(const Request&) const = default;
};
struct Withdraw {
  int64_t id = 0;
  bool operator==(const Withdraw&) const = default;
};
// The row's agent just finished a long stretch of work (the host's watcher decided, by its rules).
struct Announce {
  std::string id;
  bool operator==(const Announce&) const = default;
};
// Down: the reply object of the approval protocol for request `id`; an empty object is no verdict.
struct Decision {
  int64_t id = 0;
  nlohmann::json reply;
  bool operator==(const Decision&) const = default;
};
// Down: bring the row's tmux pane forward on the remote side.
struct Jump {
  std::string id;
  bool operator==(const Jump&) const = default;
};

// Either side wrote nothing for kHeartbeatAfter: it is still there.
struct Alive {
  bool operator==(const Alive&) const = default;
};

using UpMessage = std::variant<Hello, RowDelta, RowGone, Request, Withdraw, Announce, Alive>;
// Down: whether this host's approvals come to the desktop; the remote side serves its approval
// socket only while they do.
struct Approvals {
  bool on = false;
  bool operator==(const Approvals&) const = default;
};

using DownMessage = std::variant<Decision, Jump, Approvals, Alive>;

// One line of text, without its line feed.
std::string encode(const UpMessage& message);
std::string encode(const DownMessage& message);

// A line decoded, or nothing with `error` in words ("it is not a JSON object").
std::optional<UpMessage> decodeUp(std::string_view line, std::string& error);
std::optional<DownMessage> decodeDown(std::string_view line, std::string& error);

// ---- Rows ---------------------------------------------------------------------------------------

// The row fields, as named on the wire.
inline constexpr std::string_view kRowFields[] = {
    "pid",       "agent",     "project",     "path",     "terminal", "tty",   "startedAt", "working",
    "sessionId", "session",   "waitingFor",  "title",    "you",      "reply", "model",     "doing",
    "updatedAt", "customTitle", "generatedTitle"};

// A row's stable id: the pid and start time, so a reused pid is another row.
std::string rowId(const AgentSession& session);
// Every field of the row, null where absent.
nlohmann::json rowFields(const AgentSession& session);

// The remote side: turns each scan's rows into the messages that say what changed since the last.
class DeltaBuilder {
 public:
  std::vector<UpMessage> update(const std::vector<AgentSession>& sessions);
  // The session behind a row id, as last seen.
  std::optional<AgentSession> session(const std::string& id) const;

 private:
  std::map<std::string, std::pair<nlohmann::json, AgentSession>> rows_;
};

// The desktop side: the rows as the deltas built them. Rows come out tagged with `host` (their
// project name too: "devbox · api"), their start times moved onto the local clock by the offset the
// hello gave.
class RowTable {
 public:
  // False with `error` when the message would break a bound or a field has the wrong type.
  bool apply(const RowDelta& delta, std::string& error);
  void apply(const RowGone& gone) { rows_.erase(gone.id); }
  void clear() { rows_.clear(); }
  // Oldest first; `ids` (when given) gets each row's id in the same order.
  std::vector<AgentSession> sessions(const std::string& host, Seconds clockOffset, Seconds now,
                                     std::vector<std::string>* ids = nullptr) const;
  // The id of the row with this pid.
  std::optional<std::string> idOf(int32_t pid) const;
  std::size_t size() const { return rows_.size(); }
  bool has(const std::string& id) const { return rows_.count(id) > 0; }

 private:
  std::map<std::string, nlohmann::json> rows_;
};

// Rows of other machines get a local number in place of their pid, from kFirstLocalId up: views
// name rows by number, and a remote pid must never be taken for a process of this machine.
class LocalRowIds {
 public:
  static constexpr int32_t kFirstLocalId = int32_t(1) << 30;  // above any pid_max
  static bool isRemote(int32_t pid) { return pid >= kFirstLocalId; }

  // Gives `sessions` (the host's rows, with `ids` their row ids) their numbers, kept while the row
  // lasts; the numbers of the host's rows that went are forgotten.
  void number(const std::string& host, const std::vector<std::string>& ids, std::vector<AgentSession>& sessions);
  void forget(const std::string& host) { number(host, {}, empty_); }
  // The host and row id behind a number.
  std::optional<std::pair<std::string, std::string>> rowOf(int32_t number) const;

 private:
  std::map<std::pair<std::string, std::string>, int32_t> numbers_;
  int32_t next_ = kFirstLocalId;
  std::vector<AgentSession> empty_;
};

// ---- Lines and rate -----------------------------------------------------------------------------

// Cuts a byte stream into lines. A line longer than the bound fails the splitter for good (its
// bytes are never held past the bound).
class LineSplitter {
 public:
  explicit LineSplitter(std::size_t maxLine = kMaxLineBytes) : maxLine_(maxLine) {}
  // Appends the whole lines in `bytes` (without their line feeds, a trailing CR dropped) to
  // `lines`. False once a line was too long.
  bool feed(std::string_view bytes, std::vector<std::string>& lines);
  bool failed() const { return failed_; }

 private:
  std::size_t maxLine_;
  std::string partial_;
  bool failed_ = false;
};

// Two token buckets (lines and bytes) in monotonic time.
class RateBound {
 public:
  // False when this line overdraws either bucket.
  bool admit(std::size_t bytes, Seconds uptime);

 private:
  double lines_ = kLineBurst, bytes_ = kByteBurst;
  std::optional<Seconds> last_;
};

// Each side: a heartbeat is due once kHeartbeatAfter passed since the last line written.
class Heartbeat {
 public:
  void wrote(Seconds uptime) { last_ = uptime; }
  // Until the heartbeat is due (0 when it is).
  Seconds wait(Seconds uptime) const { return std::max<Seconds>(0, last_ + kHeartbeatAfter - uptime); }

 private:
  Seconds last_ = 0;
};

// The remote side's ear: once the desktop has shown that it sends heartbeats (an earlier version
// does not), kSilentAfter without a line from it means the link is gone though the channel stays
// open (the network dropped, or the desktop is stopped or asleep): the remote side ends, and its
// waiting clients with it, without a verdict.
class DesktopSilence {
 public:
  void heard(bool heartbeat, Seconds uptime) {
    armed_ = armed_ || heartbeat;
    last_ = uptime;
  }
  // Until the silence ends the link (0 when it has); nothing while not armed.
  std::optional<Seconds> wait(Seconds uptime) const {
    if (!armed_) return std::nullopt;
    return std::max<Seconds>(0, last_ + kSilentAfter - uptime);
  }

 private:
  bool armed_ = false;
  Seconds last_ = 0;
};

// ---- The desktop side of one link ---------------------------------------------------------------

// What came up, checked: the hello first, then rows and requests within their bounds. Feed it the
// raw bytes; it says what to show, and the first breach closes it with a reason in words.
class UpStream {
 public:
  struct Events {
    bool helloNow = false;   // the hello arrived in this feed
    bool rowsChanged = false;
    std::vector<Request> requests;
    std::vector<int64_t> withdrawn;
    int announced = 0;  // agents that finished a long stretch, rows of this host
  };
  explicit UpStream(std::string host) : host_(std::move(host)) {}

  // Nothing once closed: `closeReason()` then says why.
  Events feed(std::string_view bytes, Seconds uptime, Seconds now);
  bool closed() const { return !closeReason_.empty(); }
  const std::string& closeReason() const { return closeReason_; }
  bool greeted() const { return hello_.has_value(); }
  const std::optional<Hello>& hello() const { return hello_; }
  const RowTable& rows() const { return rows_; }
  Seconds clockOffset() const { return clockOffset_; }
  // A request that was answered or withdrawn on this side leaves the count.
  void settled(int64_t id) { pending_.erase(id); }

 private:
  void close(std::string reason);
  void take(const std::string& line, Events& events, Seconds now);

  std::string host_;
  LineSplitter splitter_;
  RateBound rate_;
  std::optional<Hello> hello_;
  int linesBeforeHello_ = 0;
  Seconds clockOffset_ = 0;
  RowTable rows_;
  std::map<int64_t, bool> pending_;
  std::string closeReason_;
};

}  // namespace tovami::remote
