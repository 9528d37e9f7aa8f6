#pragma once
// Character counts of path names. Names are UTF-8 on this platform; cutting
// them by bytes could split a character, so the rules that count characters
// (the data name, the printed name) count code points. A byte that is not a
// UTF-8 continuation byte starts a character, so text in a single-byte code
// page counts one character per byte.
#include <cstddef>
#include <string_view>

inline bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

inline std::size_t Utf8CharCount(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) count += IsUtf8Continuation(c) ? 0 : 1;
  return count;
}

// The last `n` characters of `text` (all of it when it is shorter).
inline std::string_view Utf8LastChars(std::string_view text, std::size_t n) {
  if (n == 0) return text.substr(text.size());
  std::size_t start = text.size();
  std::size_t seen = 0;
  while (start > 0) {
    --start;
    if (!IsUtf8Continuation(text[start]) && ++seen == n) break;
  }
  return text.substr(start);
}

// `text` without its last `n` characters.
inline std::string_view Utf8DropLastChars(std::string_view text, std::size_t n) {
  if (n == 0) return text;
  return text.substr(0, text.size() - Utf8LastChars(text, n).size());
}
