// The Qt side of the dialogs: filters as the file dialogs want them, texts
// as the message boxes show them.
#include <QString>

#include "ui/QtDialogs.h"
#include "window_support.h"

namespace {

struct FilterCase {
  const char* filter;
  const char* expected;
};

class FileFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FileFilter, DescriptionAndPatternPairsBecomeQtFilters) {
  EXPECT_EQ(QtFileFilter(GetParam().filter), QString::fromLatin1(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Filters, FileFilter,
                         ::testing::Values(FilterCase{"ECG Log File|*.log", "ECG Log File (*.log)"},
                                           FilterCase{"ECG Data Files|*.dat", "ECG Data Files (*.dat)"},
                                           FilterCase{"Logs|*.log|All|*.*", "Logs (*.log);;All (*.*)"},
                                           FilterCase{"Text|*.txt;*.log", "Text (*.txt *.log)"},
                                           FilterCase{"", ""}));

TEST(DisplayText, Utf8IsShownAsItIsOtherBytesAsSingleByteCharacters) {
  EXPECT_EQ(DisplayText("Com-Port not available !!!"), "Com-Port not available !!!");
  EXPECT_EQ(DisplayText("/home/m\xC3\xBC/run.log"), QString::fromUtf8("/home/m\u00FC/run.log"));
  EXPECT_EQ(DisplayText("M\xFCnchen"), QString::fromUtf8("M\u00FCnchen"));
}

}  // namespace
