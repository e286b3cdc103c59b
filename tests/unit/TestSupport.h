// Shared helpers for the unit tests: scratch folders, test-data locations,
// small file utilities that work the same natively and under Wine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quv::test {

// A fresh, empty folder removed again (with its contents) on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "\" + name
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

// The shared corpus folder and the folder of archives made at test time
// (environment QUV_CORPUS and QUV_TESTDATA); empty when not set.
std::string CorpusDir();
std::string TestDataDir();
// dir + "\" + name with the separator of the engine.
std::string Join(const std::string& dir, const std::string& name);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// Names (not paths) of the files directly in a folder, sorted.
std::vector<std::string> ListDir(const std::string& path);
void RemoveTree(const std::string& path);

}  // namespace quv::test
