// Arbitrary bytes as an archive, extracted with every decoder into a fresh
// folder (on tmpfs when there is one), with the wizard's settings plus
// recovery of damaged directories and the password "fuzz". Inputs of even
// length run in test mode instead. Every output path the engine composes
// from the archive must stay inside the folder; the run must end with
// nothing but the engine's own exceptions.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/Platform.h"
#include "platform/Ui.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"

namespace {

namespace fs = std::filesystem;

// Answers every question with "no", silently.
class SilentUi final : public quv::platform::UserInterface {
 public:
  quv::platform::Answer ShowMessage(const std::string&, const std::string&, quv::platform::Buttons) override {
    return quv::platform::Answer::Cancel;
  }
  bool PickFile(const std::string&, const std::string&, const std::string&, std::string&) override { return false; }
  bool PickFolder(const std::string&, std::string&) override { return false; }
  quv::platform::Cursor SetCursor(quv::platform::Cursor c) override { return c; }
  void ProcessMessages() override {}
};

void RemoveScratch();

// Never destroyed: the exit handler still needs it.
const fs::path& Scratch() {
  static const fs::path* dir = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    auto* d = new fs::path(base / ("quv-extract-fuzz-" + std::to_string(::getpid())));
    fs::create_directories(*d);
    std::atexit(RemoveScratch);
    return d;
  }();
  return *dir;
}

void RemoveScratch() {
  std::error_code ec;
  fs::remove_all(Scratch(), ec);
}

// Whether name lies below folder without climbing out through "..".
bool Inside(const std::string& name, const std::string& folder) {
  if (name.compare(0, folder.size() + 1, folder + "\\") != 0) return false;
  int depth = 0;
  std::size_t start = folder.size() + 1;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part == "..") {
      if (--depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return true;
}

void Check(bool ok, const char* what, const std::string& name) {
  if (ok) return;
  std::fprintf(stderr, "%s: %s\n", what, name.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static SilentUi ui;
  const fs::path archive = Scratch() / "in.zip";
  const fs::path dest = Scratch() / "out";
  std::error_code ec;
  fs::remove_all(dest, ec);
  {
    std::FILE* f = std::fopen(archive.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  const std::string destName = dest.string();

  quv::TUnZip zip;
  zip.SetUserInterface(ui);
  zip.SetDoProcessMessages(false);
  zip.SetZipName(archive.string());
  zip.SetDestDir(destName);
  zip.SetDoAll(true);
  zip.SetRecreateDirs(true);
  zip.SetOverwriteMode(quv::Always);
  zip.SetReplaceReadOnly(true);
  zip.SetIncompleteZipMode(quv::izAssumeBad);
  zip.SetPassword("fuzz");
  zip.SetTestMode(size % 2 == 0);
  zip.OnStartUnZip = [&](quv::TObject*, std::int32_t, std::string& name, bool&) {
    Check(Inside(name, destName), "output outside the destination", name);
  };
  try {
    zip.UnZipFiles();
  } catch (const quv::Exception&) {
    // The archive's own failures: not a finding.
  }
  zip.ClearArchive();
  // Read-only files cannot be removed everywhere; make them writable first.
  if (fs::exists(dest, ec)) {
    for (auto it = fs::recursive_directory_iterator(dest, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(dest, ec);
  }
  return 0;
}
