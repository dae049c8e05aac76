#include "agents/agent_watcher.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "agents/agent_listing.h"
#include "app/preference_keys.h"
#include "nap_fakes.h"
#include "support/fake_running_applications.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;

// What the watcher sees of the system: a process table in virtual time (each row as of `since`,
// its CPU seconds growing at `rate` after that), working directories, applications, battery, nap,
// island, the agents' logs (a Claude Code transcript written `transcriptAge` ago) and the pane the
// user looks at.
class FakeSystem final : public ProcessSampler,
                         public FakeRunningApplications,
                         public BatteryReader,
                         public NapControl,
                         public AgentAnnouncementSink,
                         public AgentLogs,
                         public AgentAttention {
 public:
  struct Process {
    PSRow row;
    double rate = 0;
    Seconds since = 0;
  };
  explicit FakeSystem(Clock& clock) : clock_(clock) {}
  std::map<int32_t, Process> table;
  std::map<int32_t, std::string> directories;
  std::vector<std::vector<int32_t>> asked;
  std::function<void()> onSample;
  std::optional<BatteryReading> battery;
  std::optional<Seconds> transcriptAge;
  std::optional<ClaudeSessionStatus> status;
  int samples = 0, napStarts = 0, announcements = 0, transcriptReads = 0;
  int32_t lookedAt = 0;
  bool failing = false, napping = false;

  void add(int32_t pid, int32_t ppid, std::string args, std::optional<std::string> tty = std::nullopt,
           double cpu = 0, Seconds age = 0) {
    table[pid] = {{pid, ppid, std::move(tty), cpu, age, std::move(args)}, 0, clock_.now()};
  }
  PSRow row(int32_t pid) const {
    auto p = table.at(pid);
    p.row.cpuTime += p.rate * (clock_.now() - p.since), p.row.elapsed += clock_.now() - p.since;
    return p.row;
  }
  void setRate(int32_t pid, double rate) { table[pid] = {row(pid), rate, clock_.now()}; }

  std::optional<std::vector<PSRow>> sampleProcesses() override {
    if (++samples, onSample) onSample();
    if (failing) return std::nullopt;
    std::vector<PSRow> rows;
    for (const auto& entry : table) rows.push_back(row(entry.first));
    return rows;
  }
  std::map<int32_t, std::string> workingDirectories(const std::vector<int32_t>& pids) override {
    asked.push_back(pids);
    std::map<int32_t, std::string> out;
    for (int32_t pid : pids)
      if (directories.contains(pid)) out[pid] = directories[pid];
    return out;
  }
  std::optional<BatteryReading> batteryReading() const override { return battery; }
  void startNap() override { ++napStarts; }
  void endNap() override {}
  bool isNapping() const override { return napping; }
  void scheduleScreenRebuild() override {}
  void announce() override { ++announcements; }
  AgentLogReport read(const AgentLogRequest& request) override {
    AgentLogReport report;
    if (request.agentName != "Claude Code") return report;
    report.status = status;
    if (!request.projectPath || (++transcriptReads, !transcriptAge)) return report;
    report.conversation = ConversationSummary{.youLine = "fix the tests in " + *request.projectPath,
                                              .updatedAt = clock_.now() - *transcriptAge};
    return report;
  }
  bool userIsLookingAt(const AgentSession& session) override { return session.pid == lookedAt; }

 private:
  Clock& clock_;
};

constexpr int32_t kTmux = 50, kShell = 100, kAgent = 200, kBuild = 300;
// What the watcher did so far: keep-awake held, island announcements, chimes, naps started.
using Effects = std::tuple<bool, int, size_t, int>;

