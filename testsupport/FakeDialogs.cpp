#include "testsupport/FakeDialogs.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace {

template <class T>
std::optional<T> TakeFront(std::deque<T>& queue) {
  if (queue.empty()) return std::nullopt;
  T value = std::move(queue.front());
  queue.pop_front();
  return value;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& tail) {
  if (tail.size() > text.size()) return false;
  return std::equal(tail.rbegin(), tail.rend(), text.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

void PrintTo(const ShownMessage& message, std::ostream* os) {
  *os << "{\"" << message.text << "\", \"" << message.caption << "\"}";
}

void FakeDialogs::ShowMessage(const std::string& text, const std::string& caption) {
  shown.push_back({"message", caption, text});
  if (whileOpen) whileOpen(shown.back());
}

bool FakeDialogs::Confirm(const std::string& text, const std::string& caption) {
  shown.push_back({"confirm", caption, text});
  if (whileOpen) whileOpen(shown.back());
  if (const std::optional<bool> answer = TakeFront(confirmAnswers)) return *answer;
  if (onUnscripted) onUnscripted("confirm");
  return unscriptedConfirm;
}

std::optional<std::size_t> FakeDialogs::Choose(const std::string& text, const std::string& caption,
                                               const std::vector<std::string>& buttons) {
  shown.push_back({"choose", caption, text});
  if (whileOpen) whileOpen(shown.back());
  if (std::optional<std::optional<std::size_t>> answer = TakeFront(chooseAnswers)) {
    if (*answer && **answer >= buttons.size()) throw std::logic_error("scripted answer names no button");
    return *answer;
  }
  if (onUnscripted) onUnscripted("choose");
  return std::nullopt;
}

std::optional<long long> FakeDialogs::AskNumber(const std::string& text, const std::string& caption, long long minimum,
                                                long long maximum, long long /*initial*/) {
  shown.push_back({"number", caption, text});
  if (whileOpen) whileOpen(shown.back());
  if (std::optional<std::optional<long long>> answer = TakeFront(numberAnswers)) {
    if (*answer && (**answer < minimum || **answer > maximum)) throw std::logic_error("scripted number out of bounds");
    return *answer;
  }
  if (onUnscripted) onUnscripted("number");
  return std::nullopt;
}

std::optional<std::string> FakeDialogs::ExecuteSaveDialog(const FileDialogOptions& options) {
  saveDialogs.push_back(options);
  if (std::optional<std::optional<std::string>> answer = TakeFront(saveAnswers)) return *answer;
  if (onUnscripted) onUnscripted("save");
  return std::nullopt;
}

std::optional<FileChoice> FakeDialogs::ExecuteSaveDialogWithFilter(const FileDialogOptions& options) {
  const std::optional<std::string> path = ExecuteSaveDialog(options);
  const std::optional<std::size_t> queued = TakeFront(filterAnswers);
  if (!path) return std::nullopt;
  FileChoice choice;
  choice.path = *path;
  choice.filterIndex = queued ? *queued : FilterEntryMatching(options.filter, *path).value_or(0);
  return choice;
}

std::optional<std::string> FakeDialogs::ExecuteOpenDialog(const FileDialogOptions& options) {
  openDialogs.push_back(options);
  if (std::optional<std::optional<std::string>> answer = TakeFront(openAnswers)) return *answer;
  if (onUnscripted) onUnscripted("open");
  return std::nullopt;
}

std::unique_ptr<PrintJob> FakeDialogs::ExecutePrintDialog() {
  ++printDialogs;
  std::optional<PrintAnswer> answer = TakeFront(printAnswers);
  if (!answer) {
    if (onUnscripted) onUnscripted("print");
    return nullptr;
  }
  return *answer ? (*answer)() : nullptr;
}

std::vector<std::string> FakeDialogs::Messages() const {
  std::vector<std::string> texts;
  for (const Shown& s : shown)
    if (s.kind == "message") texts.push_back(s.text);
  return texts;
}

std::vector<ShownMessage> FakeDialogs::MessageBoxes() const {
  std::vector<ShownMessage> boxes;
  for (const Shown& s : shown)
    if (s.kind == "message") boxes.push_back({s.text, s.caption});
  return boxes;
}

std::vector<ShownMessage> FakeDialogs::Questions() const {
  std::vector<ShownMessage> questions;
  for (const Shown& s : shown)
    if (s.kind == "confirm") questions.push_back({s.text, s.caption});
  return questions;
}

std::vector<ShownMessage> FakeDialogs::Choices() const {
  std::vector<ShownMessage> choices;
  for (const Shown& s : shown)
    if (s.kind == "choose") choices.push_back({s.text, s.caption});
  return choices;
}

int FakeDialogs::ConfirmCount() const { return static_cast<int>(Questions().size()); }

std::optional<std::size_t> FilterEntryMatching(const std::string& filter, const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t bar = filter.find('|', start);
    parts.push_back(filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  for (std::size_t entry = 0; entry * 2 + 1 < parts.size(); ++entry) {
    const std::string& patterns = parts[entry * 2 + 1];
    std::size_t from = 0;
    while (from <= patterns.size()) {
      const std::size_t semicolon = std::min(patterns.find(';', from), patterns.size());
      std::string pattern = patterns.substr(from, semicolon - from);
      if (pattern.rfind('*', 0) == 0) pattern.erase(0, 1);
      if (!pattern.empty() && pattern != ".*" && EndsWithIgnoringCase(path, pattern)) return entry;
      from = semicolon + 1;
    }
  }
  return std::nullopt;
}
