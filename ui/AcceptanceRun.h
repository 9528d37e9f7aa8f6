#pragma once
// The acceptance test from the window's Test button: the plan asked for (the
// built-in default or a plan file), the run with a progress dialog whose
// Cancel ends it at once, the verdict table and the offer to save the PDF
// report. It asks and tells through TDialogs, like the recording flows; the
// runner, the plan and the report are acceptance/'s, the same that ecg-test
// uses, so the window and the command line can never judge a module apart.
//
// The runner opens the port with an acquisition session of its own: the
// window gives its port up (releasePort) once a plan is chosen, and the port
// stays closed after the run. Nothing the window holds (its recording, the
// chart) is touched.
//
// Main thread only; the run keeps the event loop going. A plan that cannot
// be read, a port that cannot be opened and a report that cannot be written
// are told in message boxes here; anything else the runner raises goes to
// the caller.
#include <functional>
#include <string>
#include <string_view>

#include "recording/Dialogs.h"

class QWidget;

// The caption of the test's boxes and of its progress dialog.
inline constexpr const char* kTestCaption = "Acceptance Test";
// Panel 5 after a run took the window's port.
inline constexpr std::string_view kPortClosedByTestText = "Status: Port closed by the test";

struct TAcceptanceContext {
  TDialogs& dialogs;
  QWidget* window = nullptr;  // the progress dialog's parent
  std::string port;           // the module's port, as the window opened it
  // Called once, after a plan was chosen and read and before the runner
  // opens the port.
  std::function<void()> releasePort = [] {};
};

// How far the Test button got.
enum class TestOutcome {
  NotRun,            // no plan chosen, or the chosen plan could not be read: the port was kept
  PortNotAvailable,  // the port was given up, and the runner could not open it
  Ran,               // the verdict was shown (a cancelled run's too)
};

TestOutcome RunAcceptanceTest(TAcceptanceContext& context);
