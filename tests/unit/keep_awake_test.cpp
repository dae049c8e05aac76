#include "nap/keep_awake.h"

#include <gtest/gtest.h>

#include "nap_fakes.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;

class KeepAwakeTest : public ::testing::Test {
 protected:
  VirtualDispatcher dispatcher;
  FakePower power;
};

TEST_F(KeepAwakeTest, BeginTwiceThenEndLeavesNothingHeld) {
  KeepAwake awake("Tovami nap in progress", power, dispatcher.mainQueue());
  awake.end();  // a fresh instance ignores end
  EXPECT_TRUE(power.held.empty());
  awake.begin();
  awake.begin();
  EXPECT_EQ(power.held.size(), 3u);
  EXPECT_EQ(power.activityDeclarations, 1);
  awake.end();
  EXPECT_TRUE(power.held.empty());
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST_F(KeepAwakeTest, DeclaresActivityEveryThirtySeconds) {
  KeepAwake awake("r", power, dispatcher.mainQueue());
  awake.begin();
  dispatcher.advance(95);
  EXPECT_EQ(power.activityDeclarations, 4);  // 0, 30, 60 and 90 s
  EXPECT_EQ(power.held.size(), 3u);          // the activity slot is reused
  awake.end();
  dispatcher.advance(60);
  EXPECT_EQ(power.activityDeclarations, 4);
}

TEST_F(KeepAwakeTest, FailedAssertionsAreNotHeldButTheHeartbeatRuns) {
  power.failDisplay = power.failSystem = true;
  KeepAwake awake("r", power, dispatcher.mainQueue());
  awake.begin();
  EXPECT_TRUE(awake.isActive());
  EXPECT_FALSE(awake.hasDisplay());
  EXPECT_FALSE(awake.hasSystem());
  dispatcher.advance(30);
  EXPECT_EQ(power.activityDeclarations, 2);
  awake.end();
  EXPECT_TRUE(power.held.empty());
}

TEST_F(KeepAwakeTest, TwoOwnersOverlapWithoutInterference) {
  KeepAwake nap("Tovami nap in progress", power, dispatcher.mainQueue());
  KeepAwake agents("Tovami: agents are working", power, dispatcher.mainQueue());
  nap.begin();
  agents.begin();
  nap.end();
  EXPECT_EQ(power.heldFor("Tovami nap in progress"), 0);
  EXPECT_EQ(power.heldFor("Tovami: agents are working"), 3);
  dispatcher.advance(30);
  EXPECT_EQ(power.activityDeclarations, 3);  // two at begin, one heartbeat of the agents
  agents.end();
  EXPECT_TRUE(power.held.empty());
}

}  // namespace
}  // namespace tovami
