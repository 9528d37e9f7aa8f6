#pragma once
// What the analysis tests share: the reference record's folder and a
// scratch folder for files written by a test.
#include <filesystem>
#include <optional>
#include <string>

// The folder holding MIT-BIH record 100 (100.hea, 100.dat, 100.atr): the
// repository's copy, else the shared data beside the checkout; nullopt when
// neither is there, so the test can skip saying so.
std::optional<std::filesystem::path> Record100Folder();

// A fresh folder under the system's temporary folder, removed with its files.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Writes `bytes` to the named file in the folder and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};
