#include "main_loop_support.h"

#include <exception>
#include <stdexcept>
#include <thread>

void TestMainLoop::Post(std::function<void()> call) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(call));
  posted_.notify_all();
}

void TestMainLoop::RunOne(std::function<void()>& call) {
  {
    std::lock_guard lock(mutex_);
    ++served_;
  }
  try {
    call();
  } catch (const std::exception& e) {
    std::lock_guard lock(mutex_);
    errors_.push_back(e.what());
  } catch (...) {
    std::lock_guard lock(mutex_);
    errors_.push_back("unknown exception");
  }
}

bool TestMainLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    std::function<void()> call;
    {
      std::unique_lock lock(mutex_);
      // Short slices: `done` may also turn true through other threads.
      if (!posted_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !queue_.empty(); })) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        continue;
      }
      call = std::move(queue_.front());
      queue_.pop_front();
    }
    RunOne(call);
    if (std::chrono::steady_clock::now() >= deadline) return done();
  }
  return true;
}

void TestMainLoop::RunPending() {
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      call = std::move(queue_.front());
      queue_.pop_front();
    }
    RunOne(call);
  }
}

bool TestMainLoop::WaitForQueued(std::size_t count, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return posted_.wait_for(lock, limit, [&] { return queue_.size() >= count; });
}

std::size_t TestMainLoop::Queued() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

std::size_t TestMainLoop::Served() const {
  std::lock_guard lock(mutex_);
  return served_;
}

std::vector<std::string> TestMainLoop::Errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
