// The test and monitoring station: one window. The command line only serves
// packaging and scripts (--help, --version, --quit-after-start); Qt's own
// options (-platform, -display ...) are taken by QApplication first.
#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ui/MainWindow.h"
#include "ui/QtDialogs.h"

namespace {

constexpr const char* kUsage =
    "Usage: ecg-tool [--quit-after-start] [Qt options]\n"
    "\n"
    "Opens the test and monitoring station's window.\n"
    "\n"
    "  --quit-after-start  show the window, print its caption and size, quit\n"
    "                      (checks an installation, e.g. offscreen)\n"
    "  --help, --version\n";

enum class Request { kRun, kQuitAfterStart, kBad };

Request ParseArguments(int argc, char** argv) {
  if (argc > 2) return Request::kBad;
  if (argc < 2) return Request::kRun;
  const char* arg = argv[1];
  if (std::strcmp(arg, "--quit-after-start") == 0) return Request::kQuitAfterStart;
  return Request::kBad;
}

// --help and --version answer without a display: they are what a packager
// or a user on a console tries first.
bool AnswerWithoutDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("ecg-tool %s\n", ECG_VERSION);
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswerWithoutDisplay(argc, argv)) return 0;
  QApplication app(argc, argv);  // removes the Qt options from argv
  const Request request = ParseArguments(argc, argv);
  switch (request) {
    case Request::kBad:
      std::fprintf(stderr, "ecg-tool: unknown argument \"%s\"\n\n%s", argv[argc - 1], kUsage);
      return 2;
    case Request::kRun:
    case Request::kQuitAfterStart: break;
  }
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  // Only the name: a display name would be appended to the window caption by
  // the X11 platform plugin. Message boxes take the title as their caption.
  QtDialogs dialogs;
  TForm1 form(dialogs);
  dialogs.SetParent(&form);
  // The last port and set-up, in ~/.config/ecg-test-station/ecg-tool.ini.
  form.UseSettings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                               QStringLiteral("ecg-test-station"), QStringLiteral("ecg-tool")));
  form.move(form.x(), 0);  // designed to sit at the top edge of the screen
  form.show();
  if (request == Request::kQuitAfterStart) {
    // Queued behind the show: by then the window is laid out and visible.
    QTimer::singleShot(0, &form, [&form] {
      std::printf("%s %dx%d %s\n", form.windowTitle().toUtf8().constData(), form.width(), form.height(),
                  form.isVisible() ? "shown" : "hidden");
      std::fflush(stdout);
      QApplication::exit(form.isVisible() ? 0 : 1);
    });
  }
  return QApplication::exec();
}