class AgentWatcherTest : public ::testing::Test {
 protected:
  AgentWatcherTest() : sys(std::make_shared<FakeSystem>(dispatcher.clock())) {
    for (auto key : prefs::kSeededTrue) prefs.setBool(key, true);  // as at a first launch
    sys->add(kTmux, 1, "tmux new-session");
    sys->add(kShell, kTmux, "-zsh", "pts/3");
    sys->add(kAgent, kShell, "claude --model sonnet", "pts/3");
    sys->directories[kAgent] = "/home/u/api";
    watcher = std::make_shared<AgentWatcher>(AgentWatcherDependencies{
        dispatcher, prefs, sys, sys, sys, power, sys, [this] { return sys.get(); }, sys,
        [this](SoundCue cue) { cues.push_back(cue); }, sys});
    watcher->state().addObserver([this] { ++notifications; });
  }

  void startFor(Seconds seconds) { watcher->start(), dispatcher.advance(seconds); }
  const std::vector<AgentSession>& sessions() { return watcher->state().sessions(); }
  AgentActivity activity() { return sessions().at(0).activity; }
  AgentActivity activityAfter(Seconds seconds) { return dispatcher.advance(seconds), activity(); }
  Effects effects() { return {watcher->isKeepingAwake(), sys->announcements, cues.size(), sys->napStarts}; }
  // Lets the agent burn CPU for `seconds`, then sit still.
  void work(Seconds seconds) { sys->setRate(kAgent, 0.5), dispatcher.advance(seconds), sys->setRate(kAgent, 0); }
  // A stretch of work that ends: the scan after it still sees its last CPU, ten silent seconds follow.
  void stretch(Seconds seconds = 90) { work(seconds), dispatcher.advance(15); }
  // Five minutes after the last announcement, a stretch.
  void stretchLater() { dispatcher.advance(300), stretch(); }

  VirtualDispatcher dispatcher;
  MemoryPreferences prefs;
  std::shared_ptr<FakeSystem> sys;
  FakePower power;
  std::vector<SoundCue> cues;
  int notifications = 0;
  std::shared_ptr<AgentWatcher> watcher;
};

TEST_F(AgentWatcherTest, NewAgentIsWorkingThenQuietAfterTenSilentSecondsWithoutAnnouncement) {
  watcher->start();
  EXPECT_EQ(activityAfter(0.5), AgentActivity::working);
  EXPECT_EQ(activityAfter(9.0), AgentActivity::working);  // scans at 3.5, 6.5, 9.5: idle 9 s
  EXPECT_EQ(activityAfter(3.0), AgentActivity::quiet);    // 12.5: idle 12 s
  EXPECT_EQ(effects(), Effects(false, 0, 0, 0));
  EXPECT_TRUE(power.held.empty());

  // The working directory is asked once, for the new agent only; an unchanged quiet list does
  // not even wake the main thread.
  const int before = notifications;
  const size_t posts = dispatcher.mainQueuePosts();
  dispatcher.advance(30);
  EXPECT_EQ(sys->asked, (std::vector<std::vector<int32_t>>{{kAgent}}));
  EXPECT_EQ(notifications, before);
  EXPECT_EQ(dispatcher.mainQueuePosts(), posts);
}

TEST_F(AgentWatcherTest, LongStretchIsAnnouncedOnceInFiveMinutesUnlessItsTerminalIsInFrontOrANapRuns) {
  watcher->start();
  stretch(300);
  EXPECT_EQ(effects(), Effects(false, 1, 1, 0));
  EXPECT_EQ(cues.at(0), SoundCue::agentQuiet);
  stretch();  // ends 105 s after the announcement: not announced again
  EXPECT_EQ(effects(), Effects(false, 1, 1, 0));

  // Past five minutes, but the user already looks at the agent's terminal (its pane: test_agent_attention),
  // then a nap runs.
  sys->registered = {kTmux}, sys->frontmost = kTmux;
  stretchLater();
  sys->frontmost = 4242;
  sys->napping = true;
  stretchLater();
  EXPECT_EQ(effects(), Effects(false, 1, 1, 0));

  // Neither: the chime plays; the island opens only when the user wants it to.
  sys->napping = false;
  prefs.setBool(prefs::kAgentOpensIsland, false);
  stretchLater();
  EXPECT_EQ(effects(), Effects(false, 1, 2, 0));
  prefs.setBool(prefs::kAgentOpensIsland, true);
  stretchLater();
  EXPECT_EQ(effects(), Effects(false, 2, 3, 0));
}

