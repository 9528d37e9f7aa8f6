#pragma once
// Shared pieces of the recording tests (and of the window's recording flows'
// tests in ui/tests): a scratch folder, print jobs (one recording the page's
// drawing calls, one writing a PDF), and a fixture holding a Wide
// eight-channel chart.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "chart/ChartLayout.h"
#include "chart/ImageCanvas.h"
#include "recording/Dialogs.h"
#include "store/SampleStore.h"
#include "testsupport/FakeDialogs.h"

// The date and time the tests' clock shows.
inline constexpr const char* kTestNow = "2024-03-05 14:05:33";

// A fresh folder, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  // Names of everything in the folder, hidden files included, sorted.
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path path_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
// The bytes of records as the data file holds them.
std::string RecordBytes(const SampleRecord& record);

// Lowers this process's file size limit (RLIMIT_FSIZE) for its lifetime and
// ignores SIGXFSZ, so a write past the limit fails like one on a full disk
// (EFBIG) instead of ending the process. Needs no privileges.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(std::uint64_t bytes);
  ~ScopedFileSizeLimit();
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  std::uint64_t previousSoft_;
  void (*previousHandler_)(int);
};

// Fills slots 1..count with varied, recognisable records (the reserved bytes
// too, as a loaded file may carry them) and slot 0 with other bytes.
void FillStore(SampleStore& store, int count, unsigned seed = 1);

// A ChartCanvas that only remembers the calls made on it.
struct CanvasCall {
  std::string op;  // "CopyRectStretched", "SetFontColor", "SetFontSize", "PutText", ...
  TRect rect{};
  TRect sourceRect{};
  const ChartCanvas* source = nullptr;
  int x = 0, y = 0, value = 0;
  TColor color{};
  std::string text;
};

class RecordingCanvas : public ChartCanvas {
 public:
  RecordingCanvas(int width, int height) : width_(width), height_(height) {}
  std::vector<CanvasCall> calls;

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetPenColor(TColor color) override { Add("SetPenColor").color = color; }
  void SetPenStyle(TPenStyle style) override { Add("SetPenStyle").value = style; }
  void SetBrushColor(TColor color) override { Add("SetBrushColor").color = color; }
  void FillRect(const TRect& rect) override { Add("FillRect").rect = rect; }
  void Polyline(std::span<const TPoint>) override { Add("Polyline"); }
  using ChartCanvas::Polyline;
  void SetFontSize(int points) override { Add("SetFontSize").value = points; }
  void SetFontColor(TColor color) override { Add("SetFontColor").color = color; }
  void PutText(int x, int y, std::string_view text) override {
    CanvasCall& call = Add("PutText");
    call.x = x;
    call.y = y;
    call.text = text;
  }
  void CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) override {
    CanvasCall& call = Add("CopyRectStretched");
    call.rect = dest;
    call.source = &source;
    call.sourceRect = sourceRect;
  }

 private:
  CanvasCall& Add(const char* op) {
    calls.emplace_back();
    calls.back().op = op;
    return calls.back();
  }
  int width_, height_;
};

// A print job on a RecordingCanvas page that the test owns (it outlives the
// job); `log` receives the job's own steps ("SetLandscape", "BeginDoc",
// "EndDoc", "Abort") in order.
class RecordingPrintJob : public PrintJob {
 public:
  RecordingPrintJob(RecordingCanvas& page, std::vector<std::string>& log) : log_(log), page_(page) {}
  void SetLandscape() override { log_.push_back("SetLandscape"); }
  void BeginDoc() override { log_.push_back("BeginDoc"); }
  int PageWidth() const override { return page_.Width(); }
  int PageHeight() const override { return page_.Height(); }
  ChartCanvas& Page() override { return page_; }
  void EndDoc() override { log_.push_back("EndDoc"); }
  void Abort() noexcept override { log_.push_back("Abort"); }

 private:
  std::vector<std::string>& log_;
  RecordingCanvas& page_;
};

// A print job writing a PDF file, the page drawn through the chart's
// PainterCanvas.
std::unique_ptr<PrintJob> MakePdfPrintJob(const std::string& pdfPath);

// Output of a command line (stdout), or nothing when it could not run or
// failed.
std::optional<std::string> CommandOutput(const std::string& commandLine);

// A store, a Wide eight-channel chart, scripted dialogs, the data file last
// named and a scratch folder, as the window holds them. A dialog without a
// scripted answer fails the test. The tests' clock shows kTestNow.
class RecordingFixture : public ::testing::Test {
 protected:
  RecordingFixture();

  std::unique_ptr<SampleStore> storePtr = std::make_unique<SampleStore>();
  SampleStore& store = *storePtr;
  ChartLayout layout;
  std::unique_ptr<ImageCanvas> chartPtr;
  FakeDialogs dialogs;
  std::string currentDataFile;
  std::function<std::string()> nowText = [] { return std::string(kTestNow); };
  ImageCanvas& chart() { return *chartPtr; }
  ScratchFolder folder;
};
