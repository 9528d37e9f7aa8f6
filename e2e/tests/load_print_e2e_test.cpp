// A saved recording brought back: the Load button reads the data file into
// the store and onto the chart, and Print puts that chart on a PDF page whose
// header names the data file.
#include <QDate>
#include <QImage>
#include <cstring>

#include "chart/ImageCanvas.h"
#include "e2e_support.h"
#include "store/LocaleFormat.h"
#include "ui/QtDialogs.h"

namespace {

constexpr std::uint8_t kI = 0x01;
constexpr std::uint8_t kII = 0x02;
constexpr std::uint8_t kIII = 0x04;

// The file name as the print header shows it: whole up to 65 characters,
// else "..." and the last 60.
std::string ShownName(const std::string& path) {
  return path.size() <= 65 ? path : "..." + path.substr(path.size() - 60);
}

// Pixels in `area` of `image` whose colour leans clearly towards `hue`
// (printing scales the chart, so thin lines blend with the background).
enum class Hue { Blue, Purple, Green };
int PixelsOf(const QImage& image, Hue hue, const QRect& area) {
  int n = 0;
  const QRect inside = area.intersected(image.rect());
  for (int y = inside.top(); y <= inside.bottom(); ++y) {
    for (int x = inside.left(); x <= inside.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      const int r = qRed(p), g = qGreen(p), b = qBlue(p);
      switch (hue) {
        case Hue::Blue: n += b > r + 60 && b > g + 60; break;
        case Hue::Purple: n += r > g + 40 && b > g + 40; break;
        case Hue::Green: n += g > r + 40 && g > b + 40; break;
      }
    }
  }
  return n;
}

// Words of `text` joined by single blanks (pdftotext does not keep runs of
// blanks).
std::string Words(const std::string& text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\f') {
      blank = !out.empty();
    } else {
      if (blank) out += ' ';
      out += c;
      blank = false;
    }
  }
  return out;
}

class EndToEndLoadAndPrint : public EndToEnd {
 protected:
  // A recording of `records` samples saved as <scratch>/<name>.log/.dat.
  void RecordAndSave(int records, const std::string& name) {
    Click("ReadButton");
    ASSERT_TRUE(WaitUntil([&] { return Count() >= records; }));
    dialogs.confirmAnswers = {true};
    dialogs.saveAnswers = {(Scratch() / (name + ".log")).string()};
    Click("ReadButton");
    ASSERT_EQ(dialogs.Messages(), std::vector<std::string>{});
  }

  // Blue (lead I) pixels right of the labels in band I of the chart image.
  int TracePixelsOfLeadI() const {
    const ChartLayout& layout = form->Layout();
    const auto& band = layout.BandTable[chI];
    const QRect area(layout.Margin + 40, band.Bottom - band.Height, layout.RightEdge - layout.Margin - 40, band.Height);
    return PixelsOf(form->Canvas().Image(), Hue::Blue, area);
  }
};

TEST_F(EndToEndLoadAndPrint, SavedRecordingLoadsBackIntoTheStoreAndPrintsWithItsFileName) {
  SetUpModule({.channelMask = kI | kII | kIII, .items = {}});
  RecordAndSave(300, "run");
  const std::filesystem::path dat = Scratch() / "run.dat";
  const int saved = Count();
  std::vector<SampleRecord> copy(static_cast<std::size_t>(saved) + 1);
  for (int slot = 0; slot <= saved; ++slot) copy[static_cast<std::size_t>(slot)] = form->Store().At(slot);

  // A second, shorter recording replaces it in memory and is not saved.
  dialogs.confirmAnswers = {false};
  Click("ReadButton");
  ASSERT_TRUE(WaitUntil([&] { return Count() >= 20; }));
  Click("ReadButton");
  ASSERT_LT(Count(), saved);

  dialogs.openAnswers = {dat.string()};
  Click("LoadButton");
  EXPECT_TRUE(WaitUntil([&] { return Panel(5) == "Status: Idle"; })) << Panel(5);
  EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{});
  ASSERT_EQ(Count(), saved);
  EXPECT_EQ(form->CurrentDataFile(), dat.string());
  EXPECT_EQ(std::memcmp(&form->Store().At(0), &ReadDataFile(dat)[0], sizeof(SampleRecord)), 0) << "header slot";
  int differing = 0;
  for (int slot = 1; slot <= saved; ++slot) {
    differing += std::memcmp(&form->Store().At(slot), &copy[static_cast<std::size_t>(slot)], sizeof(SampleRecord)) != 0;
  }
  EXPECT_EQ(differing, 0) << "records that came back different";
  EXPECT_TRUE(Shown("PrintButton"));
  EXPECT_GT(TracePixelsOfLeadI(), 100) << "the loaded recording is drawn";

  // Print to a PDF file in place of a printer.
  const std::filesystem::path pdf = Scratch() / "chart.pdf";
  dialogs.printAnswers = {[pdf] { return PdfPrintJob(pdf.string()); }};
  Click("PrintButton");
  EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{});
  ASSERT_TRUE(std::filesystem::exists(pdf));
  EXPECT_GT(std::filesystem::file_size(pdf), 1000u);

  if (!ProgramAvailable("pdftotext") || !ProgramAvailable("pdftoppm")) {
    GTEST_SKIP() << "poppler-utils missing: the PDF's contents are not checked";
  }
  const std::optional<std::string> text = CommandOutput("pdftotext -layout '" + pdf.string() + "' -");
  ASSERT_TRUE(text);
  const std::string header = "Varnok GmbH  /  " + ShownName(dat.string()) + "  /  ";
  EXPECT_NE(Words(*text).find(Words(header)), std::string::npos) << "the page reads:\n" << *text;
  EXPECT_NE(text->find(ShortDateText(QDate::currentDate())), std::string::npos) << *text;

  // The page carries the chart with its traces: one landscape page, lead I
  // (blue) in its top third, II (purple) in the middle, III (green) below.
  ASSERT_TRUE(CommandOutput("pdftoppm -r 100 -png '" + pdf.string() + "' '" + (Scratch() / "page").string() + "'"));
  QImage page;
  for (const char* name : {"page-1.png", "page-01.png", "page-001.png"})
    if (page.load(QString::fromStdString((Scratch() / name).string()))) break;
  ASSERT_FALSE(page.isNull()) << "pdftoppm wrote no page";
  EXPECT_GT(page.width(), page.height()) << "landscape";
  const int third = page.height() / 3;
  EXPECT_GT(PixelsOf(page, Hue::Blue, QRect(0, 0, page.width(), third)), 50);
  EXPECT_GT(PixelsOf(page, Hue::Purple, QRect(0, third, page.width(), third)), 50);
  EXPECT_GT(PixelsOf(page, Hue::Green, QRect(0, 2 * third, page.width(), third)), 50);
}

}  // namespace
