#include <gtest/gtest.h>

#include "agents/agent_listing.h"
#include "remote/remote_link.h"
#include "remote/remote_rows_file.h"
#include "remote/remote_protocol.h"
#include "support/virtual_dispatcher.h"

namespace tovami::remote {
namespace {
using nlohmann::json;

AgentSession agent(int32_t pid, std::string project, AgentActivity activity = AgentActivity::working) {
  return {.pid = pid, .agentName = "Claude Code", .projectName = project, .projectPath = "/srv/" + project,
          .terminalTTY = "pts/3", .startedAt = 1'700'000'000.0 + pid, .activity = activity};
}
// Every message through its line and back; what is not the protocol is refused in words or skipped.
TEST(RemoteProtocol, MessagesSurviveTheirLineAndMalformedOnesAreRefused) {
  const std::vector<UpMessage> up = {
      Hello{1, "1.2", 1'700'000'000.5}, RowDelta{"7:1", {{"working", false}, {"you", nullptr}}}, RowGone{"7:1"},
      Request{9, "permission-request", {{"tool_name", "Bash"}, {"x", "a\nb\u00e9"}}}, Withdraw{9}, Announce{"7:1"}, Alive{}};
  std::string error;
  for (const auto& message : up) {
    const std::string line = encode(message);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(decodeUp(line, error), message) << line << error;
  }
  for (const auto& message : std::vector<DownMessage>{Decision{9, {{"protocol", 1}, {"behavior", "allow"}}},
                                                      Jump{"7:1"}, Approvals{true}, Alive{}})
    EXPECT_EQ(decodeDown(encode(message), error), message) << error;
  const struct { std::string line, error; } refused[] = {
      {"not json", "not JSON"}, {"[1]", "not a JSON object"}, {std::string(100, '[') + std::string(100, ']'), "not JSON"},
      {R"({"protocol":"1"})", "protocol is not a number"}, {R"({"gone":1})", "removal without"},
      {R"({"row":"1:1","set":[]})", "row without"}, {R"({"row":7,"set":{}})", "row without"},
      {R"({"request":0,"event":"permission-request","payload":{}})", "request without"},
      {R"({"request":1.5,"event":"permission-request","payload":{}})", "request without"},
      {R"({"request":3,"payload":{}})", "request without"},
      {R"({"withdraw":-1})", "withdrawal without"}, {R"({"something":"new"})", ""},  // a later kind: skipped
  };
  for (const auto& c : refused) {  // a skipped later kind says nothing; a refusal says why
    error = "unset";
    EXPECT_FALSE(decodeUp(c.line, error)) << c.line;
    EXPECT_TRUE(c.error.empty() ? error.empty() : error.find(c.error) != std::string::npos) << c.line << " -> " << error;
  }
  error.clear();
  EXPECT_FALSE(decodeDown(R"({"decision":4,"reply":"allow"})", error));
  EXPECT_FALSE(error.empty());
}
// The remote side sends each scan's changes only; the desktop rebuilds the same rows from them.
TEST(RemoteProtocol, DeltasCarryOnlyChangesAndRebuildTheRowsTaggedByHost) {
  DeltaBuilder builder;
  RowTable table;
  std::vector<std::string> wire;
  const auto send = [&](const std::vector<AgentSession>& scan) {
    wire.clear();
    for (const auto& message : builder.update(scan)) {
      wire.push_back(encode(message));
      std::string error;
      auto decoded = decodeUp(wire.back(), error);
      ASSERT_TRUE(decoded) << error;
      if (auto* delta = std::get_if<RowDelta>(&*decoded))
        ASSERT_TRUE(table.apply(*delta, error)) << error;
      else
        table.apply(std::get<RowGone>(*decoded));
    }
  };
  auto a = agent(41, "api"), b = agent(42, "web", AgentActivity::quiet);
  b.context = ConversationSummary{.youLine = "fix it", .updatedAt = 1'700'000'100};
  send({a, b});
  ASSERT_EQ(wire.size(), 2u);
  EXPECT_EQ(wire[0].find("null"), std::string::npos) << "a new row carries no empty fields: " << wire[0];
  send({a, b});
  EXPECT_TRUE(wire.empty()) << "nothing changed, nothing sent";
  a.activity = AgentActivity::quiet;
  a.waitingFor = "permission prompt";
  b.context.reset();
  send({a, b});
  ASSERT_EQ(wire.size(), 2u);
  EXPECT_EQ(json::parse(wire[0])["set"], (json{{"waitingFor", "permission prompt"}, {"working", false}}));
  EXPECT_EQ(json::parse(wire[1])["set"], (json{{"updatedAt", nullptr}, {"you", nullptr}}));
  // 100 s of clock difference: the desktop shows start times on its own clock.
  const auto rows = table.sessions("devbox", 100, 1'700'000'041 + 100 + 600);
  ASSERT_EQ(rows.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    AgentSession expected = i == 0 ? a : b;
    expected.host = "devbox";
    expected.projectName = "devbox \u00b7 " + expected.projectName;
    expected.startedAt += 100;
    expected.ageMinutes = rows[i].ageMinutes;
    EXPECT_EQ(rows[i], expected) << i;
  }
  EXPECT_EQ(rows[0].ageMinutes, 10);
  EXPECT_EQ(table.idOf(42), rowId(b));
  send({b});
  EXPECT_EQ(wire, std::vector<std::string>{encode(RowGone{rowId(a)})});
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(builder.session(rowId(b))->pid, 42);
}
// "--list-agents" lists other machines' rows from the desktop's file: tagged as the views show them,
// with the agent's pid on its host, never bound to this machine's status line feeds; a file that
// does not fit is no rows.
TEST(RemoteRowsFile, ListsTheViewsRowsByHostAndRefusesWhatDoesNotFit) {
  RowTable table;
  std::string error;
  auto a = agent(41, "api");
  a.sessionId = "s1";
  a.sessionName = "api";
  a.context = ConversationSummary{.title = "Fix the login", .updatedAt = 1'700'000'100};
  ASSERT_TRUE(table.apply(RowDelta{rowId(a), rowFields(a)}, error)) << error;
  std::vector<std::string> ids;
  auto shown = table.sessions("devbox", 5, 1'700'001'000, &ids);
  LocalRowIds numbers;
  numbers.number("devbox", ids, shown);  // what RemoteHostsViews::showRows delivers
  ASSERT_TRUE(LocalRowIds::isRemote(shown.at(0).pid));
  RemoteRowsSnapshot snapshot;
  EXPECT_TRUE(snapshot.show("devbox", shown));
  EXPECT_FALSE(snapshot.show("devbox", shown)) << "nothing changed, nothing written";
  const RowsWriter writer{4242, 99};
  const auto file = parseRemoteRows(snapshot.serialized(writer), 1'700'001'000);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->writer, writer);
  ASSERT_EQ(file->rows.size(), 1u);
  AgentSession expected = shown[0];
  expected.pid = 41;
  expected.hostPid.reset();
  EXPECT_EQ(file->rows[0], expected);
  // A feed of this machine whose pids and session id happen to be the remote row's binds the local row only.
  StatusLineSessions feeds;
  feeds.add(StatusLineFeed{.sessionId = "s1", .pids = {41}, .model = "Opus"});
  auto local = agent(41, "web");
  local.sessionId = "s1";
  const auto listed = listedAgents({local}, feeds, file->rows);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_TRUE(listed[0].details && !listed[1].details);
  const auto report = json::parse(formatAgentList(listed, AgentListFormat::json));
  EXPECT_FALSE(report[0].contains("host"));
  EXPECT_EQ(std::tie(report[1]["host"], report[1]["pid"], report[1]["project"], report[1]["session"]["name"]),
            std::make_tuple(json("devbox"), json(41), json("api"), json("api")));
  EXPECT_NE(formatAgentList(listed, AgentListFormat::text).find("41  Claude Code  devbox \u00b7 api  (/srv/api)"), std::string::npos);
  // The link ended: the host goes.
  EXPECT_TRUE(snapshot.show("devbox", {}));
  EXPECT_TRUE(snapshot.empty());
  json good = json::parse(RemoteRowsSnapshot().serialized(writer));
  good["hosts"]["devbox"] = json::array({rowFields(a)});
  ASSERT_TRUE(parseRemoteRows(good.dump(), 0));
  const auto with = [&good](const char* at, json value) {
    json changed = good;
    changed[json::json_pointer(at)] = std::move(value);
    return changed.dump();
  };
  json hosts = json::object(), rows = json::array();
  for (int n = 0; n <= 64; ++n) hosts["h" + std::to_string(n)] = json::array();
  for (int n = 1; n <= 65; ++n) rows.push_back(rowFields(agent(n, "p")));
  for (const std::string& bad : {with("/writer/pid", 0), with("/writer/start", -1), with("/hosts", hosts),
                                 with("/hosts/-oProxyCommand=x", json::array()), with("/hosts/devbox", rows),
                                 with("/hosts/devbox/0/pid", "41"), with("/hosts/devbox/0/title", std::string(5000, 't')),
                                 std::string(kMaxRemoteRowsFileBytes + 1, ' '), std::string(100, '[') + std::string(100, ']')})
    EXPECT_FALSE(parseRemoteRows(bad, 0)) << bad.substr(0, 80);
}
// Whatever a remote side sends, the desktop closes the link with a reason, or takes what fits.
TEST(RemoteProtocol, AHostileOrForeignRemoteSideIsClosedWithAReason) {
  const std::string hello = encode(Hello{1, "1.2", 0}) + "\n";
  const auto row = [](int n) {
    return encode(RowDelta{std::to_string(n) + ":1", {{"pid", n}, {"agent", "Codex"}, {"startedAt", 1}, {"working", true}}}) + "\n";
  };
  std::string manyRows, noise, flood, requests;
  for (int n = 1; n <= 65; ++n) manyRows += row(n);
  for (int n = 0; n < 17; ++n) noise += "Welcome to devbox\n";
  for (int n = 0; n < 401; ++n) flood += "{}\n";
  for (int n = 1; n <= 33; ++n) requests += encode(Request{n, "permission-request", json::object()}) + "\n";
  const struct { std::string bytes, reason; } cases[] = {  // reason empty: stays open
      {"Welcome to devbox\n" + hello + row(1), ""},
      {noise + hello, "did not answer as Tovami does"},
      {R"({"protocol":2})" "\n", "speaks remote protocol 2; this Tovami speaks 1"},
      {hello + "\x01\xff garbage\n", "does not allow: a line is not JSON"},
      {hello + std::string(kMaxLineBytes + 1, 'x'), "a line longer than 256 KiB"},
      {hello + manyRows, "more than 64 agents"}, {hello + hello, "a second hello"},
      {hello + R"({"row":"1:1","set":{"pid":"1","agent":"x","startedAt":1,"working":true}})" "\n", "\"pid\" has the wrong"},
      {hello + R"({"row":"1:1","set":{"pid":1}})" "\n", "without its pid, agent, start or state"},
      {hello + R"({"row":"1:1","set":{"pid":1,"agent":")" + std::string(5000, 'a') + R"(","startedAt":1,"working":true}})" "\n", "wrong type or size"},
      {hello + flood, "more than the remote protocol allows in a second"}, {hello + requests, "more than 32 requests"},
  };
  for (const auto& c : cases) {
    UpStream stream("devbox");
    // Byte by byte where the input is short, so that no line depends on how the pipe cut it.
    const size_t step = c.bytes.size() < 4096 ? 1 : c.bytes.size();
    for (size_t at = 0; at < c.bytes.size(); at += step) stream.feed(std::string_view(c.bytes).substr(at, step), 0, 0);
    EXPECT_EQ(stream.closed(), !c.reason.empty()) << c.bytes.substr(0, 60) << " -> " << stream.closeReason();
    EXPECT_NE(stream.closeReason().find(c.reason), std::string::npos) << stream.closeReason();
    EXPECT_TRUE(!stream.closed() || stream.rows().size() == 0u) << "a closed link keeps no rows";
  }
  // A start time far in the past is shown as old, not as a negative age.
  UpStream far("devbox");
  far.feed(hello + R"({"row":"1:1","set":{"pid":1,"agent":"a","startedAt":-1e300,"working":true}})" "\n", 0, 0);
  EXPECT_GE(far.rows().sessions("devbox", far.clockOffset(), 0).at(0).ageMinutes, 0);
  // The same flood spread over time is within the rate.
  UpStream paced("devbox");
  paced.feed(hello, 0, 0);
  for (int n = 0; n < 1000; ++n) paced.feed("{}\n", n * 0.02, 0);
  EXPECT_FALSE(paced.closed()) << paced.closeReason();
}
TEST(RemoteLink, SaysWhySshEndedInPlainWords) {
  const struct { int status; std::string stderrTail, text; } cases[] = {
      {127, "sh: 1: exec: /home/u/.local/bin/tovami: not found\n", "Tovami is not installed on devbox"},
      {255, "Host key verification failed.\r\n", "devbox's host key is not known yet: run `ssh devbox` once"},
      {255, "u@devbox: Permission denied (publickey,password).\n", "permission denied"},
      {255, "ssh: Could not resolve hostname devbox: Name or service not known\n", "the network is down"},
      {255, "Timeout, server devbox not responding.\n", "the network is down"}, {-1, "", "the link to devbox was cut"},
      {3, "warning\nboom \x1b[31m\n", "ssh to devbox ended with status 3: boom ?[31m"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(linkFailureText("devbox", c.status, c.stderrTail).rfind(c.text, 0), 0u)
        << c.stderrTail << " -> " << linkFailureText("devbox", c.status, c.stderrTail);
  for (const std::string bad : {"", "-oProxyCommand=x", "a b", "a;b", "dev$box"}) EXPECT_FALSE(usableHostName(bad)) << bad;
  for (const std::string good : {"devbox", "me@gpu-1.lab", "[::1]:2222"}) EXPECT_TRUE(usableHostName(good)) << good;
  const auto row = [](int32_t pid, std::string args, double elapsed, bool tty = true) {
    return PSRow{.pid = pid, .tty = tty ? std::optional<std::string>("pts/1") : std::nullopt, .elapsed = elapsed,
                 .args = std::move(args)};
  };
  EXPECT_EQ(interactiveSshTo("devbox", {row(1, "ssh devbox", 90), row(2, "/usr/bin/ssh -A me@devbox", 10),
                                        row(3, "ssh devbox2", 1), row(4, "ssh devbox", 1, false),
                                        row(5, "ssh -T -o BatchMode=yes -- devbox sh", 1), row(6, "vim devbox", 1)}), 2);
  EXPECT_EQ(interactiveSshTo("devbox", {row(3, "ssh devbox2", 1)}), std::nullopt);
  const auto args = sshArguments("devbox", "/run/user/1/tovami-ssh");
  EXPECT_EQ(std::vector(args.end() - 3, args.end() - 1), (std::vector<std::string>{"--", "devbox"}));
}
// Back-off doubles to its cap, restarts after a steady link and at once after a network change;
// a remote side that never says hello is ended; a stopped link ignores its child's end.
TEST(RemoteLink, ReconnectsWithBackOffInVirtualTime) {
  testing::VirtualDispatcher dispatcher;
  std::vector<Seconds> launches;
  int terminations = 0;
  RemoteLink link("devbox", dispatcher, {[&] { launches.push_back(dispatcher.elapsed()); }, [&] { ++terminations; }, [] {}});
  link.start();
  for (Seconds retry : {2, 4, 8, 16, 32, 60, 60}) {
    link.childEnded(255, "Connection refused");
    const Seconds ended = dispatcher.elapsed();
    dispatcher.advance(retry);
    EXPECT_EQ(launches.back() - ended, retry);
  }
  EXPECT_EQ(launches.size(), 8u);
  link.greeted();
  EXPECT_EQ(link.stateText(), "connected");
  for (Seconds heartbeat = 0; heartbeat < RemoteLink::kSteadyAfter; heartbeat += kHeartbeatAfter) {
    dispatcher.advance(kHeartbeatAfter);
    link.heard();
  }
  link.childEnded(-1, "");
  EXPECT_EQ(link.stateText(), "the link to devbox was cut");
  EXPECT_EQ(link.nextRetry(), 4);  // the first retry after a steady link is 2 s again
  link.networkChanged();
  EXPECT_EQ(launches.back(), dispatcher.elapsed());
  dispatcher.advance(RemoteLink::kHelloWithin);
  EXPECT_EQ(terminations, 1);
  link.childEnded(-1, "");
  EXPECT_EQ(link.stateText(), "devbox did not answer within 30 s");
  link.stop();
  const size_t before = launches.size();
  link.childEnded(255, "Connection refused");
  dispatcher.advance(600);
  EXPECT_EQ(launches.size(), before);
}
// A connected link that hears nothing for 45 s (a stopped remote side behind a live ssh) is ended with
// its words; any bytes put that off. The remote side says it is alive after 15 s of its own silence,
// the desktop every 15 s; the remote side ends after 45 s without the desktop, once it has beaten.
TEST(RemoteLink, EndsASilentLinkAndTheRemoteSideBeatsWhenQuiet) {
  // Heard at these times since the hello; not ended at quietUntil; ended at endsAt.
  const struct { std::vector<Seconds> heard; Seconds quietUntil, endsAt; } cases[] = {
      {{}, 44, 45}, {{30}, 74, 75}, {{10, 20, 44.5}, 89, 89.5}};
  for (const auto& c : cases) {
    testing::VirtualDispatcher dispatcher;
    int terminations = 0, beats = 0;
    RemoteLink link("devbox", dispatcher, {[] {}, [&] { ++terminations; }, [] {}, [&] { ++beats; }});
    link.start();
    link.greeted();
    for (Seconds at : c.heard) {
      dispatcher.advance(at - dispatcher.elapsed());
      link.heard();
    }
    dispatcher.advance(c.quietUntil - dispatcher.elapsed());
    EXPECT_EQ(terminations, 0) << c.quietUntil;
    dispatcher.advance(c.endsAt - dispatcher.elapsed());
    EXPECT_EQ(terminations, 1) << c.endsAt;
    EXPECT_EQ(beats, 1 + int(c.endsAt / kHeartbeatAfter)) << c.endsAt;
    link.childEnded(-1, "");
    EXPECT_EQ(link.stateText(), "devbox stopped answering (nothing for 45 s)");
    EXPECT_EQ(link.phase(), RemoteLink::Phase::waiting);
  }
  Heartbeat beat;
  beat.wrote(100);
  for (auto [at, wait] : {std::pair{100.0, 15.0}, {110.0, 5.0}, {115.0, 0.0}, {200.0, 0.0}}) EXPECT_DOUBLE_EQ(beat.wait(at), wait) << at;
  DesktopSilence desktop;
  desktop.heard(false, 10);  // a decision: an earlier desktop's line, which proves nothing of its beats
  EXPECT_EQ(desktop.wait(1000), std::nullopt);
  desktop.heard(true, 1000);
  desktop.heard(false, 1020);
  for (auto [at, wait] : {std::pair{1020.0, 45.0}, {1064.0, 1.0}, {1065.0, 0.0}})
    EXPECT_EQ(desktop.wait(at), wait) << at;
}

}  // namespace
}  // namespace tovami::remote
