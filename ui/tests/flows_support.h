#pragma once
// The window's recording flows over the recording tests' fixture (a store, a
// Wide eight-channel chart, scripted dialogs, a scratch folder; from
// recording/tests), bound in a context as the window binds them, with panel
// 5 written down.
#include <memory>
#include <string>
#include <vector>

#include "recording_support.h"
#include "ui/RecordingFlows.h"

class FlowFixture : public RecordingFixture {
 protected:
  FlowFixture() {
    contextPtr =
        std::make_unique<TRecordingContext>(TRecordingContext{store, layout, *chartPtr, dialogs, currentDataFile});
    contextPtr->nowText = nowText;
    contextPtr->showStatus = [this](const std::string& text) { panel5.push_back(text); };
  }

  TRecordingContext& context() { return *contextPtr; }

  std::vector<std::string> panel5;  // every text panel 5 was given, in turn
  std::unique_ptr<TRecordingContext> contextPtr;
};
