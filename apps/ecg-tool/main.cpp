// The test and monitoring station: one window, no command line.
#include <QApplication>

#include "ui/MainWindow.h"
#include "ui/QtDialogs.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  // Only the name: a display name would be appended to the window caption by
  // the X11 platform plugin. Message boxes take the title as their caption.
  QtDialogs dialogs;
  TForm1 form(dialogs);
  dialogs.SetParent(&form);
  form.move(form.x(), 0);  // designed to sit at the top edge of the screen
  form.show();
  return QApplication::exec();
}
