#include "nap/keep_awake.h"

#include <gtest/gtest.h>

#include "nap_fakes.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;

TEST(KeepAwake, HoldsWhatItCanDeclaresActivityEveryThirtySecondsAndGivesEverythingBack) {
  for (const bool fail : {false, true}) {
    VirtualDispatcher dispatcher;
    FakePower power;
    power.fail = fail;
    KeepAwake awake("r", power, dispatcher.mainQueue());
    awake.end();  // a fresh instance ignores end
    awake.begin();
    awake.begin();
    EXPECT_EQ(awake.hasDisplay(), !fail);
    EXPECT_EQ(awake.hasSystem(), !fail);
    dispatcher.advance(95);
    EXPECT_EQ(power.activityDeclarations, 4);        // 0, 30, 60 and 90 s, failed assertions or not
    EXPECT_EQ(power.held.size(), fail ? 1u : 3u);  // the activity slot is reused
    awake.end();
    dispatcher.advance(60);
    EXPECT_EQ(power.activityDeclarations, 4);
    EXPECT_TRUE(power.held.empty());
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
  }
}

TEST(KeepAwake, TwoOwnersOverlapWithoutInterference) {
  VirtualDispatcher dispatcher;
  FakePower power;
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
