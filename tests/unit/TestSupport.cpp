#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/Platform.h"

namespace fs = std::filesystem;

namespace quv::test {

namespace {
// Engine names use "\"; the C++ library on POSIX wants "/".
fs::path Native(const std::string& p) { return fs::path(platform::NativePath(p)); }

std::string EnvOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}
}  // namespace

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  // Tests run as parallel processes: each needs its own prefix (rand()
  // unseeded gives every process the same one).
  static const unsigned prefix = std::random_device{}();
  std::ostringstream name;
  name << "quvtest-" << prefix << "-" << counter++;
  fs::path base = fs::temp_directory_path() / name.str();
  fs::create_directories(base);
  path_ = base.string();
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string TempDir::operator/(const std::string& name) const { return Join(path_, name); }

std::string CorpusDir() { return EnvOr("QUV_CORPUS"); }
std::string TestDataDir() { return EnvOr("QUV_TESTDATA"); }

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  char last = dir.back();
  if (last == '\\' || last == '/') return dir + name;
  return dir + (platform::kIsWindows ? "\\" : "/") + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(Native(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(Native(path).parent_path());
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(Native(path), ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  // Read-only files (made by attribute tests) must become writable first.
  for (const auto& e : fs::recursive_directory_iterator(Native(path), ec)) {
    platform::FileSetAttr(e.path().string(), 0);
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(Native(path), ec);
}

}  // namespace quv::test
