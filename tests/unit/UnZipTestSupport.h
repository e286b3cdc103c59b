// Helpers shared by the unzip component's tests: the reference listings the
// test-data producer writes, a scripted user interface, and a removable
// drive simulated through the platform's drive seam.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Platform.h"
#include "platform/Ui.h"

namespace quv::test {

// One entry of a reference listing (see tests/testdata.d/unzip.sh).
struct ListedEntry {
  std::string name;  // stored bytes, "/" as in the archive
  std::string comment;
  std::int64_t compressed = 0;
  std::int64_t uncompressed = 0;
  std::uint32_t crc = 0;
  std::uint32_t dosDateTime = 0;
  std::uint32_t disk = 0;
  std::uint32_t offset = 0;
  std::uint32_t flags = 0;
  std::uint32_t method = 0;
  std::uint32_t host = 0;
  // The name as the engine keeps it ("\" separators).
  std::string EngineName() const;
};

struct Listing {
  bool loaded = false;
  std::string comment;
  std::vector<ListedEntry> entries;
};

Listing ReadListing(const std::string& path);

// The folder the unzip producer wrote, and a file in it.
std::string UnzipData();
std::string UnzipData(const std::string& name);

// Copies a file (bytes) to another path.
void CopyBytes(const std::string& from, const std::string& to);

// Answers a component's prompts from a script and records what was asked.
class ScriptedUi final : public platform::UserInterface {
 public:
  ScriptedUi() = default;
  ScriptedUi(const ScriptedUi&) = delete;
  ScriptedUi& operator=(const ScriptedUi&) = delete;

  platform::Answer ShowMessage(const std::string& text, const std::string& caption,
                               platform::Buttons buttons) override;
  bool PickFile(const std::string& title, const std::string& filter, const std::string& initialDir,
                std::string& chosen) override;
  bool PickFolder(const std::string& initialDir, std::string& chosen) override;
  platform::Cursor SetCursor(platform::Cursor cursor) override;
  void ProcessMessages() override { ++processed; }

  // Answers to ShowMessage in order (Cancel when they run out); onMessage,
  // when set, runs before the answer is given (to swap disks, say).
  std::deque<platform::Answer> answers;
  std::function<void(const std::string& text)> onMessage;
  // PickFile / PickFolder: the path to answer, or empty to cancel.
  std::string fileAnswer;
  std::string folderAnswer;

  std::vector<std::string> messages;   // "caption|text"
  std::vector<std::string> pickCalls;  // "title|filter|initialDir" or "folder|initialDir"
  std::vector<platform::Cursor> cursorsShown;
  platform::Cursor cursor = platform::Cursor::Default;
  int processed = 0;
};

// A removable drive with a volume label the test sets, for the duration.
class RemovableDrive {
 public:
  RemovableDrive();
  ~RemovableDrive();
  RemovableDrive(const RemovableDrive&) = delete;
  RemovableDrive& operator=(const RemovableDrive&) = delete;
  std::string label;
  std::vector<std::string> labelQueries;
};

}  // namespace quv::test
