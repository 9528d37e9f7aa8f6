#pragma once
// What the window tests share: waiting on the Qt event
// loop for a condition, a pseudo-terminal registered as a virtual port, and
// a fixture holding a real window.
#include <QAbstractButton>
#include <QApplication>
#include <QWidget>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recording/Dialogs.h"
#include "testsupport/FakeDialogs.h"
#include "testsupport/PtyPair.h"
#include "testsupport/QtWait.h"
#include "ui/MainWindow.h"

std::vector<unsigned char> Bytes(std::initializer_list<int> values);
// The message boxes' texts as designed: each without the reason the window
// adds below an empty line.
std::vector<std::string> DesignedMessages(const FakeDialogs& dialogs);
std::string Hex(const std::vector<unsigned char>& bytes);

// A private virtual-port directory (XDG_RUNTIME_DIR pointed at a fresh temp
// directory for the life of the object).
class PrivateRuntimeDir {
 public:
  PrivateRuntimeDir();
  ~PrivateRuntimeDir();
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::optional<std::string> previous_;
};

// A real window of the given screen width, shown offscreen, with scripted
// dialogs and one pseudo-terminal registered as the virtual port "ECG0".
class WindowTest : public ::testing::Test {
 protected:
  explicit WindowTest(int screenWidth = 1280) : screenWidth_(screenWidth) {}
  void SetUp() override;
  void TearDown() override;

 public:
  // Helpers, public so that parameter tables can drive the window.
  template <typename T = QWidget>
  T* Find(const char* name) const {
    T* widget = form->findChild<T*>(QString::fromLatin1(name));
    if (!widget) ADD_FAILURE() << "no control named " << name;
    return widget;
  }
  bool Shown(const char* name) const;  // visible on the shown window
  // Clicks a control as the user would; fails the test when it is hidden or
  // disabled (the user could not click it).
  void Click(const char* name);
  std::string Caption(const char* name) const;
  void SetChecked(const char* name, bool checked);
  void ChooseRadio(const char* group, int index);

  // Setup, choose the pty's port, OK; returns the bytes the module received.
  std::vector<unsigned char> SetUpPort(std::size_t expectedBytes = 18);
  // Bytes arriving at the module's end within `timeout`.
  std::vector<unsigned char> ModuleReceives(std::size_t count,
                                            std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The module sends these bytes.
  void ModuleSends(const std::vector<unsigned char>& bytes) { pty->Write(bytes); }

  std::string Panel(int index) const { return form->StatusPanelText(index); }
  std::string PortName() const { return port->Path(); }

 protected:
  int screenWidth_;
  std::unique_ptr<PrivateRuntimeDir> runtime;
  std::unique_ptr<PtyPair> pty;
  std::unique_ptr<ScopedVirtualPort> port;
  FakeDialogs dialogs;
  std::unique_ptr<TForm1> form;
};
