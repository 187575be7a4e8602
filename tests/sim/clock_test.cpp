// The virtual clock and the main thread's calls: the application's timing
// tests are only as good as this.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "sim_process.h"
#include "sim_world.h"

namespace qm::sim {
namespace {

class ClockTest : public ::testing::Test {
 protected:
  RunLoop& loop() { return process.platform().runLoop; }

  World world{"/nonexistent/home"};
  Process process{world};
  const Date t0 = world.now();
};

TEST_F(ClockTest, StartsOnSundayMorningLocalTime) {
  EXPECT_EQ(t0, World::startDate());
  const auto seconds = static_cast<std::time_t>(t0);
  std::tm local{};
  localtime_r(&seconds, &local);
  EXPECT_EQ(local.tm_year, 125);
  EXPECT_EQ(local.tm_mon, 2);
  EXPECT_EQ(local.tm_mday, 2);
  EXPECT_EQ(local.tm_hour, 9);
  EXPECT_EQ(local.tm_min, 0);
  EXPECT_EQ(local.tm_sec, 0);
}

TEST_F(ClockTest, TimerFiresFirstOnePeriodAfterCreationSeeingItsDueTime) {
  std::vector<Date> seen;
  TimerRef timer = loop().scheduleRepeatingTimer(2.0, [&] { seen.push_back(world.now()); });
  world.advanceBy(1.999);
  EXPECT_TRUE(seen.empty());
  world.advanceTo(t0 + 7);
  EXPECT_EQ(seen, (std::vector<Date>{t0 + 2, t0 + 4, t0 + 6}));
  EXPECT_EQ(world.now(), t0 + 7);
  EXPECT_TRUE(timer->isValid());
}

TEST_F(ClockTest, SleepFiresNothingAndLateTimerFiresOnceThenKeepsItsGrid) {
  std::vector<Date> ticks;
  TimerRef timer = loop().scheduleRepeatingTimer(1.0, [&] { ticks.push_back(world.now()); });
  std::size_t ticksRightAfterSleep = 99;
  world.at(t0 + 0.5, [&] {
    loop().sleepMicroseconds(3'200'000);
    ticksRightAfterSleep = ticks.size();
  });
  world.advanceTo(t0 + 5);
  EXPECT_EQ(ticksRightAfterSleep, 0u);
  // Due at 1, 2 and 3 while blocked: one late firing at 3.7, then 4 and 5.
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_DOUBLE_EQ(ticks[0], t0 + 3.7);
  EXPECT_EQ(ticks[1], t0 + 4);
  EXPECT_EQ(ticks[2], t0 + 5);
}

TEST_F(ClockTest, TimerWhoseCallbackBlocksSkipsTheTicksItCoveredUp) {
  std::vector<Date> ticks;
  TimerRef timer = loop().scheduleRepeatingTimer(1.0, [&] {
    ticks.push_back(world.now());
    if (ticks.size() == 1) {
      loop().sleepMicroseconds(2'500'000);
    }
  });
  world.advanceTo(t0 + 5);
  EXPECT_EQ(ticks, (std::vector<Date>{t0 + 1, t0 + 4, t0 + 5}));
}

TEST_F(ClockTest, EqualDueTimesRunInPostingOrder) {
  std::string order;
  world.at(t0 + 1, [&] { order += 'a'; });
  loop().performAfterDelay(1.0, [&] { order += 'b'; });
  TimerRef timer = loop().scheduleRepeatingTimer(1.0, [&] { order += 'c'; });
  world.at(t0 + 1, [&] { order += 'd'; });
  // Posted during the run at the current time: after everything already due.
  world.at(t0 + 1, [&] { loop().performAfterDelay(0, [&] { order += 'e'; }); });
  world.advanceTo(t0 + 1);
  EXPECT_EQ(order, "abcde");
}

TEST_F(ClockTest, InvalidateInsideCallbacksStopsTimersAtOnce) {
  int selfCount = 0;
  TimerRef self;
  self = loop().scheduleRepeatingTimer(1.0, [&] {
    if (++selfCount == 3) {
      self->invalidate();
    }
  });
  // Both due at the same instant: the first kills the second before it runs.
  int victimCount = 0;
  TimerRef victim;
  TimerRef killer = loop().scheduleRepeatingTimer(10.0, [&] { victim->invalidate(); });
  victim = loop().scheduleRepeatingTimer(10.0, [&] { ++victimCount; });

  world.advanceBy(100);
  EXPECT_EQ(selfCount, 3);
  EXPECT_FALSE(self->isValid());
  EXPECT_EQ(victimCount, 0);
  EXPECT_FALSE(victim->isValid());
  self->invalidate();  // a second time does nothing
  EXPECT_EQ(world.pendingCallCount(), 1u);
}

TEST_F(ClockTest, DroppingTheHandleDoesNotStopATimer) {
  int count = 0;
  loop().scheduleRepeatingTimer(1.0, [&] { ++count; });
  world.advanceBy(3);
  EXPECT_EQ(count, 3);
}

TEST_F(ClockTest, HugePeriodsNeitherOverflowNorFireEarly) {
  int huge = 0;
  int largest = 0;
  TimerRef a = loop().scheduleRepeatingTimer(1e18, [&] { ++huge; });
  const auto maxSeconds = static_cast<double>(std::numeric_limits<std::int64_t>::max());
  TimerRef b = loop().scheduleRepeatingTimer(maxSeconds, [&] { ++largest; });
  TimerRef c = loop().scheduleRepeatingTimer(std::numeric_limits<double>::infinity(), [] {});
  world.advanceBy(100.0 * 365 * 86400);
  EXPECT_EQ(huge + largest, 0);

  world.advanceTo(t0 + 1e18);
  EXPECT_EQ(huge, 1);
  world.advanceTo(t0 + maxSeconds);
  EXPECT_EQ(huge, 9);
  EXPECT_EQ(largest, 1);
  EXPECT_EQ(world.pendingCallCount(), 3u);
  a->invalidate();
  b->invalidate();
  c->invalidate();
  EXPECT_EQ(world.pendingCallCount(), 0u);
}

TEST_F(ClockTest, NonPositiveIntervalsBecomeTheMinimumInterval) {
  int zero = 0;
  int negative = 0;
  int notANumber = 0;
  TimerRef a = loop().scheduleRepeatingTimer(0, [&] { ++zero; });
  TimerRef b = loop().scheduleRepeatingTimer(-5, [&] { ++negative; });
  TimerRef c = loop().scheduleRepeatingTimer(std::nan(""), [&] { ++notANumber; });
  world.advanceBy(10.5 * World::kMinimumTimerInterval);
  EXPECT_EQ(zero, 10);
  EXPECT_EQ(negative, 10);
  EXPECT_EQ(notANumber, 10);
  // About ten thousand a second; at today's dates a double rounds each step
  // by a fraction of a percent.
  world.advanceBy(1.0);
  EXPECT_NEAR(zero, 10010, 30);
}

TEST_F(ClockTest, WhatCameDueDuringASleepRunsRightAfterItEvenPastTheTarget) {
  std::vector<Date> ran;
  world.at(t0 + 1, [&] {
    loop().performAfterDelay(0.5, [&] { ran.push_back(world.now()); });
    loop().sleepMicroseconds(2'000'000);
  });
  world.advanceTo(t0 + 1);
  EXPECT_EQ(world.now(), t0 + 3);
  EXPECT_EQ(ran, (std::vector<Date>{t0 + 3}));
  world.advanceTo(t0);  // never back
  EXPECT_EQ(world.now(), t0 + 3);
}

TEST_F(ClockTest, ADayOfTimersKeepsNoPerFiringState) {
  std::int64_t fast = 0;
  std::int64_t slow = 0;
  TimerRef a = loop().scheduleRepeatingTimer(0.25, [&] { ++fast; });
  TimerRef b = loop().scheduleRepeatingTimer(2.0, [&] { ++slow; });
  for (int hour = 1; hour <= 24; ++hour) {
    world.advanceTo(t0 + hour * 3600.0);
    EXPECT_EQ(world.pendingCallCount(), 2u);
  }
  EXPECT_EQ(fast, 24 * 3600 * 4);
  EXPECT_EQ(slow, 24 * 3600 / 2);
}

}  // namespace
}  // namespace qm::sim
