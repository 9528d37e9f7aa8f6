#include "window_support.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "serial/VirtualPortDirectory.h"
#include "ui/QtDialogs.h"
#include "ui/RadioGroup.h"

std::vector<unsigned char> Bytes(std::initializer_list<int> values) {
  std::vector<unsigned char> bytes;
  for (int v : values) bytes.push_back(static_cast<unsigned char>(v));
  return bytes;
}

std::string Hex(const std::vector<unsigned char>& bytes) {
  std::string text;
  char buf[4];
  for (unsigned char b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    if (!text.empty()) text += ' ';
    text += buf;
  }
  return text;
}

// ---- PrivateRuntimeDir ----------------------------------------------------

PrivateRuntimeDir::PrivateRuntimeDir() {
  if (const char* old = std::getenv("XDG_RUNTIME_DIR")) previous_ = old;
  std::string pattern = (std::filesystem::temp_directory_path() / "ecg-ui-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
}

PrivateRuntimeDir::~PrivateRuntimeDir() {
  if (previous_) {
    setenv("XDG_RUNTIME_DIR", previous_->c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

// ---- WindowTest -------------------------------------------------------------

void WindowTest::SetUp() {
  runtime = std::make_unique<PrivateRuntimeDir>();
  pty = std::make_unique<PtyPair>();
  port = std::make_unique<ScopedVirtualPort>(VirtualPortDirectory(), "ECG0", pty->SlavePath());
  form = std::make_unique<TForm1>(dialogs, screenWidth_);
  form->show();
  WaitUntil([&] { return form->isVisible(); });
}

void WindowTest::TearDown() {
  form.reset();
  port.reset();
  pty.reset();
  runtime.reset();
}

bool WindowTest::Shown(const char* name) const {
  QWidget* widget = Find(name);
  return widget && widget->isVisible();
}

void WindowTest::Click(const char* name) {
  auto* button = Find<QAbstractButton>(name);
  ASSERT_TRUE(button);
  ASSERT_TRUE(button->isVisible()) << name << " is hidden";
  ASSERT_TRUE(button->isEnabled()) << name << " is disabled";
  button->click();
}

std::string WindowTest::Caption(const char* name) const {
  QWidget* widget = Find(name);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title().toStdString();
  return {};
}

void WindowTest::SetChecked(const char* name, bool checked) {
  auto* box = Find<QAbstractButton>(name);
  ASSERT_TRUE(box);
  if (box->isChecked() != checked) box->click();
}

void WindowTest::ChooseRadio(const char* group, int index) {
  auto* radio = Find<TRadioGroup>(group);
  ASSERT_TRUE(radio);
  ASSERT_TRUE(radio->Button(index));
  radio->Button(index)->click();
}

std::vector<std::string> DesignedMessages(const FakeDialogs& dialogs) {
  std::vector<std::string> texts = dialogs.Messages();
  for (std::string& text : texts) text = text.substr(0, text.find("\n\n"));
  return texts;
}

std::vector<unsigned char> WindowTest::SetUpPort(std::size_t expectedBytes) {
  Click("SetupButton");
  auto* combo = Find<QComboBox>("ComSetupBox");
  combo->setEditText(QString::fromStdString(PortName()));
  Click("SetupOKButton");
  return ModuleReceives(expectedBytes);
}

std::vector<unsigned char> WindowTest::ModuleReceives(std::size_t count, std::chrono::milliseconds timeout) {
  // The write blocks the main thread until done, so the bytes are already
  // on their way; reading the master side needs no event loop.
  return pty->Read(count, timeout);
}
