#include "recording_support.h"

#include <sys/resource.h>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "chart/PainterCanvas.h"

namespace {

// Every test of the recording library formats times in the C locale (a
// 24-hour clock). Set before main(), so before Qt first reads the
// environment for its system locale.
const bool kLocaleChosen = [] {
  setenv("LC_ALL", "C.UTF-8", 1);
  setenv("LANG", "C.UTF-8", 1);
  unsetenv("LC_TIME");
  return true;
}();

}  // namespace

// --- files ---------------------------------------------------------------------

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "recording_test_XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  // A test may have made a folder read-only.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    if (entry.is_directory(ignored))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                   ignored);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> ScratchFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string RecordBytes(const SampleRecord& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

void FillStore(SampleStore& store, int count, unsigned seed) {
  std::mt19937 random(seed);
  auto byte = [&] { return static_cast<std::uint8_t>(random() & 0xFF); };
  SampleRecord& header = store.At(0);
  header.time = 1234.5;
  for (auto& b : header.channels) b = byte();
  for (auto& b : header.chest) b = byte();
  for (auto& b : header.reserved) b = byte();
  store.BeginRecording();
  for (int i = 0; i < count; ++i) {
    SampleRecord& record = store.At(store.Append());
    record.time = (36000.0 + i / 500.0) / 86400.0;
    for (auto& b : record.channels) b = byte();
    for (auto& b : record.chest) b = byte();
    for (auto& b : record.reserved) b = byte();
  }
}

ScopedFileSizeLimit::ScopedFileSizeLimit(std::uint64_t bytes) {
  previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  previousSoft_ = limit.rlim_cur;
  limit.rlim_cur = bytes;
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit failed");
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = previousSoft_;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, previousHandler_);
}

// --- print jobs ------------------------------------------------------------------

namespace {

class PdfPrintJob : public PrintJob {
 public:
  explicit PdfPrintJob(const std::string& path) : writer_(QString::fromStdString(path)) {
    writer_.setPageSize(QPageSize(QPageSize::A4));
    writer_.setResolution(300);
  }
  void SetLandscape() override { writer_.setPageOrientation(QPageLayout::Landscape); }
  void BeginDoc() override {
    if (!painter_.begin(&writer_)) throw std::runtime_error("cannot start the PDF");
    page_ = std::make_unique<PainterCanvas>(painter_, writer_.width(), writer_.height(), writer_.resolution());
  }
  int PageWidth() const override { return writer_.width(); }
  int PageHeight() const override { return writer_.height(); }
  ChartCanvas& Page() override { return *page_; }
  void EndDoc() override {
    page_.reset();
    painter_.end();
  }
  void Abort() noexcept override {
    page_.reset();
    if (painter_.isActive()) painter_.end();
  }

 private:
  QPdfWriter writer_;
  QPainter painter_;
  std::unique_ptr<PainterCanvas> page_;
};

}  // namespace

std::unique_ptr<PrintJob> MakePdfPrintJob(const std::string& pdfPath) { return std::make_unique<PdfPrintJob>(pdfPath); }

std::optional<std::string> CommandOutput(const std::string& commandLine) {
  FILE* pipe = ::popen((commandLine + " 2>/dev/null").c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string output;
  char chunk[4096];
  while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, got);
  if (::pclose(pipe) != 0) return std::nullopt;
  return output;
}

// --- fixture ---------------------------------------------------------------------

RecordingFixture::RecordingFixture() {
  (void)kLocaleChosen;
  SelectScreenLayout(layout, 1280);
  LayoutBands(layout, {true, true, true, true, true, true, true, true});
  chartPtr = std::make_unique<ImageCanvas>(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, *chartPtr);
  dialogs.onUnscripted = [](const std::string& dialog) { ADD_FAILURE() << "unexpected " << dialog << " dialog"; };
}