// Claude Code's status file replaces the CPU rule while it is there: "busy" works with flat CPU,
// "idle" is quiet at once however busy the CPU, "waiting" is quiet and needs the user.
TEST_F(AgentWatcherTest, TheAgentsOwnStatusReplacesTheCPURuleWhileItIsThere) {
  using State = ClaudeSessionStatus::State;
  const auto reportedAs = [&](std::optional<State> state, std::optional<std::string> waitingFor = std::nullopt) {
    sys->status = state ? std::optional(ClaudeSessionStatus{kAgent, "s-1", "/home/u/api", "Status name", *state, waitingFor, {}})
                   : std::nullopt;
    dispatcher.advance(3);
    const auto& s = sessions().at(0);
    return std::make_tuple(s.activity, s.waitingFor.value_or("-"), agentMenuTitle(s));
  };
  startFor(30.5);
  const auto quiet = AgentActivity::quiet, working = AgentActivity::working;
  const auto titled = [](std::string word) { return "api \u00b7 Status name \u2014 Claude \u00b7 " + word; };
  EXPECT_EQ(reportedAs(State::busy), std::make_tuple(working, "-", titled("working")));
  EXPECT_EQ(reportedAs(State::waiting, "permission prompt"),
            std::make_tuple(quiet, "permission prompt", titled("needs you")));
  EXPECT_EQ(reportedAs(State::waiting), std::make_tuple(quiet, "input needed", titled("needs you")));
  sys->setRate(kAgent, 0.5);
  EXPECT_EQ(reportedAs(State::idle), std::make_tuple(quiet, "-", titled("idle")));
  // A word this version does not know, or no file: the CPU rule again.
  EXPECT_EQ(std::get<0>(reportedAs(State::shell)), working);
  sys->setRate(kAgent, 0);
  dispatcher.advance(12);
  EXPECT_EQ(reportedAs(std::nullopt), std::make_tuple(quiet, "-", "api \u2014 Claude \u00b7 idle"));
}

TEST_F(AgentWatcherTest, BusyMarksKeepAnAgentWorking) {
  // A child process (a build) burns CPU while the agent's own time stays flat.
  sys->add(kBuild, kAgent, "/bin/bash -c make");
  watcher->start();
  sys->setRate(kBuild, 0.3);
  EXPECT_EQ(activityAfter(60), AgentActivity::working);
  sys->table.erase(kBuild);
  EXPECT_EQ(activityAfter(12), AgentActivity::quiet);
  // A transcript written 15 s ago keeps a Claude Code agent working with flat CPU time.
  sys->transcriptAge = 15;
  EXPECT_EQ(activityAfter(3), AgentActivity::working);
  EXPECT_EQ(activityAfter(60), AgentActivity::working);
  EXPECT_EQ(sessions()[0].context.value_or(ClaudeSessionInfo{}).youLine, "fix the tests in /home/u/api");
  sys->transcriptAge = 25;
  EXPECT_EQ(activityAfter(12), AgentActivity::quiet);
}

