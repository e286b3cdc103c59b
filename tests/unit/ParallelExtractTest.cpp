// Runs with Threads above 1 against runs on one thread: the same events in
// the same order on the calling thread, the same files; and the folders a
// run knows do not weaken its checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "ArchiveBuilder.h"
#include "TestSupport.h"
#include "platform/Platform.h"
#include "platform/Ui.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"

namespace quv::test {
namespace {

namespace fs = std::filesystem;

fs::path Native(const std::string& p) { return fs::path(platform::NativePath(p)); }

BuiltEntry Entry(const std::string& name, const std::string& data) {
  BuiltEntry e;
  e.name = name;
  e.data = data;
  return e;
}

// Bytes that differ from block to block, so a block in the wrong place shows.
std::string Pattern(std::size_t size, int seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + i / 977 + static_cast<std::size_t>(seed)) & 0xFF);
  return s;
}

class Parallel : public ::testing::Test {
 protected:
  void SetUp() override {
    archive = tmp / "test.zip";
    dest = tmp / "out";
    zip.SetDestDir(dest);
    zip.SetDoAll(true);
    zip.SetRecreateDirs(true);
    zip.SetDoProcessMessages(false);
  }

  void Make(const std::vector<BuiltEntry>& entries) {
    WriteFile(archive, BuildArchive(entries));
    zip.ClearArchive();
    zip.SetZipName(archive);
  }

  // Every event with its arguments; a note when one comes on another thread.
  void Record() {
    const auto note = [this](const std::string& line) {
      if (std::this_thread::get_id() != caller) log.push_back("ON ANOTHER THREAD");
      log.push_back(line);
    };
    zip.OnStartUnZipInfo = [this, note](TObject*, std::int32_t n, std::int64_t total, bool&) {
      note("info " + std::to_string(n) + " " + std::to_string(total));
    };
    zip.OnStartUnZip = [this, note](TObject*, std::int32_t i, std::string& name, bool& skip) {
      note("start " + std::to_string(i) + " " + Rel(name));
      if (name.find("skipped") != std::string::npos) skip = true;
      if (name.find("moved") != std::string::npos) name = dest + "\\elsewhere\\moved.txt";
    };
    zip.OnEndUnZip = [this, note](TObject*, std::int32_t i, const std::string& name) {
      note("end " + std::to_string(i) + " " + Rel(name) + " " + std::to_string(zip.CurrentEntry().CRC32));
    };
    zip.OnSkippingFile = [this, note](TObject*, TSkipReason r, const std::string& name, std::int32_t i, bool&) {
      note("skip " + std::to_string(static_cast<int>(r)) + " " + std::to_string(i) + " " + Rel(name) + " " +
           zip.SkipDetail());
    };
    zip.OnBadCRC = [this, note](TObject*, std::int32_t calc, std::int32_t stored, std::int32_t i) {
      note("badcrc " + std::to_string(i) + " " + std::to_string(calc) + " " + std::to_string(stored));
    };
    zip.OnBadPassword = [this, note](TObject*, std::int32_t i, std::string&) { note("badpassword " + std::to_string(i)); };
    zip.OnFilePercentDone = [this, note](TObject*, std::int32_t p) { note("file " + std::to_string(p)); };
    zip.OnTotalPercentDone = [this, note](TObject*, std::int32_t p) { note("total " + std::to_string(p)); };
    zip.OnUnZipComplete = [this, note](TObject*, std::int32_t n) { note("complete " + std::to_string(n)); };
  }

  std::string Rel(const std::string& name) const {
    std::string p = name.compare(0, dest.size(), dest) == 0 ? name.substr(dest.size()) : name;
    for (char& c : p) {
      if (c == '\\') c = '/';
    }
    return p;
  }

  // Every file below the destination with its contents, "a/b=bytes".
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& item : fs::recursive_directory_iterator(Native(dest))) {
      if (item.is_directory()) continue;
      const std::string rel = fs::relative(item.path(), Native(dest)).generic_string();
      out.push_back(rel + "=" + ReadFile(Join(dest, rel)));
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // The events and files of a run with threads, starting from prepare.
  std::pair<std::vector<std::string>, std::vector<std::string>> RunWith(std::int32_t threads,
                                                                       const std::function<void()>& prepare) {
    std::error_code ignored;
    fs::remove_all(Native(dest), ignored);
    fs::create_directories(Native(dest));
    prepare();
    log.clear();
    zip.SetThreads(threads);
    zip.SetPassword("right");
    zip.UnZipFiles();
    return {log, Files()};
  }

  TempDir tmp;
  std::string archive;
  std::string dest;
  TUnZip zip;
  std::vector<std::string> log;
  std::thread::id caller = std::this_thread::get_id();
};

