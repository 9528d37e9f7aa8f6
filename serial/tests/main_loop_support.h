#pragma once
// The tests' main thread: a queue of calls that the test's own thread serves,
// standing in for the windowing toolkit's event loop.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "serial/MainThreadDispatcher.h"

class TestMainLoop : public TMainThreadDispatcher {
 public:
  void Post(std::function<void()> call) override;

  // Serves queued calls on the calling thread until `done()` holds or
  // `limit` has passed; returns done().
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60));
  // Serves the calls queued at this moment (and those they queue).
  void RunPending();
  // Waits, serving nothing, until at least `count` calls are queued.
  bool WaitForQueued(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(60));
  std::size_t Queued() const;
  // How many queued calls have run so far.
  std::size_t Served() const;

  // What escaped the calls (the application's error handler's share).
  std::vector<std::string> Errors() const;

 private:
  void RunOne(std::function<void()>& call);

  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::string> errors_;
  std::size_t served_ = 0;
};

// Waits for a condition that other threads make true, checking it often.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60));
