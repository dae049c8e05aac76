#include "peers/usage_tracker.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/preference_keys.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;
using nlohmann::json;

TEST(UsageSnapshotTest, InternetDateTimes) {
  const Seconds base = 1735725600;  // 2025-01-01T10:00:00Z
  const std::pair<const char*, Seconds> cases[] = {{"2025-01-01T10:00:00Z", base},
                                                   {"2025-01-01T10:00:00.600956+00:00", base + 0.600956},
                                                   {"2025-01-01T12:30:00+02:30", base},
                                                   {"2024-02-29T00:00:00Z", 1709164800}};
  for (const auto& [text, expected] : cases)
    EXPECT_NEAR(parseInternetDateTime(text).value_or(0), expected, 1e-6) << text;
  for (const char* bad : {"2025-01-01", "2025-01-01T10:00:00", "2025-02-29T10:00:00Z", "2025-01-01T24:00:00Z",
                          "2025-01-01T10:00:00.Z", "2025-01-01T10:00:00Zjunk"})
    EXPECT_FALSE(parseInternetDateTime(bad)) << bad;
}

TEST(UsageSnapshotTest, BodiesAndCredentials) {
  const std::pair<json, std::pair<int, int>> cases[] = {
      {json::parse(R"({"five_hour":{"utilization":37.5,"resets_at":"2026-01-02T19:59:59.600956+00:00"},
                       "seven_day":{"utilization":36.0,"resets_at":"2026-01-08T06:59:59.6+00:00"},
                       "seven_day_opus":null,"limits":[]})"),
       {38, 36}},
      {{{"five_hour", {{"utilization", 37.4}}}, {"seven_day", {{"utilization", 12}}}}, {37, 12}},
      {{{"five_hour", {{"utilization", nullptr}}}, {"seven_day", "x"}}, {0, 0}},
      {{{"five_hour", {{"utilization", 1e300}}}}, {1'000'000'000, 0}}};
  for (const auto& [body, pct] : cases) {
    auto snapshot = usageSnapshotFrom(body, 7);
    EXPECT_EQ(std::tuple(snapshot.fiveHourPct, snapshot.sevenDayPct, snapshot.fetchedAt),
              std::tuple(pct.first, pct.second, 7.0))
        << body.dump();
  }
  EXPECT_TRUE(usageSnapshotFrom(cases[0].first, 0).sevenDayResets);
  EXPECT_FALSE(usageSnapshotFrom(cases[1].first, 0).fiveHourResets);
  EXPECT_EQ(accessTokenFrom(R"({"claudeAiOauth":{"accessToken":"t","expiresAt":1}})"), "t");
  for (const char* bad :
       {"", "[]", R"({"claudeAiOauth":"t"})", R"({"claudeAiOauth":{"accessToken":5}})", "{"})
    EXPECT_FALSE(accessTokenFrom(bad)) << bad;
}

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Fakes : CredentialSource, HttpClient {
  std::optional<std::string> bytes = R"({"claudeAiOauth":{"accessToken":"secret-token"}})";
  int reads = 0;
  HttpResponse next{200, R"({"five_hour":{"utilization":24.0},"seven_day":{"utilization":36.0}})", ""};
  std::vector<Headers> requests;
  std::function<void()> during;  // runs while the request is under way
  std::optional<std::string> read() override { return ++reads, bytes; }
  HttpResponse get(const std::string&, const Headers& headers, double) override {
    requests.push_back(headers);
    if (auto hook = std::exchange(during, nullptr)) hook();
    return next;
  }
};

class UsageTrackerTest : public ::testing::Test {
 protected:
  VirtualDispatcher dispatcher;
  MemoryPreferences prefs;
  std::shared_ptr<Fakes> http = std::make_shared<Fakes>();
  std::shared_ptr<UsageTracker> tracker =
      std::make_shared<UsageTracker>(UsageTrackerDependencies{dispatcher, prefs, http, http});
  void SetUp() override { prefs.setBool(prefs::kUsageTracking, true); }
};

TEST_F(UsageTrackerTest, FetchesAfterOneSecondThenEveryFiveMinutesKeepingTheLastGoodSnapshot) {
  tracker->start();
  tracker->start();
  dispatcher.advance(0.9);
  EXPECT_TRUE(http->requests.empty());
  dispatcher.advance(0.2);
  ASSERT_EQ(http->requests.size(), 1u);  // its headers on the wire: the fetch test's
  EXPECT_EQ(tracker->state().snapshot().value_or(UsageSnapshot{}).sevenDayPct, 36);
  dispatcher.advance(299.8);
  EXPECT_EQ(http->requests.size(), 1u);
  dispatcher.advance(0.2);
  EXPECT_EQ(http->requests.size(), 2u);
  EXPECT_EQ(http->reads, 2);  // read afresh for every fetch
  // Failed fetches keep the old snapshot.
  const auto first = tracker->state().snapshot();
  const HttpResponse failures[] = {
      {401, "{}", ""}, {200, "not json", ""}, {200, "[1]", ""}, {0, "", "timed out"}};
  for (const auto& failure : failures) {
    http->next = failure;
    dispatcher.advance(300);
    EXPECT_EQ(tracker->state().snapshot(), first) << failure.status;
  }
  EXPECT_TRUE(tracker->isRunning());
}

TEST_F(UsageTrackerTest, StopsWithoutATokenAndDropsLateSnapshots) {
  prefs.setBool(prefs::kUsageTracking, false);
  tracker->start();
  dispatcher.advance(2);
  EXPECT_FALSE(tracker->isRunning());
  prefs.setBool(prefs::kUsageTracking, true);
  tracker->start();
  dispatcher.advance(1);
  ASSERT_TRUE(tracker->state().snapshot());
  http->bytes = "{ malformed";
  dispatcher.advance(300);
  EXPECT_TRUE(!tracker->isRunning() && !tracker->state().snapshot() && dispatcher.pendingCount() == 0);
  http->bytes = R"({"claudeAiOauth":{"accessToken":""}})";  // empty still counts as a token
  tracker->start();
  dispatcher.advance(1);
  EXPECT_TRUE(tracker->state().snapshot());
  // A fetch under way when the tracker stops (and starts again) publishes nothing.
  http->during = [this] {
    tracker->stop();
    tracker->start();
  };
  dispatcher.advance(300);
  EXPECT_FALSE(tracker->state().snapshot());
}

// Each row: the answer, then how long until the next request.
TEST_F(UsageTrackerTest, BusyAnswersBackOffDoublingToAnHourOrAsRetryAfterSaysAndTheCaptionTellsIt) {
  const struct { HttpResponse answer; Seconds nextIn; } steps[] = {
      {{429, "", "", ""}, 600},  {{429, "", "", "0"}, 1200},    {{503, "", "", ""}, 2400},
      {{429, "", "", ""}, 3600}, {{429, "", "", ""}, 3600},     {{429, "", "", "1800"}, 1800},
      {{429, "", "", "Wed, 21 Oct"}, 3600}, {{429, "", "", "9"}, 300},
      {{200, R"({"five_hour":{"utilization":5}})", "", ""}, 300}, {{429, "", "", ""}, 600}};
  tracker->start();
  dispatcher.advance(UsageTracker::kFirstFetchDelay - 0.5);
  size_t requests = 0;
  for (const auto& step : steps) {
    http->next = step.answer;
    dispatcher.advance(0.5);
    ASSERT_EQ(http->requests.size(), ++requests);
    const auto backoff = tracker->state().backoff();
    EXPECT_EQ(backoff.has_value(), step.answer.status != 200) << step.answer.status;
    const Seconds now = dispatcher.clock().now();
    if (backoff) {
      EXPECT_TRUE(usageCaption(tracker->state().snapshot(), backoff, now)
                      .ends_with("busy (" + std::to_string(step.answer.status) + ") \u00b7 next try in " +
                                 *resetCountdown(now + step.nextIn, now)));
    }
    dispatcher.advance(step.nextIn - 1);
    EXPECT_EQ(http->requests.size(), requests) << step.nextIn;
    dispatcher.advance(0.5);
  }
  EXPECT_EQ(tracker->state().snapshot().value_or(UsageSnapshot{}).fiveHourPct, 5);  // kept through the 429
}

TEST_F(UsageTrackerTest, StatusLinesComeFirstHighestPerWindowAndTheEndpointOnlyAfterTenQuietMinutes) {
  const Seconds now = dispatcher.clock().now();
  auto feed = [](const char* id, std::optional<RateWindow> fiveHour, std::optional<RateWindow> sevenDay) {
    return StatusLineFeed{.sessionId = id, .fiveHour = fiveHour, .sevenDay = sevenDay};
  };
  tracker->start();
  // A: this window at 30 %; B: the same window (10 s later reset) at 45 %; C: an older window at 90 %.
  tracker->reportStatusLine(feed("a", RateWindow{30, now + 3600}, RateWindow{60, now + 86400}));
  tracker->reportStatusLine(feed("b", RateWindow{45, now + 3610}, std::nullopt));
  tracker->reportStatusLine(feed("c", RateWindow{90, now + 60}, RateWindow{10, now + 100}));
  tracker->reportStatusLine(feed("d", std::nullopt, std::nullopt));  // an API-key login: no figures
  auto snapshot = tracker->state().snapshot().value_or(UsageSnapshot{});
  EXPECT_EQ(std::tuple(snapshot.fiveHourPct, snapshot.fiveHourResets, snapshot.sevenDayPct, snapshot.source),
            std::tuple(45, std::optional<Seconds>(now + 3610), 60, UsageSource::statusLine));
  dispatcher.advance(120);
  EXPECT_EQ(usageCaption(tracker->state().snapshot(), std::nullopt, dispatcher.clock().now()),
            "from Claude Code \u00b7 2m ago");
  dispatcher.advance(479);
  EXPECT_TRUE(http->requests.empty());  // fresh figures: the endpoint is not asked
  dispatcher.advance(1.5);
  EXPECT_EQ(http->requests.size(), 1u);
  EXPECT_EQ(tracker->state().snapshot().value_or(UsageSnapshot{}).source, UsageSource::endpoint);
  prefs.setBool(prefs::kUsageTracking, false);
  tracker->stop();
  tracker->reportStatusLine(feed("a", RateWindow{30, now + 3600}, std::nullopt));
  EXPECT_FALSE(tracker->state().snapshot());  // the meter is off
}

}  // namespace
}  // namespace tovami