TEST_F(AgentWatcherTest, ReusedPidDisappearsForOneScanAndReturnsWithFreshData) {
  sys->table.at(kAgent).row.cpuTime = 50;
  startFor(3.5);
  const Seconds firstStart = sessions().at(0).startedAt;

  // Another agent gets the same pid within one interval: its CPU time fell by more than 0.5 s.
  sys->add(kAgent, kShell, "claude", "pts/4", 0.2, 1), sys->directories[kAgent] = "/home/u/web";
  dispatcher.advance(3);
  EXPECT_TRUE(sessions().empty());
  dispatcher.advance(3);
  ASSERT_EQ(sessions().size(), 1u);
  EXPECT_EQ(std::tie(sessions()[0].projectName, sessions()[0].terminalTTY), std::make_tuple("web", "pts/4"));
  EXPECT_NEAR(sessions()[0].startedAt - firstStart, 2.5, 0.01);  // started 1 s before it was seen

  // Same CPU time, but a start time that moved by more than a minute.
  sys->add(kAgent, kShell, "claude", "pts/5", sys->row(kAgent).cpuTime + 1, -90);
  dispatcher.advance(3);
  EXPECT_TRUE(sessions().empty());
  dispatcher.advance(3);
  EXPECT_EQ(sessions().at(0).terminalTTY, "pts/5");
}

TEST_F(AgentWatcherTest, ArmedNapStartsWhenTheLastAgentFallsQuietAndDropsTheAnnouncement) {
  watcher->start();
  work(120);
  watcher->state().setNapWhenIdleArmed(true);
  dispatcher.advance(3);
  EXPECT_EQ(effects(), Effects(true, 0, 0, 0));
  EXPECT_EQ(activityAfter(12), AgentActivity::quiet);
  EXPECT_EQ(effects(), Effects(false, 0, 0, 1));
  EXPECT_FALSE(watcher->state().napWhenIdleArmed());

  // With no agent at all, an armed nap starts at the next publication.
  sys->table.erase(kAgent), dispatcher.advance(3);
  watcher->state().setNapWhenIdleArmed(true);
  dispatcher.advance(3);
  EXPECT_EQ(sys->napStarts, 2);
}

// Another machine's working agent keeps this one awake (the link must not sleep) and holds an armed
// nap; its rows follow this machine's; the nap starts once it falls quiet or its host goes.
TEST_F(AgentWatcherTest, RemoteAgentsCountForKeepAwakeAndNapWhenIdle) {
  startFor(15);  // the local agent is quiet
  AgentSession remote{.pid = 1 << 30, .host = "devbox"};
  watcher->setRemoteSessions("devbox", {remote});
  watcher->state().setNapWhenIdleArmed(true);
  dispatcher.advance(6);
  ASSERT_EQ(sessions().size(), 2u);
  EXPECT_EQ(sessions()[1].host, "devbox");
  EXPECT_EQ(effects(), Effects(true, 0, 0, 0));
  remote.activity = AgentActivity::quiet, watcher->setRemoteSessions("devbox", {remote});
  EXPECT_EQ(effects(), Effects(false, 0, 0, 1));
  watcher->announceRemote("devbox");  // finished there: announced here
  EXPECT_EQ(effects(), Effects(false, 1, 1, 1));
  watcher->setRemoteSessions("devbox", {}), watcher->announceRemote("devbox");  // a host whose link is gone: nothing
  EXPECT_EQ(sessions().size(), 1u);
  EXPECT_EQ(effects(), Effects(false, 1, 1, 1));
}

TEST_F(AgentWatcherTest, KeepAwakeFollowsThePreferencesAndTheBatteryGuard) {
  prefs.setBool(prefs::kBatteryGuard, true);
  sys->setRate(kAgent, 0.5);
  startFor(0.5);
  const auto scanWith = [&](std::optional<BatteryReading> r) {
    return sys->battery = r, dispatcher.advance(3), watcher->isKeepingAwake();
  };
  EXPECT_TRUE(scanWith(std::nullopt));  // no battery
  EXPECT_TRUE(scanWith(BatteryReading{16, true}));
  EXPECT_FALSE(scanWith(BatteryReading{15, true}));
  EXPECT_TRUE(power.held.empty());
  EXPECT_TRUE(scanWith(BatteryReading{15, false}));  // plugged in
  prefs.setBool(prefs::kBatteryGuard, false);
  EXPECT_TRUE(scanWith(BatteryReading{3, true}));
  prefs.setBool(prefs::kAgentKeepAwake, false);
  EXPECT_FALSE(scanWith(BatteryReading{3, true}));
}

