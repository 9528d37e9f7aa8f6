#pragma once
// The module's end of a pseudo-terminal for the benchmarks that play a live
// stream: one sample every 1/rate s (sample and chest frame in one write, as
// the module simulator writes them) and the status, chest status, pulse and
// respiration frames once a second, each write stamped with the steady clock
// once the kernel has the bytes. Or, as a USB adapter delivers them, several
// samples in one write once the last of them is due; and instead of the
// synthetic ECG, full-scale sines on every channel (the dearest to draw).
#include <sys/types.h>
#include <unistd.h>

#include <pthread.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <thread>
#include <vector>

#include "BenchFigures.h"
#include "simulator/ModuleFrames.h"
#include "simulator/SyntheticEcg.h"
#include "testsupport/PtyPair.h"

// What the line carries and how it is cut into writes.
struct LineFeed {
  int samplesPerWrite = 1;
  bool fullScaleSines = false;  // else the simulator's ECG

  std::string Name() const {
    std::string name = fullScaleSines ? "full-scale sines" : "simulator ECG";
    name += samplesPerWrite == 1 ? ", 1 sample per write" : ", " + std::to_string(samplesPerWrite) + " samples per write";
    return name;
  }
};

// Every channel a sine from the lowest byte to the highest that is no frame
// start, each at its own frequency: every segment drawn spans much of its band.
inline SampleBytes FullScaleSines(double seconds) {
  SampleBytes bytes;
  auto at = [seconds](std::size_t channel) {
    const double phase = 2 * M_PI * (0.7 + 0.23 * static_cast<double>(channel)) * seconds;
    return static_cast<std::uint8_t>(std::lround(123.5 + 123.5 * std::sin(phase)));
  };
  for (std::size_t c = 0; c < bytes.channels.size(); ++c) bytes.channels[c] = at(c);
  for (std::size_t c = 0; c < bytes.chest.size(); ++c) bytes.chest[c] = at(bytes.channels.size() + c);
  return bytes;
}

// The module's end of the line: samples at the set pace, the status frames
// once a second, every write stamped when the kernel has its bytes.
class ModuleLine {
 public:
  ModuleLine(PtyPair& pty, const ModuleConfig& config, double rate, std::size_t samples, LineFeed feed = {})
      : pty_(pty), config_(config), rate_(rate), samples_(samples), feed_(feed) {
    sentAt_.resize(samples);
  }
  ~ModuleLine() { Join(); }

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  void Abort() { abort_ = true; }
  // CPU time of the thread so far (callable from any thread while it runs).
  double CpuSeconds() const {
    clockid_t clock;
    if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) != 0) return finalCpu_;
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0) return finalCpu_;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
  double FinalCpuSeconds() const { return finalCpu_; }
  std::size_t Written() const { return written_.load(); }
  long ThreadId() const { return tid_.load(); }
  // Time the k-th sample's frames (0-based) were all written.
  std::chrono::steady_clock::time_point SentAt(std::size_t k) const { return sentAt_[k]; }
  bool Failed() const { return failed_.load(); }

 private:
  void Run() {
    tid_ = static_cast<long>(gettid());
    pthread_setname_np(pthread_self(), "module-line");  // apart from the tool's threads in a profile
    SyntheticEcg ecg;
    std::uint8_t statusSequence = 0;
    const auto period =
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(1.0 / rate_));
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point nextStatus = start;
    try {
      const auto perWrite = static_cast<std::size_t>(std::max(1, feed_.samplesPerWrite));
      std::string pending;
      std::size_t first = 0;  // the first sample in `pending`
      for (std::size_t k = 0; k < samples_ && !abort_; ++k) {
        if (pending.empty()) first = k;
        const double seconds = static_cast<double>(k) / rate_;
        const SampleBytes sample = feed_.fullScaleSines ? FullScaleSines(seconds)
                                                        : SyntheticEcg::ToBytes(ecg.At(seconds), config_.amplification);
        pending += EncodeSample(config_, static_cast<std::uint8_t>(k % kSequenceModulus), sample);
        if ((k + 1) % perWrite != 0 && k + 1 < samples_) continue;
        // The batch goes out when its last sample is due.
        const std::chrono::steady_clock::time_point due = start + period * static_cast<long long>(k);
        std::this_thread::sleep_until(due);
        if (std::chrono::steady_clock::now() >= nextStatus) {
          std::string status = EncodeStatusFrame(statusSequence, kAllLimbElectrodes, config_.SettingsByte(), mmNormal);
          if (config_.TwelveChannel()) status += EncodeChestStatusFrame(statusSequence, kAllChestElectrodes);
          status += EncodePulseFrame(statusSequence, 72);
          status += EncodeRespirationFrame(statusSequence, 15);
          statusSequence = static_cast<std::uint8_t>((statusSequence + 1) % kSequenceModulus);
          pty_.Write(status);
          nextStatus += std::chrono::seconds(1);
        }
        pty_.Write(pending);
        pending.clear();
        const std::chrono::steady_clock::time_point sent = std::chrono::steady_clock::now();
        for (std::size_t j = first; j <= k; ++j) sentAt_[j] = sent;
        written_.store(k + 1);
      }
    } catch (const std::exception& error) {
      std::fprintf(stderr, "bench: the module's line failed: %s\n", error.what());
      failed_ = true;
    }
    finalCpu_ = ThreadCpuSeconds();
  }

  PtyPair& pty_;
  ModuleConfig config_;
  double rate_;
  std::size_t samples_;
  LineFeed feed_;
  std::vector<std::chrono::steady_clock::time_point> sentAt_;
  std::atomic<std::size_t> written_{0};
  std::atomic<bool> abort_{false};
  std::atomic<bool> failed_{false};
  std::atomic<long> tid_{0};
  double finalCpu_ = 0;
  std::thread thread_;
};
