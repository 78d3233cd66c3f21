#include "../../archive/src/pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Pipeline = za::TZAPipeline<int>;

TEST(PipelineTest, OutcomesComeInOrderWhoeverWorkedOnThem) {
  std::atomic<int> worked{0};
  Pipeline p(
      50, za::TZAPipelineBounds{8, 1000, 2},
      [&](int& item, const std::atomic<bool>&) {
        ++worked;
        item *= 10;
        return item % 70 != 0;
      });
  for (std::size_t k = 0; k < 50; ++k) p.Offer(k, static_cast<int>(k));
  for (std::size_t k = 0; k < 50; ++k) {
    int item = -1;
    Pipeline::TOutcome o = p.Take(k, item, true);
    EXPECT_EQ(item, static_cast<int>(k) * 10);
    EXPECT_EQ(o, k % 7 == 0 ? Pipeline::TOutcome::Failed : Pipeline::TOutcome::Succeeded) << k;
  }
  EXPECT_EQ(worked, 50);  // each item once, by a helper or by the taker
}

TEST(PipelineTest, HelpersStayWithinTheWindowAndTheByteBound) {
  std::atomic<std::size_t> furthest{0};
  std::atomic<std::size_t> taken{0};
  std::atomic<bool> outside{false};
  Pipeline p(
      40, za::TZAPipelineBounds{4, 1000, 2},
      [&](int& item, const std::atomic<bool>&) {
        if (static_cast<std::size_t>(item) >= taken + 5) outside = true;
        std::size_t seen = furthest;
        while (static_cast<std::size_t>(item) > seen && !furthest.compare_exchange_weak(seen, item)) {
        }
        return true;
      });
  for (std::size_t k = 0; k < 40; ++k) p.Offer(k, static_cast<int>(k));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_LT(furthest.load(), 4u);  // nothing taken yet: the first four at most
  for (std::size_t k = 0; k < 40; ++k) {
    taken = k;
    int item;
    EXPECT_EQ(p.Take(k, item, true), Pipeline::TOutcome::Succeeded);
  }
  EXPECT_FALSE(outside);

  // What is offered must fit the bytes held.
  Pipeline bytes(10, za::TZAPipelineBounds{10, 100, 1}, [](int&, const std::atomic<bool>&) { return true; });
  EXPECT_TRUE(bytes.Wants(0, 60));
  bytes.Offer(0, 0, 60);
  EXPECT_FALSE(bytes.Wants(1, 50));
  EXPECT_TRUE(bytes.Wants(1, 40));
  EXPECT_FALSE(bytes.Wants(0, 1));  // offered already
  EXPECT_FALSE(bytes.Wants(1, 101));
  int item;
  bytes.Take(0, item, true);
  EXPECT_TRUE(bytes.Wants(1, 100));  // taking gave the room back
}

TEST(PipelineTest, PassedOverAndLeftOverItemsAreDroppedOnce) {
  std::vector<int> dropped;
  std::mutex m;
  {
    Pipeline p(
        10, za::TZAPipelineBounds{10, 1000, 1}, [](int&, const std::atomic<bool>&) { return true; }, {},
        [&](int& item, bool) {
          std::lock_guard<std::mutex> lock(m);
          dropped.push_back(item);
        });
    for (std::size_t k = 0; k < 10; ++k) p.Offer(k, static_cast<int>(k));
    int item;
    EXPECT_EQ(p.Take(0, item, true), Pipeline::TOutcome::Succeeded);
    EXPECT_EQ(p.Take(5, item, true), Pipeline::TOutcome::Succeeded);
    EXPECT_EQ(item, 5);
    // An item taken back without its outcome, and one not offered.
    p.Cancel(7);
    EXPECT_EQ(p.Take(7, item, true), Pipeline::TOutcome::NotOffered);
  }
  std::sort(dropped.begin(), dropped.end());
  // 1 to 4 if the helper had made them, 7 if it had; 6, 8 and 9 the same;
  // never 0 or 5, which were taken, and none twice.
  EXPECT_TRUE(std::adjacent_find(dropped.begin(), dropped.end()) == dropped.end());
  EXPECT_EQ(std::count(dropped.begin(), dropped.end(), 0), 0);
  EXPECT_EQ(std::count(dropped.begin(), dropped.end(), 5), 0);
}

TEST(PipelineTest, StoppingEndsWorkInProgressAndWhatIsNotBegunIsLeftToTheCaller) {
  std::atomic<bool> started{false};
  Pipeline p(3, za::TZAPipelineBounds{3, 1000, 1}, [&](int&, const std::atomic<bool>& stop) {
    started = true;
    while (!stop) std::this_thread::yield();
    return true;
  });
  p.Offer(0, 0);
  while (!started) std::this_thread::yield();
  p.Stop();
  int item;
  EXPECT_NE(p.Take(0, item, false), Pipeline::TOutcome::Succeeded);
  p.Offer(1, 1);
  EXPECT_EQ(p.Take(1, item, false), Pipeline::TOutcome::NotOffered);  // not worked on here
}

// The ring of slots is the window's size, not the batch's: an item whose
// slot a helper still holds with an item passed over waits for it, and
// every outcome still comes in order.
TEST(PipelineRingTest, ItemsBehindAPassedOverOneWaitForItsSlot) {
  std::atomic<bool> release{false}, started{false};
  std::atomic<int> worked{0};
  Pipeline p(
      100, za::TZAPipelineBounds{2, 1000, 1},
      [&](int& item, const std::atomic<bool>&) {
        if (item == 0) started = true;
        if (item == 0)
          while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++worked;
        item += 1000;
        return true;
      });
  for (std::size_t k = 0; k < 100; ++k) p.Offer(k, static_cast<int>(k));
  // The helper takes item 0 and holds it.
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release = true;
  });
  for (std::size_t k = 1; k < 100; ++k) {
    int item = -1;
    EXPECT_EQ(p.Take(k, item, true), Pipeline::TOutcome::Succeeded) << k;
    EXPECT_EQ(item, static_cast<int>(k) + 1000) << k;
  }
  releaser.join();
}

}  // namespace
