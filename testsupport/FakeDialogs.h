#pragma once
// The one TDialogs of the tests, benchmarks and fuzz replays: every dialog is
// answered from a queue, in order, and everything the user would have seen is
// kept. A dialog without a queued answer is answered No / Cancel (Confirm
// answers `unscriptedConfirm`) and reported to `onUnscripted`, which a test
// can turn into a failure. No GoogleTest and no Qt Widgets here, so that the
// fuzz replays and the benchmarks can use it too.
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "recording/Dialogs.h"

// A message box or a question as shown: its text and its caption.
struct ShownMessage {
  std::string text;
  std::string caption;
  friend bool operator==(const ShownMessage&, const ShownMessage&) = default;
};
void PrintTo(const ShownMessage& message, std::ostream* os);

class FakeDialogs : public TDialogs {
 public:
  struct Shown {
    std::string kind;  // "message", "confirm", "choose" or "number"
    std::string caption;
    std::string text;
  };
  // Builds the job of a confirmed print dialog; an empty function cancels it.
  using PrintAnswer = std::function<std::unique_ptr<PrintJob>()>;

  std::deque<bool> confirmAnswers;
  // Answers of Choose: the button's index, nullopt for a box closed without
  // one.
  std::deque<std::optional<std::size_t>> chooseAnswers;
  // The save dialog and the save dialog with a filter choice share this
  // queue; nullopt cancels.
  std::deque<std::optional<std::string>> saveAnswers;
  // The filter entry chosen in each filtered save dialog; when none is
  // queued, the entry whose pattern the answered name matches (else 0).
  std::deque<std::size_t> filterAnswers;
  std::deque<std::optional<std::string>> openAnswers;
  // Answers of AskNumber, nullopt cancelling; kept within its bounds.
  std::deque<std::optional<long long>> numberAnswers;
  std::deque<PrintAnswer> printAnswers;

  bool unscriptedConfirm = false;
  // Called with the dialog's kind ("confirm", "choose", "save", "open", "print") when
  // no answer was queued for it.
  std::function<void(const std::string& dialog)> onUnscripted;
  // Runs inside every message box and question, as a modal loop would run
  // the event loop (to look at the state at that moment).
  std::function<void(const Shown&)> whileOpen;

  std::vector<Shown> shown;
  std::vector<FileDialogOptions> saveDialogs;  // filtered ones included
  std::vector<FileDialogOptions> openDialogs;
  int printDialogs = 0;

  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  std::optional<std::size_t> Choose(const std::string& text, const std::string& caption,
                                    const std::vector<std::string>& buttons) override;
  std::optional<long long> AskNumber(const std::string& text, const std::string& caption, long long minimum,
                                     long long maximum, long long initial) override;
  std::optional<std::string> ExecuteSaveDialog(const FileDialogOptions& options) override;
  std::optional<FileChoice> ExecuteSaveDialogWithFilter(const FileDialogOptions& options) override;
  std::optional<std::string> ExecuteOpenDialog(const FileDialogOptions& options) override;
  std::unique_ptr<PrintJob> ExecutePrintDialog() override;

  std::vector<std::string> Messages() const;       // texts of the message boxes, in order
  std::vector<ShownMessage> MessageBoxes() const;  // message boxes with their captions
  std::vector<ShownMessage> Questions() const;     // the Yes/No questions
  std::vector<ShownMessage> Choices() const;       // the questions with buttons of their own
  int ConfirmCount() const;
};

// The filter entry (0-based) of a "description|pattern|..." filter whose
// pattern matches the end of `path` ("*.edf" matches "x.edf"), or nothing.
std::optional<std::size_t> FilterEntryMatching(const std::string& filter, const std::string& path);