TEST_F(AgentWatcherTest, StartHonoursThePreferenceAndAStopRacingAPublicationLeavesTheListEmpty) {
  prefs.setBool(prefs::kAgentWatchEnabled, false);
  startFor(10);
  EXPECT_EQ(sys->samples, 0);
  prefs.setBool(prefs::kAgentWatchEnabled, true);
  watcher->start();
  startFor(3.5);  // a second start: one timer only
  EXPECT_EQ(sys->samples, 2);
  ASSERT_EQ(sessions().size(), 1u);

  // The user turns watching off while the next scan runs on its queue.
  sys->setRate(kAgent, 0.5);
  sys->onSample = [this] { sys->onSample = nullptr, watcher->stop(); };
  dispatcher.advance(3);
  EXPECT_TRUE(sessions().empty() && !watcher->isKeepingAwake());
  dispatcher.advance(30);
  EXPECT_EQ(sys->samples, 3);
  EXPECT_TRUE(sessions().empty());

  // Watching again starts over, with a fresh record.
  watcher->start();
  EXPECT_EQ(activityAfter(0.5), AgentActivity::working);
  EXPECT_EQ(sys->asked.size(), 2u);

  // At the program's end the main queue runs nothing more: stop() clears at once.
  ASSERT_TRUE(watcher->isKeepingAwake());
  watcher->stop();
  EXPECT_TRUE(sessions().empty() && power.held.empty());
}

TEST_F(AgentWatcherTest, ThirdFailedScanEmptiesTheListUntilAScanSucceeds) {
  sys->setRate(kAgent, 0.5);
  startFor(0.5);
  sys->failing = true;
  const auto listedAndAwake = [&](Seconds s) {
    return dispatcher.advance(s), std::pair(sessions().size(), watcher->isKeepingAwake());
  };
  EXPECT_EQ(listedAndAwake(6), std::make_pair(size_t{1}, true));
  EXPECT_EQ(listedAndAwake(3), std::make_pair(size_t{0}, false));
  EXPECT_EQ(listedAndAwake(9), std::make_pair(size_t{0}, false));
  sys->failing = false;
  EXPECT_EQ(listedAndAwake(3), std::make_pair(size_t{1}, true));
}

TEST_F(AgentWatcherTest, ListsOutermostAgentsOldestFirstReadsOnlyClaudeTranscriptsAndHonoursDismissal) {
  sys->transcriptAge = 1;
  sys->directories = {{150, "/home/u/web"}};  // the Claude Code agent's folder is unknown
  sys->table.at(kAgent).row.elapsed += 60;
  sys->add(150, kShell, "node /usr/lib/node_modules/@openai/codex/bin/codex", "pts/3", 0, 600);
  sys->add(152, kAgent, "claude --resume");  // an agent started by an agent
  startFor(30.5);
  ASSERT_EQ(sessions().size(), 2u);
  EXPECT_EQ(std::tie(sessions()[0].pid, sessions()[0].agentName), std::make_tuple(150, "Codex"));
  EXPECT_EQ(std::tie(sessions()[1].pid, sessions()[1].projectName), std::make_tuple(kAgent, "claude code"));
  EXPECT_EQ(sys->transcriptReads, 0);
  for (const auto& s : sessions()) EXPECT_TRUE(!s.context && s.activity == AgentActivity::quiet) << s.pid;

  watcher->dismiss(150);
  dispatcher.advance(3);
  ASSERT_EQ(sessions().size(), 1u);
  EXPECT_EQ(sessions()[0].pid, kAgent);
}

