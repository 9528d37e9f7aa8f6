#include "analysis_support.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

std::optional<std::filesystem::path> Record100Folder() {
  std::vector<std::filesystem::path> candidates{ECG_MITDB100_DIR};
  if (const char* source = std::getenv("ECG_SOURCE_DIR"))
    candidates.push_back(std::filesystem::path(source) / ".." / "shared" / "data" / "mitdb-100");
  for (const auto& folder : candidates)
    if (std::filesystem::exists(folder / "100.hea")) return folder;
  return std::nullopt;
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ecg-analysis-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << bytes;
  return file.string();
}
