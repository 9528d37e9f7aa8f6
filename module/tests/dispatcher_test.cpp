// The Qt side of the port's hand-over: calls posted from any thread run on
// the main thread, in order, and a failing call does not stop the queue.
#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include "module/QtMainThreadDispatcher.h"

#include "testsupport/QtWait.h"

namespace {

TEST(QtMainThreadDispatcher, CallsPostedFromAnotherThreadRunOnTheMainThreadInOrder) {
  QtMainThreadDispatcher dispatcher;
  std::vector<int> order;
  std::atomic<bool> offMain{false};
  QThread* main = QThread::currentThread();
  std::thread poster([&] {
    for (int i = 0; i < 1000; ++i) {
      dispatcher.Post([&, i] {
        if (QThread::currentThread() != main) offMain = true;
        order.push_back(i);
      });
    }
  });
  poster.join();
  ASSERT_TRUE(WaitUntil([&] { return order.size() == 1000; }));
  EXPECT_FALSE(offMain);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(dispatcher.Served(), 1000);
}

TEST(QtMainThreadDispatcher, PostNeverRunsTheCallInsidePost) {
  QtMainThreadDispatcher dispatcher;
  bool ran = false;
  dispatcher.Post([&] { ran = true; });
  EXPECT_FALSE(ran);
  EXPECT_TRUE(WaitUntil([&] { return ran; }));
}

TEST(QtMainThreadDispatcher, FailingCallIsReportedAndTheQueueGoesOn) {
  QtMainThreadDispatcher dispatcher;
  std::vector<std::string> reported;
  dispatcher.SetErrorHandler([&](const std::string& text) { reported.push_back(text); });
  bool later = false;
  dispatcher.Post([] { throw std::runtime_error("ReadFile function failed (win error code: 5)"); });
  dispatcher.Post([&] { later = true; });
  ASSERT_TRUE(WaitUntil([&] { return later; }));
  EXPECT_EQ(reported, std::vector<std::string>{"ReadFile function failed (win error code: 5)"});
}

TEST(QtMainThreadDispatcher, CallsServedInsideANestedLoopKeepTheirOrder) {
  QtMainThreadDispatcher dispatcher;
  std::vector<int> order;
  dispatcher.Post([&] {
    order.push_back(1);
    // A modal dialog runs the loop again, as the offer to save does.
    WaitUntil([&] { return order.size() >= 3; }, std::chrono::seconds(5));
  });
  dispatcher.Post([&] { order.push_back(2); });
  dispatcher.Post([&] { order.push_back(3); });
  ASSERT_TRUE(WaitUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(QtMainThreadDispatcher, CallsStillQueuedAtDestructionAreDropped) {
  bool ran = false;
  {
    QtMainThreadDispatcher dispatcher;
    dispatcher.Post([&] { ran = true; });
  }
  DrainEvents(std::chrono::milliseconds(50));
  EXPECT_FALSE(ran);
}

}  // namespace
