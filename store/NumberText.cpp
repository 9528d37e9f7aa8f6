#include "store/NumberText.h"

#include <charconv>

std::string FixedText(double value, int decimals) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}