TEST_F(Parallel, ThreadsGiveTheEventsAndFilesOfOneThread) {
  BuiltEntry damaged = Entry("docs/damaged.bin", Pattern(70000, 3));
  damaged.crc = 0x12345678;
  BuiltEntry secret = Entry("docs/secret.txt", Pattern(50000, 4));
  secret.password = "right";
  BuiltEntry wrong = Entry("wrong.txt", "not for you");
  wrong.password = "other";
  BuiltEntry unknown = Entry("unknown.bin", "packed by a method nobody decodes");
  unknown.method = 97;
  unknown.packed = "????";
  BuiltEntry folder;
  folder.name = "empty/";
  folder.externalAttributes = 0x10;
  Make({Entry("docs/big.bin", Pattern(300000, 1)), damaged, Entry("small.txt", "small"), secret, wrong,
        Entry("kept.txt", "new"), Entry("skipped.txt", "s"), Entry("docs/moved.txt", Pattern(40000, 5)),
        Entry("../outside.txt", "o"), unknown, folder, Entry("deep/er/x.bin", Pattern(100000, 6)),
        Entry("empty.txt", "")});
  zip.SetOverwriteMode(Never);
  Record();
  const auto existing = [this] { WriteFile(Join(dest, "kept.txt"), "old"); };

  const auto one = RunWith(1, existing);
  const auto four = RunWith(4, existing);
  EXPECT_EQ(four.first, one.first);
  EXPECT_EQ(four.second, one.second);
  // The run did what each entry asks for, and no temporary file stayed.
  EXPECT_EQ(std::count(one.first.begin(), one.first.end(), "ON ANOTHER THREAD"), 0);
  EXPECT_EQ(one.first.back(), "complete 7");
  EXPECT_EQ(one.second, (std::vector<std::string>{"deep/er/x.bin=" + Pattern(100000, 6),
                                                  "docs/big.bin=" + Pattern(300000, 1),
                                                  "docs/secret.txt=" + Pattern(50000, 4),
                                                  "elsewhere/moved.txt=" + Pattern(40000, 5), "empty.txt=",
                                                  "kept.txt=old", "small.txt=small"}));
}

TEST_F(Parallel, TestModeGivesTheEventsOfOneThreadAndWritesNothing) {
  BuiltEntry damaged = Entry("damaged.bin", Pattern(70000, 3));
  damaged.crc = 0x12345678;
  Make({Entry("a.bin", Pattern(200000, 1)), damaged, Entry("b.txt", "b"), Entry("c.bin", Pattern(90000, 2))});
  zip.SetTestMode(true);
  Record();
  const auto one = RunWith(1, [] {});
  const auto three = RunWith(3, [] {});
  EXPECT_EQ(three.first, one.first);
  EXPECT_TRUE(three.second.empty());
  EXPECT_NE(std::find(one.first.begin(), one.first.end(), "complete 3"), one.first.end());
}

TEST_F(Parallel, ANameWrittenEarlierInTheRunIsFoundInAFolderTheRunMade) {
  Make({Entry("new/a.txt", "first"), Entry("new/b.txt", Pattern(60000, 1)), Entry("new/c.txt", Pattern(60000, 2))});
  zip.SetOverwriteMode(Never);
  std::vector<std::string> skipped;
  zip.OnStartUnZip = [&](TObject*, std::int32_t, std::string& name, bool&) {
    name = dest + "\\new\\a.txt";
  };
  zip.OnSkippingFile = [&](TObject*, TSkipReason r, const std::string& name, std::int32_t, bool&) {
    skipped.push_back(std::to_string(static_cast<int>(r)) + Rel(name));
  };
  for (const std::int32_t threads : {1, 2}) {
    const auto run = RunWith(threads, [] {});
    EXPECT_EQ(run.second, std::vector<std::string>{"new/a.txt=first"}) << threads;
  }
  EXPECT_EQ(skipped, (std::vector<std::string>{"1/new/a.txt", "1/new/a.txt", "1/new/a.txt", "1/new/a.txt"}));
}

TEST_F(Parallel, ALinkInPlaceOfAFolderIsRefusedWhileTheRunMakesOthers) {
  if (platform::kIsWindows) GTEST_SKIP() << "links need privileges there";
  const std::string outside = tmp / "outside";
  fs::create_directories(Native(outside));
  Make({Entry("made/a.txt", "a"), Entry("link/x.txt", Pattern(50000, 1)), Entry("made/sub/b.txt", "b"),
        Entry("link/sub/y.txt", Pattern(50000, 2))});
  zip.SetOverwriteMode(Always);
  std::vector<std::string> skipped;
  zip.OnSkippingFile = [&](TObject*, TSkipReason r, const std::string& name, std::int32_t, bool&) {
    skipped.push_back(std::to_string(static_cast<int>(r)) + Rel(name));
  };
  for (const std::int32_t threads : {1, 2}) {
    const auto run = RunWith(threads, [&] { fs::create_directory_symlink(Native(outside), Native(dest + "\\link")); });
    EXPECT_EQ(run.second.size(), 2u) << threads;
    EXPECT_TRUE(fs::is_empty(Native(outside))) << threads;
  }
  EXPECT_EQ(skipped, (std::vector<std::string>{"3/link/x.txt", "3/link/sub/y.txt", "3/link/x.txt", "3/link/sub/y.txt"}));
}

