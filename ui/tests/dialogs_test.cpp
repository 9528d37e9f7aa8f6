// The Qt side of the dialogs: filters as the file dialogs want them, texts
// as the message boxes show them.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

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
                                           FilterCase{"Text|*.txt;*.log", "Text (*.txt *.log)"}, FilterCase{"", ""}));

TEST(DisplayText, Utf8IsShownAsItIsOtherBytesAsSingleByteCharacters) {
  EXPECT_EQ(DisplayText("Com-Port not available !!!"), "Com-Port not available !!!");
  EXPECT_EQ(DisplayText("/home/m\xC3\xBC/run.log"), QString::fromUtf8("/home/m\u00FC/run.log"));
  EXPECT_EQ(DisplayText("M\xFCnchen"), QString::fromUtf8("M\u00FCnchen"));
}

struct FilterSuffixCase {
  const char* entry;
  const char* suffix;
};

class FilterSuffixOf : public ::testing::TestWithParam<FilterSuffixCase> {};

TEST_P(FilterSuffixOf, IsTheFirstPatternsExtension) {
  EXPECT_EQ(FilterSuffix(QString::fromLatin1(GetParam().entry)), QString::fromLatin1(GetParam().suffix));
}

INSTANTIATE_TEST_SUITE_P(Entries, FilterSuffixOf,
                         ::testing::Values(FilterSuffixCase{"EDF+ (*.edf)", "edf"},
                                           FilterSuffixCase{"CSV (*.csv)", "csv"},
                                           FilterSuffixCase{"Text (*.txt *.log)", "txt"},
                                           FilterSuffixCase{"All (*)", ""}, FilterSuffixCase{"All (*.*)", ""},
                                           FilterSuffixCase{"no pattern", ""}));

// Runs `inside` on the file dialog once it is open, then lets it finish.
void WhileFileDialogOpen(const std::function<void(QFileDialog&)>& inside) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, inside] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(widget);
      if (!dialog || !dialog->isVisible()) continue;
      timer->stop();
      timer->deleteLater();
      inside(*dialog);
      return;
    }
  });
  timer->start();
}

class QtFileDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home.isValid() && elsewhere.isValid());
    previousHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
  }
  void TearDown() override { qputenv("HOME", previousHome); }

  QTemporaryDir home, elsewhere;
  QByteArray previousHome;
};

TEST_F(QtFileDialogs, StartInTheHomeFolderThenInTheFolderLastUsed) {
  QtDialogs dialogs;
  EXPECT_EQ(dialogs.StartFolder(), QDir::homePath());
  ASSERT_EQ(QDir::homePath(), home.path());

  QString firstStart;
  const QString chosen = elsewhere.filePath(QStringLiteral("run1.log"));
  WhileFileDialogOpen([&](QFileDialog& dialog) {
    firstStart = dialog.directory().absolutePath();
    dialog.selectFile(chosen);
    QMetaObject::invokeMethod(&dialog, "accept");
  });
  FileDialogOptions save;
  save.filter = "ECG Log File|*.log";
  save.defaultExt = "log";
  EXPECT_EQ(dialogs.ExecuteSaveDialog(save), chosen.toStdString());
  EXPECT_EQ(firstStart, QDir(home.path()).absolutePath());

  // The open dialog follows, even after a cancelled dialog in between.
  QString secondStart;
  WhileFileDialogOpen([&](QFileDialog& dialog) {
    secondStart = dialog.directory().absolutePath();
    dialog.reject();
  });
  FileDialogOptions open;
  open.filter = "ECG Data Files|*.dat";
  EXPECT_EQ(dialogs.ExecuteOpenDialog(open), std::nullopt);
  EXPECT_EQ(secondStart, QDir(elsewhere.path()).absolutePath());
  EXPECT_EQ(dialogs.StartFolder(), QDir(elsewhere.path()).absolutePath());
}

TEST_F(QtFileDialogs, TheChosenFilterEntryIsReportedAndGivesTheSuffix) {
  QtDialogs dialogs;
  WhileFileDialogOpen([&](QFileDialog& dialog) {
    dialog.selectNameFilter(QStringLiteral("CSV (*.csv)"));
    emit dialog.filterSelected(QStringLiteral("CSV (*.csv)"));
    dialog.selectFile(elsewhere.filePath(QStringLiteral("export")));
    QMetaObject::invokeMethod(&dialog, "accept");
  });
  FileDialogOptions options;
  options.filter = "EDF+|*.edf|CSV|*.csv";
  options.defaultExt = "edf";
  const std::optional<FileChoice> choice = dialogs.ExecuteSaveDialogWithFilter(options);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->filterIndex, 1u);
  EXPECT_EQ(choice->path, elsewhere.filePath(QStringLiteral("export.csv")).toStdString());
}

}  // namespace

namespace {

// ---- The table box ------------------------------------------------------------

// Runs `inside` on the table dialog once it is open.
void WhileTableDialogOpen(const std::function<void(QDialog&)>& inside) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, inside] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(widget);
      if (!dialog || !dialog->isVisible() || dialog->objectName() != QLatin1String("TableDialog")) continue;
      timer->stop();
      timer->deleteLater();
      inside(*dialog);
      return;
    }
  });
  timer->start();
}

TEST(QtTableDialog, ShowsTheTableUnwrappedInAFixedPitchFaceAndTellsTheButton) {
  QtDialogs dialogs;
  std::string table;
  for (int row = 0; row < 80; ++row) table += "rate    " + std::to_string(row) + " / sec    PASS    a long message\n";
  bool fixedPitch = false, whole = false, unwrapped = false;
  WhileTableDialogOpen([&](QDialog& dialog) {
    auto* text = dialog.findChild<QPlainTextEdit*>();
    ASSERT_TRUE(text);
    fixedPitch = QFontInfo(text->font()).fixedPitch();
    whole = text->toPlainText().toStdString() == table;
    unwrapped = text->lineWrapMode() == QPlainTextEdit::NoWrap;
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
      if (button->text() == QLatin1String("Close")) button->click();
  });
  EXPECT_EQ(dialogs.ChooseOnTable(table, "Acceptance Test", {"Save Report...", "Close"}), 1u);
  EXPECT_TRUE(fixedPitch);
  EXPECT_TRUE(whole);
  EXPECT_TRUE(unwrapped);

  WhileTableDialogOpen([](QDialog& dialog) { dialog.reject(); });
  EXPECT_EQ(dialogs.ChooseOnTable(table, "Acceptance Test", {"Save Report...", "Close"}), std::nullopt);
}

}  // namespace