TEST_F(AgentWatcherTest, ARemovedWorkingFolderLosesTheMarkerAndHasNoTranscript) {
  const auto kept = std::filesystem::temp_directory_path() / "tovami-kept (deleted)";
  std::filesystem::create_directories(kept);
  sys->transcriptAge = 1;
  sys->directories[kAgent] = "/gone/api (deleted)";
  sys->add(kAgent + 1, kShell, "claude", "pts/3");
  sys->directories[kAgent + 1] = kept.string();  // a folder that is named so stays
  startFor(0.5);
  ASSERT_EQ(sessions().size(), 2u);
  const bool agentFirst = sessions()[0].pid == kAgent;
  const AgentSession &gone = sessions()[agentFirst ? 0 : 1], &named = sessions()[agentFirst ? 1 : 0];
  EXPECT_EQ(std::tie(gone.projectName, gone.projectPath), std::make_tuple("api", "/gone/api"));
  EXPECT_FALSE(gone.context);
  EXPECT_EQ(named.context.value_or(ClaudeSessionInfo{}).youLine, "fix the tests in " + kept.string());
  EXPECT_EQ(sys->transcriptReads, 1);
  std::filesystem::remove(kept);
}

TEST(AgentSession, LabelsForTheMenuAndTheListing) {
  AgentSession s;
  const std::pair<int64_t, const char*> ages[] = {{-3, "now"}, {45, "45m"}, {180, "3h"}, {2879, "47h 59m"}, {3000, "2d"}};
  for (const auto& [minutes, label] : ages) EXPECT_EQ((s.ageMinutes = minutes, s.ageLabel()), label) << minutes;
  EXPECT_EQ(agentProjectName("/home/u/api/", "Claude Code"), "api");
  EXPECT_TRUE(agentProjectName("/", "Codex") == "~" && agentProjectName(std::nullopt, "") == "~");

  // Folder names that are not text survive both report formats.
  EXPECT_EQ(formatAgentList({}, AgentListFormat::json), "[]\n");
  s = AgentSession{.pid = 42, .agentName = "Claude Code", .projectName = agentProjectName("/home/u/caf\xe9\nx", "Claude Code"),
                   .projectPath = "/home/u/caf\xe9\nx", .context = ClaudeSessionInfo{.youLine = "hi"}};  // Latin-1, line feed
  const auto json = nlohmann::json::parse(formatAgentList({s}, AgentListFormat::json));
  EXPECT_EQ(json[0]["projectPath"], "/home/u/caf\xef\xbf\xbd\nx");
  EXPECT_TRUE(json[0]["terminal"].is_null() && json[0]["transcript"]["reply"].is_null());
  EXPECT_EQ(json[0]["transcript"]["you"], "hi");
  EXPECT_EQ(formatAgentList({s}, AgentListFormat::text),
            "42  Claude Code  caf\xe9?x  (/home/u/caf\xe9?x)\n"
            "    terminal: unknown  tty: none  age: now\n"
            "    you: hi\n");

  // Characters that change how the report reads on a terminal: a right-to-left override or
  // isolate (the name shows reversed), a C1 control (U+009B starts an escape sequence), a line
  // separator. Text shows each as "?"; JSON escapes them, keeping the value.
  const std::string sneaky = "/w/a\u202Eexe.txt\u2066b\u2069\u200F\xc2\x9b" "31m\u2028\x7f\u00e9\U0001F600";
  s = AgentSession{.pid = 7, .agentName = "Codex", .projectName = "x", .projectPath = sneaky};
  EXPECT_EQ(formatAgentList({s}, AgentListFormat::text),
            "7  Codex  x  (/w/a?exe.txt?b???31m??\u00e9\U0001F600)\n"
            "    terminal: unknown  tty: none  age: now\n");
  const std::string escaped = formatAgentList({s}, AgentListFormat::json);
  for (const char* raw : {"\u202E", "\u2066", "\u2069", "\u200F", "\xc2\x9b", "\u2028", "\x7f"})
    EXPECT_EQ(escaped.find(raw), std::string::npos) << escaped;
  EXPECT_EQ(nlohmann::json::parse(escaped)[0]["projectPath"], sneaky);
}

}  // namespace
}  // namespace tovami