// Cancelling from an event handler, as a signal handler or another thread
// would: the run and its workers stop at their next block, every file left
// is whole (no temporary or partial one), and the request is lowered for the
// next run.
TEST_F(Parallel, ACancelledRunStopsAtItsNextBlockAndLeavesOnlyWholeFiles) {
  std::vector<BuiltEntry> entries;
  std::vector<std::string> whole;
  for (int i = 0; i < 8; ++i) {
    entries.push_back(Entry("big" + std::to_string(i) + ".bin", Pattern(std::size_t{2} << 20, i)));
    whole.push_back(entries.back().name + "=" + entries.back().data);
  }
  Make(entries);
  int blocks = 0;
  zip.OnFilePercentDone = [&](TObject*, std::int32_t) {
    if (++blocks == 3) zip.CancelRequest() = true;
  };
  EXPECT_THROW(RunWith(4, [] {}), EUserCanceled);
  EXPECT_FALSE(zip.CancelRequest());
  const std::vector<std::string> left = Files();
  EXPECT_LT(left.size(), whole.size());
  for (const std::string& file : left) {
    EXPECT_NE(std::find(whole.begin(), whole.end(), file), whole.end()) << file.substr(0, 40);
  }
  zip.OnFilePercentDone = nullptr;
  EXPECT_EQ(RunWith(4, [] {}).second, whole);
}

// The user-interface moments, each noted with whether it came on the thread
// that runs the test.
class RecordingUi final : public platform::UserInterface {
 public:
  platform::Answer ShowMessage(const std::string& text, const std::string&, platform::Buttons) override {
    Note(text);
    return platform::Answer::Ok;
  }
  bool PickFile(const std::string&, const std::string&, const std::string&, std::string&) override { return false; }
  bool PickFolder(const std::string&, std::string&) override { return false; }
  platform::Cursor SetCursor(platform::Cursor cursor) override { return cursor; }
  void ProcessMessages() override { Note("pump"); }

  std::vector<std::string> Seen() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  void Note(const std::string& what) {
    const std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back(std::this_thread::get_id() == caller_ ? what : "ON ANOTHER THREAD: " + what);
  }
  std::mutex mutex_;
  std::vector<std::string> seen_;
  const std::thread::id caller_ = std::this_thread::get_id();
};

// Deflate's stored blocks: data as it is, one block of at most 65,535 bytes.
BuiltEntry Deflated(const std::string& name, const std::string& data) {
  BuiltEntry e = Entry(name, data);
  const auto n = static_cast<std::uint16_t>(data.size());
  const auto notN = static_cast<std::uint16_t>(~n);
  e.packed = std::string{'\x01', static_cast<char>(n & 0xFF), static_cast<char>(n >> 8), static_cast<char>(notN & 0xFF),
                         static_cast<char>(notN >> 8)} + data;
  e.method = 8;
  return e;
}

// Set: the decoders' own tables (allocated with nothrow new) cannot be had.
std::atomic<bool> tablesFail{false};

// Window messages are processed on the calling thread alone; decoders that
// run out of memory on workers show nothing, and the calling thread tells
// the user once before the run ends.
TEST_F(Parallel, OnlyTheCallingThreadPumpsMessagesAndShowsOutOfMemory) {
  std::vector<BuiltEntry> entries;
  for (int i = 0; i < 6; ++i) entries.push_back(Deflated("d" + std::to_string(i) + ".bin", Pattern(60000, i)));
  // Decoded on the calling thread, which processes messages as it reads.
  entries.push_back(Entry("secret.bin", Pattern(70000, 7)));
  entries.back().password = "right";
  Make(entries);
  RecordingUi ui;
  zip.SetUserInterface(ui);
  zip.SetDoProcessMessages(true);
  EXPECT_EQ(RunWith(4, [] {}).second.size(), 7u);
  const std::vector<std::string> pumps = ui.Seen();
  EXPECT_FALSE(pumps.empty());
  EXPECT_EQ(std::count(pumps.begin(), pumps.end(), "pump"), static_cast<std::ptrdiff_t>(pumps.size()));

  EXPECT_THROW(RunWith(4, [] { tablesFail = true; }), EFatalUnzipError);
  tablesFail = false;
  std::vector<std::string> boxes = ui.Seen();
  boxes.erase(std::remove(boxes.begin(), boxes.end(), "pump"), boxes.end());
  EXPECT_EQ(boxes, std::vector<std::string>{"*** inflate out of memory ***"});
}

}  // namespace
}  // namespace quv::test

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (quv::test::tablesFail) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (quv::test::tablesFail) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}
