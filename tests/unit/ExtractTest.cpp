// The extraction run on archives built by the tests: selection, events,
// destination paths (and names that try to leave the destination), the
// overwrite rules, read-only files, attributes and dates, passwords, CRC
// failures and damaged archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ArchiveBuilder.h"
#include "TestSupport.h"
#include "UnZipTestSupport.h"
#include "platform/Platform.h"
#include "unzip/FileNames.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"

namespace quv::test {
namespace {

namespace fs = std::filesystem;

fs::path Native(const std::string& p) { return fs::path(platform::NativePath(p)); }

// Every file below root, as "a/b" paths, sorted.
std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> out;
  if (!fs::exists(Native(root))) return out;
  for (const auto& item : fs::recursive_directory_iterator(Native(root))) {
    if (!item.is_directory()) out.push_back(fs::relative(item.path(), Native(root)).generic_string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> FoldersBelow(const std::string& root) {
  std::vector<std::string> out;
  if (!fs::exists(Native(root))) return out;
  for (const auto& item : fs::recursive_directory_iterator(Native(root))) {
    if (item.is_directory()) out.push_back(fs::relative(item.path(), Native(root)).generic_string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

BuiltEntry Entry(const std::string& name, const std::string& data) {
  BuiltEntry e;
  e.name = name;
  e.data = data;
  return e;
}

BuiltEntry Folder(const std::string& name) {
  BuiltEntry e;
  e.name = name;
  e.externalAttributes = 0x10;
  return e;
}

class Extraction : public ::testing::Test {
 protected:
  void SetUp() override {
    archive = tmp / "test.zip";
    dest = tmp / "out";
    zip.SetDestDir(dest);
    zip.SetDoAll(true);
    zip.SetRecreateDirs(true);
    zip.SetOverwriteMode(Always);
    zip.SetDoProcessMessages(false);
  }

  void Make(const std::vector<BuiltEntry>& entries) {
    WriteFile(archive, BuildArchive(entries));
    zip.ClearArchive();
    zip.SetZipName(archive);
  }

  // The output path below the destination as "a/b", or the path itself.
  std::string Rel(const std::string& name) const {
    std::string p = name;
    if (p.compare(0, dest.size(), dest) == 0) p.erase(0, dest.size() + 1);
    for (char& c : p) {
      if (c == '\\') c = '/';
    }
    return p;
  }

  void Record() {
    zip.OnStartUnZipInfo = [this](TObject*, std::int32_t n, std::int64_t total, bool&) {
      log.push_back("info " + std::to_string(n) + " " + std::to_string(total));
    };
    zip.OnStartUnZip = [this](TObject*, std::int32_t i, std::string& name, bool&) {
      log.push_back("start " + std::to_string(i) + " " + Rel(name));
    };
    zip.OnEndUnZip = [this](TObject*, std::int32_t i, const std::string& name) {
      log.push_back("end " + std::to_string(i) + " " + Rel(name));
    };
    zip.OnSkippingFile = [this](TObject*, TSkipReason r, const std::string& name, std::int32_t i, bool&) {
      log.push_back("skip " + std::to_string(static_cast<int>(r)) + " " + std::to_string(i) + " " + Rel(name));
    };
    zip.OnBadCRC = [this](TObject*, std::int32_t calc, std::int32_t stored, std::int32_t i) {
      const std::string& why = zip.SkipDetail();
      log.push_back("badcrc " + std::to_string(i) + (calc == stored ? " same" : " differ") +
                    (why.empty() ? "" : " (" + why + ")"));
    };
    zip.OnUnZipComplete = [this](TObject*, std::int32_t n) { log.push_back("complete " + std::to_string(n)); };
  }

  std::string Out(const std::string& rel) const { return ReadFile(Join(dest, rel)); }
  bool Exists(const std::string& rel) const { return fs::exists(Native(Join(dest, rel))); }

  TempDir tmp;
  std::string archive;
  std::string dest;
  TUnZip zip;
  std::vector<std::string> log;
};

// ---- the wizard's settings, events and selection ---------------------------

TEST_F(Extraction, EveryEntryBelowTheDestinationWithEventsInOrder) {
  Make({Folder("docs/"), Entry("docs/a.txt", "alpha"), Entry("b.txt", std::string(40000, 'b')), Entry("e.txt", "")});
  Record();
  std::vector<int> total;
  zip.OnTotalPercentDone = [&](TObject*, std::int32_t p) { total.push_back(p); };
  EXPECT_EQ(zip.UnZipFiles(), 4);
  EXPECT_EQ(log, (std::vector<std::string>{"info 4 40005", "start 1 docs/a.txt", "end 1 docs/a.txt", "start 2 b.txt",
                                           "end 2 b.txt", "start 3 e.txt", "end 3 e.txt", "complete 4"}));
  EXPECT_EQ(Out("docs/a.txt"), "alpha");
  EXPECT_EQ(Out("b.txt"), std::string(40000, 'b'));
  EXPECT_TRUE(Exists("e.txt"));
  EXPECT_EQ(Out("e.txt"), "");
  // 5 bytes, then 32,768 and 7,232 of b.txt.
  EXPECT_EQ(total, (std::vector<int>{0, 82, 100}));
  EXPECT_EQ(zip.FilesList().Count(), 0);
}

TEST_F(Extraction, FolderEntriesWithoutRecreateDirsCountButMakeNothing) {
  Make({Folder("docs/"), Folder("docs/sub/"), Entry("docs/sub/a.txt", "alpha")});
  zip.SetRecreateDirs(false);
  Record();
  EXPECT_EQ(zip.UnZipFiles(), 3);
  EXPECT_EQ(log.front(), "info 1 5");
  EXPECT_EQ(FilesBelow(dest), std::vector<std::string>{"a.txt"});
  EXPECT_TRUE(FoldersBelow(dest).empty());
}

TEST_F(Extraction, PatternsSelectByStoredPathIgnoringCaseAndAreClearedAfterTheRun) {
  Make({Entry("Docs/Read.ME", "1"), Entry("misc/b.txt", "22"), Entry("c.TXT", "333"), Entry("d.bin", "4444")});
  zip.SetDoAll(false);
  zip.FilesList().Add("DOCS\\*.me");
  zip.FilesList().Add("*.txt");
  Record();
  EXPECT_EQ(zip.UnZipFiles(), 3);
  EXPECT_EQ(log.front(), "info 3 6");
  EXPECT_EQ(FilesBelow(dest), (std::vector<std::string>{"Docs/Read.ME", "c.TXT", "misc/b.txt"}));
  EXPECT_EQ(zip.FilesList().Count(), 0);

  // A second run without patterns selects nothing, and says so.
  fs::remove_all(Native(dest));
  log.clear();
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"info 0 0", "complete 0"}));
  EXPECT_FALSE(Exists("c.TXT"));
}

TEST_F(Extraction, StopNowAndSkipFromTheHandlers) {
  Make({Entry("a.txt", "a"), Entry("b.txt", "b")});
  zip.OnStartUnZipInfo = [](TObject*, std::int32_t, std::int64_t, bool& stop) { stop = true; };
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_TRUE(FilesBelow(dest).empty());

  zip.OnStartUnZipInfo = nullptr;
  zip.OnStartUnZip = [](TObject*, std::int32_t i, std::string&, bool& skip) { skip = i == 0; };
  Record();
  zip.OnStartUnZip = [](TObject*, std::int32_t i, std::string&, bool& skip) { skip = i == 0; };
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(FilesBelow(dest), std::vector<std::string>{"b.txt"});
  // Left out silently: no skip event.
  EXPECT_EQ(log, (std::vector<std::string>{"info 2 2", "end 1 b.txt", "complete 1"}));
}

TEST_F(Extraction, AHandlerMayRedirectTheOutputIntoANewFolder) {
  Make({Entry("a.txt", "alpha")});
  const std::string elsewhere = tmp / "else";
  zip.OnStartUnZip = [&](TObject*, std::int32_t, std::string& name, bool&) { name = Join(elsewhere, "deep\\x.txt"); };
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(ReadFile(Join(elsewhere, "deep\\x.txt")), "alpha");
}

TEST_F(Extraction, RootDirAndStoredAbsolutePathsMapBelowTheDestination) {
  Make({Entry("Top/sub/a.txt", "a"), Entry("top/b.txt", "b"), Entry("other/c.txt", "c"), Entry("/abs/d.txt", "d"),
        Entry("C:/drive/e.txt", "e"), Entry("C:rel/f.txt", "f"), Entry("\\\\server\\share\\g.txt", "g")});
  zip.SetRootDir("TOP");
  EXPECT_EQ(zip.UnZipFiles(), 7);
  // POSIX has no drives: there "C:" is a folder like any other.
  const std::vector<std::string> drives = platform::kIsWindows
                                              ? std::vector<std::string>{"drive/e.txt", "rel/f.txt"}
                                              : std::vector<std::string>{"C:/drive/e.txt", "C:rel/f.txt"};
  std::vector<std::string> expected{"abs/d.txt", "b.txt", "other/c.txt", "server/share/g.txt", "sub/a.txt"};
  expected.insert(expected.end(), drives.begin(), drives.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesBelow(dest), expected);
  // Nothing beside the destination (a drive-relative name must not make "outrel").
  EXPECT_EQ(FilesBelow(tmp.path()).size(), 8u);
}

// ---- names that would leave the destination ----------------------------------

TEST_F(Extraction, NamesClimbingOutOfTheDestinationAreSkipped) {
  Make({Entry("../up.txt", "1"), Entry("a/../../up2.txt", "2"), Entry("a/b/../../../up3.txt", "3"),
        Entry("..\\back.txt", "4"), Entry("./../dot.txt", "5"), Entry("/../root.txt", "6"),
        Entry("C:\\..\\drive.txt", "7"), Entry("ok/../fine.txt", "8"), Entry("./a//b/./c.txt", "9"),
        Entry("x/...", "10"), Entry("x/.. ", "11"), Entry("../", ""), Entry("a/..", "12"), Entry("y/ .. /z.txt", "13")});
  Record();
  // "C:\..\" climbs out of a drive on Windows, out of a folder "C:" on POSIX.
  const bool drives = platform::kIsWindows;
  EXPECT_EQ(zip.UnZipFiles(), drives ? 2 : 3);
  EXPECT_EQ(FilesBelow(dest), drives ? (std::vector<std::string>{"a/b/c.txt", "fine.txt"})
                                     : (std::vector<std::string>{"a/b/c.txt", "drive.txt", "fine.txt"}));
  // The whole temporary folder holds the archive and the destination only.
  EXPECT_EQ(FilesBelow(tmp.path()).size(), drives ? 3u : 4u);
  std::vector<std::string> skipped;
  for (const std::string& line : log) {
    if (line.rfind("skip ", 0) == 0) skipped.push_back(line);
  }
  std::vector<std::string> expected{"skip 3 0 ../up.txt",     "skip 3 1 a/../../up2.txt", "skip 3 2 a/b/../../../up3.txt",
                                    "skip 3 3 ../back.txt",   "skip 3 4 ./../dot.txt",    "skip 3 5 /../root.txt",
                                    "skip 3 9 x/...",         "skip 3 10 x/.. ",          "skip 3 11 ../",
                                    "skip 3 12 a/..",         "skip 3 13 y/ .. /z.txt"};
  if (drives) expected.insert(expected.begin() + 6, "skip 3 6 C:/../drive.txt");
  EXPECT_EQ(skipped, expected);
}

TEST(WindowsNames, NamesWindowsWouldChangeAreFound) {
  for (const char* name : {"CON", "con.txt", "Aux.tar.gz", "NUL ", "prn", "COM0", "com9.log", "LPT1", "LPT\xC2\xB9",
                           "COM\xB3.txt", "a:b", "stream.txt:hidden", "dot.", "space ", "CONIN$"}) {
    EXPECT_NE(names::WindowsNameFault(name), "") << name;
  }
  for (const char* name : {"CONSOLE", "com", "COM10", "LPTX", "nul_file", "a.b", ".hidden", "plain.txt", "x y"}) {
    EXPECT_EQ(names::WindowsNameFault(name), "") << name;
  }
}

TEST_F(Extraction, NamesWindowsWouldChangeAreRefusedThereKeptWholeOnPosix) {
  Make({Entry("log-10:00:00.txt", "a"), Entry("dir/CON.txt", "b"), Entry("aux/x.txt", "c"), Entry("trail./y.txt", "d"),
        Entry("fine.txt", "e")});
  std::vector<std::string> details;
  zip.OnSkippingFile = [&](TObject*, TSkipReason r, const std::string&, std::int32_t, bool&) {
    EXPECT_EQ(r, skCannotCreate);
    details.push_back(zip.SkipDetail());
  };
  if (platform::kIsWindows) {
    EXPECT_EQ(zip.UnZipFiles(), 1);
    EXPECT_EQ(FilesBelow(dest), std::vector<std::string>{"fine.txt"});
    ASSERT_EQ(details.size(), 4u);
    std::string all;
    for (const std::string& d : details) all += d + "\n";
    for (const char* why : {"colon", "device", "dot or space"}) EXPECT_NE(all.find(why), std::string::npos) << all;
  } else {
    // One name, not folder "log-10:00:" and file "00.txt".
    EXPECT_EQ(zip.UnZipFiles(), 5);
    EXPECT_EQ(Out("log-10:00:00.txt"), "a");
    EXPECT_EQ(Out("dir/CON.txt"), "b");
    EXPECT_TRUE(details.empty());
  }
}

TEST_F(Extraction, AnEmptyDestinationIsTheCurrentFolderEvenForAbsoluteNames) {
  Make({Entry("/abs/a.txt", "a"), Entry("C:/drive/b.txt", "b"), Entry("rel/c.txt", "c"), Entry("../d.txt", "d")});
  const std::string work = tmp / "work";
  fs::create_directories(Native(work));
  const fs::path saved = fs::current_path();
  fs::current_path(Native(work));
  zip.SetDestDir("");
  std::int32_t n = -1;
  try {
    n = zip.UnZipFiles();
  } catch (...) {
  }
  fs::current_path(saved);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(FilesBelow(work), (std::vector<std::string>{platform::kIsWindows ? "abs/a.txt" : "C:/drive/b.txt",
                                                        platform::kIsWindows ? "drive/b.txt" : "abs/a.txt", "rel/c.txt"}));
  EXPECT_EQ(FilesBelow(tmp.path()).size(), 4u);
}

TEST_F(Extraction, AHandlersOwnChoiceOfPathIsTrusted) {
  Make({Entry("a.txt", "a")});
  zip.OnStartUnZip = [&](TObject*, std::int32_t, std::string& name, bool&) { name = Join(dest, "..\\beside.txt"); };
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(ReadFile(tmp / "beside.txt"), "a");
}

// ---- existing files ------------------------------------------------------------

class Overwrite : public Extraction {
 protected:
  void SetUp() override {
    Extraction::SetUp();
    BuiltEntry e = Entry("f.txt", "new");
    e.dosDateTime = kEntryDate;
    Make({e});
    WriteFile(Join(dest, "f.txt"), "old");
    Record();
  }
  void Age(std::uint32_t dos) {
    const platform::FileHandle h = platform::FileOpen(Join(dest, "f.txt"), platform::fmOpenWrite);
    ASSERT_NE(h, platform::kInvalidHandle);
    platform::FileSetDate(h, static_cast<std::int32_t>(dos));
    platform::FileClose(h);
  }
  static constexpr std::uint32_t kEntryDate = 0x5A8C6B20;  // 2025-04-12 13:25:00
};

TEST_F(Overwrite, AlwaysAndNever) {
  zip.SetOverwriteMode(Never);
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(Out("f.txt"), "old");
  EXPECT_EQ(log[2], "skip 1 0 f.txt");
  zip.SetOverwriteMode(Always);
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(Out("f.txt"), "new");
}

TEST_F(Overwrite, PromptAsksTheHandler) {
  zip.SetOverwriteMode(Prompt);
  std::vector<std::string> asked;
  bool answer = false;
  zip.OnPromptForOverwrite = [&](TObject*, bool& overWriteIt, std::int32_t i, std::string& name) {
    asked.push_back(std::to_string(i) + " " + Rel(name) + (overWriteIt ? " true" : " false"));
    overWriteIt = answer;
  };
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(Out("f.txt"), "old");
  answer = true;
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(Out("f.txt"), "new");
  EXPECT_EQ(asked, (std::vector<std::string>{"0 f.txt false", "0 f.txt false"}));
}

TEST_F(Overwrite, PromptWithoutHandlerAsksThroughTheUserInterface) {
  zip.SetOverwriteMode(Prompt);
  ScriptedUi ui;
  zip.SetUserInterface(ui);
  ui.answers = {platform::Answer::No, platform::Answer::Yes};
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(Out("f.txt"), "old");
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(Out("f.txt"), "new");
  EXPECT_EQ(ui.messages, (std::vector<std::string>{"File Exists Alert|Replace existing file f.txt?",
                                                   "File Exists Alert|Replace existing file f.txt?"}));
}

// Two components in one process, each with the user interface its caller
// gave it: each question goes to its own component's only.
TEST_F(Overwrite, EachComponentAsksThroughItsOwnUserInterface) {
  zip.SetOverwriteMode(Prompt);
  ScriptedUi mine;
  ScriptedUi theirs;
  zip.SetUserInterface(mine);
  TUnZip other;
  other.SetUserInterface(theirs);
  other.SetZipName(archive);
  other.SetDestDir(dest);
  other.SetDoAll(true);
  other.SetOverwriteMode(Prompt);
  mine.answers = {platform::Answer::No};
  theirs.answers = {platform::Answer::Yes};
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(Out("f.txt"), "old");
  EXPECT_EQ(other.UnZipFiles(), 1);
  EXPECT_EQ(Out("f.txt"), "new");
  const std::vector<std::string> asked{"File Exists Alert|Replace existing file f.txt?"};
  EXPECT_EQ(mine.messages, asked);
  EXPECT_EQ(theirs.messages, asked);
}

TEST_F(Overwrite, APromptHandlerRedirectingIntoAMissingFolderCannotCreate) {
  zip.SetOverwriteMode(Prompt);
  zip.OnPromptForOverwrite = [&](TObject*, bool& overWriteIt, std::int32_t, std::string& name) {
    name = Join(dest, "missing\\f.txt");
    overWriteIt = true;
  };
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(log[2], "skip 3 0 missing/f.txt");
  EXPECT_EQ(Out("f.txt"), "old");
}

TEST_F(Overwrite, NewerAndOlderCompareDatesStrictly) {
  const std::uint32_t earlier = kEntryDate - (1u << 16);  // a day before
  const std::uint32_t later = kEntryDate + (1u << 16);
  struct Case {
    TUZOverwriteMode mode;
    std::uint32_t existing;
    bool replaced;
  };
  const Case cases[] = {{ifNewer, earlier, true}, {ifNewer, kEntryDate, false}, {ifNewer, later, false},
                        {ifOlder, later, true},   {ifOlder, kEntryDate, false}, {ifOlder, earlier, false}};
  for (const Case& c : cases) {
    WriteFile(Join(dest, "f.txt"), "old");
    Age(c.existing);
    zip.SetOverwriteMode(c.mode);
    EXPECT_EQ(zip.UnZipFiles(), c.replaced ? 1 : 0) << c.mode << " " << std::hex << c.existing;
    EXPECT_EQ(Out("f.txt"), c.replaced ? "new" : "old");
  }
}

// Also where the system would replace it anyway (a rename on POSIX, and any
// write as root there).
TEST_F(Overwrite, ReadOnlyFilesAreReplacedOnlyWithReplaceReadOnly) {
  const std::string target = Join(dest, "f.txt");
  platform::FileSetAttr(target, platform::faReadOnly);
  zip.SetReplaceReadOnly(false);
  zip.SetRetainAttributes(false);
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(Out("f.txt"), "old");
  EXPECT_EQ(log[2], "skip 3 0 f.txt");
  zip.SetReplaceReadOnly(true);
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(Out("f.txt"), "new");
  // Cleared to make room.
  EXPECT_EQ(platform::FileGetAttr(target) & platform::faReadOnly, 0);
}

// Another user who can write into the destination while the run goes on.
TEST_F(Overwrite, AFileThatAppearsUnderAFreeNameIsJudgedByTheRule) {
  Make({Entry("new/f.txt", "new")});
  const std::string theirs = Join(dest, "new\\f.txt");
  zip.OnFilePercentDone = [&](TObject*, std::int32_t) { WriteFile(theirs, "theirs"); };
  bool asked = false;
  zip.OnPromptForOverwrite = [&](TObject*, bool& overWriteIt, std::int32_t, std::string&) { asked = overWriteIt = true; };
  zip.SetOverwriteMode(Never);
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(ReadFile(theirs), "theirs");
  EXPECT_NE(std::find(log.begin(), log.end(), "skip 1 0 new/f.txt"), log.end());
  fs::remove_all(Native(Join(dest, "new")));
  zip.SetOverwriteMode(Prompt);
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_TRUE(asked);
  EXPECT_EQ(ReadFile(theirs), "new");
}

TEST_F(Extraction, AFolderTheRunMadeThatBecomesALinkLeadsNowhere) {
  if (platform::kIsWindows) GTEST_SKIP() << "links need privileges there";
  const std::string outside = tmp / "outside";
  fs::create_directories(Native(outside));
  Make({Entry("d/a", "a"), Entry("e/b", "b"), Entry("d/c", "c")});
  Record();
  zip.OnEndUnZip = [&](TObject*, std::int32_t i, const std::string&) {
    if (i != 0) return;
    fs::rename(Native(Join(dest, "d")), Native(Join(dest, "moved")));
    fs::create_directory_symlink(Native(outside), Native(Join(dest, "d")));
  };
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_TRUE(fs::is_empty(Native(outside)));
  EXPECT_NE(std::find(log.begin(), log.end(), "skip 3 2 d/c"), log.end());
}

// A folder the run made holds only what the run made, unless another user
// put something there meanwhile: a link in place of a folder to be made is
// found, never followed.
TEST_F(Extraction, ALinkPutInAFolderTheRunMadeLeadsNowhere) {
  if (platform::kIsWindows) GTEST_SKIP() << "links need privileges there";
  const std::string outside = tmp / "outside";
  fs::create_directories(Native(outside));
  Make({Entry("d/a", "a"), Entry("d/s/b", "b"), Entry("d/t/c", "c")});
  Record();
  zip.OnEndUnZip = [&](TObject*, std::int32_t i, const std::string&) {
    if (i == 0) fs::create_directory_symlink(Native(outside), Native(Join(dest, "d\\s")));
  };
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_TRUE(fs::is_empty(Native(outside)));
  EXPECT_NE(std::find(log.begin(), log.end(), "skip 3 1 d/s/b"), log.end());
  EXPECT_EQ(Out("d/t/c"), "c");
}

TEST_F(Overwrite, AFolderInTheWayCannotBeCreatedEvenWithReplaceReadOnly) {
  fs::remove(Native(Join(dest, "f.txt")));
  fs::create_directories(Native(Join(dest, "f.txt")));
  zip.SetReplaceReadOnly(true);
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(log[2], "skip 3 0 f.txt");
}

// ---- dates, attributes, permissions ---------------------------------------------

TEST_F(Extraction, DatesAndTheReadOnlyAttributeAreKept) {
  BuiltEntry ro = Entry("ro.txt", "read only");
  ro.externalAttributes = 0x21;
  ro.dosDateTime = 0x4B2A5C3D;  // 2017-09-10 11:33:58
  BuiltEntry rw = Entry("rw.txt", "writable");
  rw.dosDateTime = 0x3C215000;  // 2010-01-01 10:00:00
  Make({ro, rw});
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_NE(platform::FileGetAttr(Join(dest, "ro.txt")) & platform::faReadOnly, 0);
  EXPECT_EQ(platform::FileGetAttr(Join(dest, "rw.txt")) & platform::faReadOnly, 0);
  EXPECT_EQ(static_cast<std::uint32_t>(platform::FileAge(Join(dest, "ro.txt"))), 0x4B2A5C3Du);
  EXPECT_EQ(static_cast<std::uint32_t>(platform::FileAge(Join(dest, "rw.txt"))), 0x3C215000u);
  platform::FileSetAttr(Join(dest, "ro.txt"), 0);

  // Without RetainAttributes the file stays writable.
  zip.SetRetainAttributes(false);
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_EQ(platform::FileGetAttr(Join(dest, "ro.txt")) & platform::faReadOnly, 0);
}

// Windows writes a link entry as a file holding its target; POSIX makes the link.
TEST_F(Extraction, UnixPermissionsApplyWithoutSpecialBitsAndLinksAreFilesOnWindows) {
  Make({UnixEntry("script.sh", "#!/bin/sh\n", 0104755), UnixEntry("secret", "s", 0100640),
        UnixEntry("locked", "l", 0100444), UnixEntry("link", "script.sh", 0120777)});
  EXPECT_EQ(zip.UnZipFiles(), 4);
  EXPECT_EQ(fs::is_regular_file(fs::symlink_status(Native(Join(dest, "link")))), platform::kIsWindows);
  EXPECT_EQ(platform::ReadLink(Join(dest, "link")), platform::kIsWindows ? std::nullopt : std::optional("script.sh"));
  if (platform::kIsWindows) {
    EXPECT_EQ(Out("link"), "script.sh");
  }
  EXPECT_NE(platform::FileGetAttr(Join(dest, "locked")) & platform::faReadOnly, 0);
  EXPECT_EQ(platform::FileGetAttr(Join(dest, "secret")) & platform::faReadOnly, 0);
  if constexpr (!platform::kIsWindows) {
    auto mode = [&](const char* name) {
      return static_cast<unsigned>(fs::status(Native(Join(dest, name))).permissions()) & 07777u;
    };
    EXPECT_EQ(mode("script.sh"), 0755u);
    EXPECT_EQ(mode("secret"), 0640u);
    EXPECT_EQ(mode("locked"), 0444u);
  }
  platform::FileSetAttr(Join(dest, "locked"), 0);
}

TEST_F(Extraction, AFileIsNoMoreOpenWhileWrittenThanItEnds) {
  if (platform::kIsWindows) GTEST_SKIP() << "no permission bits there";
  Make({UnixEntry("own", std::string(300000, 'o'), 0100600)});
  zip.SetThreads(1);
  std::vector<unsigned> whileWritten;
  zip.OnFilePercentDone = [&](TObject*, std::int32_t) {
    for (const auto& file : fs::directory_iterator(Native(dest))) {
      if (file.path().filename().string().rfind(".quv", 0) != 0) continue;
      whileWritten.push_back(static_cast<unsigned>(file.symlink_status().permissions()) & 07777u);
    }
  };
  EXPECT_EQ(zip.UnZipFiles(), 1);
  ASSERT_FALSE(whileWritten.empty());
  for (const unsigned mode : whileWritten) EXPECT_EQ(mode & ~0600u, 0u) << std::oct << mode;
}

// ---- passwords -----------------------------------------------------------------------

// Milliseconds since 1970 of a file's modification time.
std::int64_t ModifiedMs(const std::string& path) {
  const auto t = std::filesystem::last_write_time(std::filesystem::path(platform::NativePath(path)));
  const auto sys = std::chrono::file_clock::to_sys(t);
  return std::chrono::duration_cast<std::chrono::milliseconds>(sys.time_since_epoch()).count();
}

std::string Block(std::uint16_t id, const std::string& data) {
  std::string b{static_cast<char>(id & 0xFF), static_cast<char>(id >> 8), static_cast<char>(data.size() & 0xFF),
                static_cast<char>(data.size() >> 8)};
  return b + data;
}

std::string Le(std::uint64_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

TEST_F(Extraction, TimeExtraFieldsGiveTheExactUtcModificationTime) {
  // 2021-03-04 05:06:07 UTC: an odd second, which the DOS date cannot hold.
  constexpr std::uint64_t kUnix = 1614834367;
  const std::string timestamp = Block(0x5455, std::string(1, '\x01') + Le(kUnix, 4));
  // NTFS: 2021-03-04 05:06:07.25 UTC, in 100-ns ticks since 1601.
  const std::uint64_t ntfsTicks = (kUnix * 10000000 + 2500000) + 116444736000000000ULL;
  const std::string ntfs = Block(0x000A, Le(0, 4) + Le(1, 2) + Le(24, 2) + Le(ntfsTicks, 8) + std::string(16, '\0'));
  BuiltEntry ut = Entry("ut.txt", "ut");
  ut.centralExtra = timestamp;
  BuiltEntry nt = Entry("nt.txt", "nt");
  nt.centralExtra = timestamp + Block(0x5455, std::string(1, '\x01') + Le(0, 4)) + ntfs;
  BuiltEntry both = Entry("both.txt", "both");
  both.centralExtra = ntfs + Block(0x5455, std::string(1, '\x01') + Le(0, 4));
  BuiltEntry dos = Entry("dos.txt", "dos");
  dos.centralExtra = Block(0x5455, std::string(1, '\x00'));  // flags without a modification time
  Make({ut, nt, both, dos});
  EXPECT_EQ(zip.UnZipFiles(), 4);
  // The Windows runtime's file times read back in whole seconds.
  const std::int64_t fractionMs = platform::kIsWindows ? 0 : 250;
  const auto kUnixMs = static_cast<std::int64_t>(kUnix) * 1000;
  EXPECT_EQ(ModifiedMs(Join(dest, "ut.txt")), kUnixMs);
  EXPECT_EQ(ModifiedMs(Join(dest, "nt.txt")), kUnixMs + fractionMs);
  EXPECT_EQ(ModifiedMs(Join(dest, "both.txt")), kUnixMs + fractionMs) << "NTFS wins either way";
  EXPECT_EQ(static_cast<std::uint32_t>(platform::FileAge(Join(dest, "dos.txt"))), 0x5A8C6B20u);
  EXPECT_EQ(zip.Entry(0).LastModFileDateTime, 0x5A8C6B20u) << "the DOS date stays the entry's date";
}

// UTF-8 names (the flag, or a legacy name with a matching Unicode Path
// block) reach the file system as their characters on every system, also
// where the system code page cannot hold them (Thai under the Wine tests'
// code page 936); the events get the system-code-page name, and a name a
// handler changed is used as given.
TEST_F(Extraction, UnicodeNamesReachTheFileSystemAsTheirCharacters) {
  BuiltEntry chinese = Entry(reinterpret_cast<const char*>(u8"中文/文件.txt"), "a");
  chinese.flags = 0x0800;
  BuiltEntry thai = Entry(reinterpret_cast<const char*>(u8"ภาษา/ก.txt"), "b");
  thai.flags = 0x0800;
  BuiltEntry legacy = Entry("old.txt", "c");
  legacy.centralExtra = Block(0x7075, "\x01" + Le(Crc32Of("old.txt"), 4) + reinterpret_cast<const char*>(u8"新.txt"));
  Make({chinese, thai, legacy});
  std::vector<std::string> announced;
  zip.OnStartUnZip = [&](TObject*, std::int32_t, std::string& name, bool&) { announced.push_back(Rel(name)); };
  EXPECT_EQ(zip.UnZipFiles(), 3);
  const fs::path out = Native(dest);
  EXPECT_EQ(fs::file_size(out / u8"中文" / u8"文件.txt"), 1u);
  EXPECT_EQ(fs::file_size(out / u8"ภาษา" / u8"ก.txt"), 1u);
  EXPECT_EQ(fs::file_size(out / u8"新.txt"), 1u);
  EXPECT_EQ(FilesBelow(dest).size(), 3u) << "nothing else, no name with a question mark";
  std::string thaiShown = zip.Entry(1).StoredPath();
  std::replace(thaiShown.begin(), thaiShown.end(), '\\', '/');
  EXPECT_EQ(announced[1], thaiShown) << "in the system code page";

  // A handler's name, in the system code page, is the one taken.
  zip.OnStartUnZip = [&](TObject*, std::int32_t i, std::string& name, bool&) {
    if (i == 1) name = Join(dest, "renamed.txt");
  };
  EXPECT_EQ(zip.UnZipFiles(), 3);
  EXPECT_EQ(Out("renamed.txt"), "b");
}

// Links come after every other entry of the run, in the archive's order,
// so nothing is written through one the archive made; one whose target
// leaves the destination needs the AbsoluteLinks setting.
TEST_F(Extraction, LinksComeLastAndNeverLeadOut) {
  if (platform::kIsWindows) GTEST_SKIP() << "Windows writes a link as a file holding its target";
  auto link = [](const std::string& name, const std::string& target) {
    BuiltEntry e = Entry(name, target);
    e.versionMadeBy = 0x031E;
    e.externalAttributes = 0120777u << 16;
    return e;
  };
  Make({link("l", "f.txt"), Entry("f.txt", "text"), link("d", "sub"), Entry("d/x.txt", "x"),
        link("sub/up", "../../outside"), link("abs", "/etc")});
  Record();
  EXPECT_EQ(zip.UnZipFiles(), 3);
  EXPECT_EQ(log, (std::vector<std::string>{"info 6 30", "start 0 l", "start 1 f.txt", "end 1 f.txt", "start 2 d",
                                           "start 3 d/x.txt", "end 3 d/x.txt", "start 4 sub/up",
                                           "skip 5 4 sub/up", "start 5 abs", "skip 5 5 abs", "end 0 l",
                                           "skip 3 2 d", "complete 3"}));
  EXPECT_EQ(platform::ReadLink(Join(dest, "l")), "f.txt");
  EXPECT_EQ(Out("d/x.txt"), "x") << "a folder, not the link's target";
  EXPECT_FALSE(Exists("sub/up"));

  zip.SetAbsoluteLinks(true);
  log.clear();
  EXPECT_EQ(zip.UnZipFiles(), 5);
  EXPECT_EQ(platform::ReadLink(Join(dest, "sub/up")), "../../outside");
  EXPECT_EQ(platform::ReadLink(Join(dest, "abs")), "/etc");
}

TEST_F(Extraction, EncryptedEntriesWithRightAndWrongPasswords) {
  BuiltEntry plain = Entry("secret.txt", "the secret content");
  plain.password = "right";
  BuiltEntry described = Entry("described.txt", "with a data descriptor");
  described.password = "right";
  described.flags = 0x0008;
  BuiltEntry empty = Entry("empty-pw.txt", "empty password");
  empty.password = "";
  Make({plain, described, empty});
  Record();
  zip.SetPassword("wrong");
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"info 3 54", "start 0 secret.txt", "skip 0 0 secret.txt",
                                           "start 1 described.txt", "skip 0 1 described.txt", "start 2 empty-pw.txt",
                                           "skip 0 2 empty-pw.txt", "complete 0"}));
  EXPECT_TRUE(FilesBelow(dest).empty());

  zip.SetPassword("right");
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_EQ(Out("secret.txt"), "the secret content");
  EXPECT_EQ(Out("described.txt"), "with a data descriptor");
  zip.SetPassword("");
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(Out("empty-pw.txt"), "empty password");
}

// A run takes the settings as they are when it starts: a handler changing
// one changes the next run, never the rest of this one.
TEST_F(Extraction, SettingsChangedByAHandlerTakeEffectAtTheNextRun) {
  Make({Entry("a/x.txt", "x"), Entry("b/y.txt", "y")});
  zip.OnStartUnZip = [&](TObject*, std::int32_t, std::string&, bool&) { zip.SetRecreateDirs(false); };
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_TRUE(Exists("a/x.txt"));
  EXPECT_TRUE(Exists("b/y.txt"));
  EXPECT_FALSE(Exists("y.txt"));
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_EQ(Out("y.txt"), "y");
}

// What is left to read while decoding is the run's count: the working entry
// still holds its sizes when the handlers see it (the data's own size for an
// encrypted entry, its 12-byte header taken off).
TEST_F(Extraction, TheWorkingEntryKeepsItsSizesThroughDecoding) {
  BuiltEntry secret = Entry("secret.txt", std::string(50000, 's'));
  secret.password = "right";
  Make({Entry("plain.txt", std::string(70000, 'p')), secret});
  zip.SetPassword("right");
  std::vector<std::int64_t> seen, listed;
  zip.OnEndUnZip = [&](TObject*, std::int32_t i, const std::string&) {
    seen.push_back(zip.CurrentEntry().CompressedSize);
    listed.push_back(zip.Entry(i).CompressedSize);
  };
  EXPECT_EQ(zip.UnZipFiles(), 2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], listed[0]);
  EXPECT_EQ(seen[1], listed[1] - 12);
}

// A name the run wrote into a folder it made is never taken for free again,
// however many names the run has written.
TEST_F(Extraction, ALaterEntryOfTheSameNameMeetsTheEarlierFile) {
  constexpr int kNames = 300;
  auto name = [](int i) { return std::string("d").append(std::to_string(i % 7)).append("/f").append(std::to_string(i)); };
  std::vector<BuiltEntry> entries;
  for (const char* data : {"first", "second"}) {
    for (int i = 0; i < kNames; ++i) entries.push_back(Entry(name(i), data));
  }
  Make(entries);
  Record();
  zip.SetOverwriteMode(Never);
  EXPECT_EQ(zip.UnZipFiles(), kNames);
  const auto notOverwritten =
      std::count_if(log.begin(), log.end(), [](const std::string& line) { return line.rfind("skip 1 ", 0) == 0; });
  EXPECT_EQ(notOverwritten, kNames);
  for (int i = 0; i < kNames; i += 37) EXPECT_EQ(Out(name(i)), "first");
}

TEST_F(Extraction, ANewPasswordFromTheHandlerIsTriedAtOnceAndKept) {
  BuiltEntry e = Entry("secret.txt", "the secret content");
  e.password = "right";
  Make({e, e});
  std::vector<std::string> tried;
  zip.OnBadPassword = [&](TObject*, std::int32_t i, std::string& pw) {
    tried.push_back(std::to_string(i) + ":" + pw);
    pw = pw == "a" ? "b" : "right";
  };
  zip.SetPassword("a");
  // The second entry has the same name as the first: same folder and file.
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_EQ(tried, (std::vector<std::string>{"0:a", "0:b"}));
  EXPECT_EQ(zip.Password(), "right");
  EXPECT_EQ(Out("secret.txt"), "the secret content");
}

TEST_F(Extraction, APasswordThatPassesTheHeaderButNotTheCrcRunsTheEntryAgain) {
  BuiltEntry e = Entry("secret.txt", "the secret content, long enough to be garbled");
  e.password = "right";
  e.headerSeed = SeedPassingFor(e, "wrong");
  Make({e});
  Record();
  int asked = 0;
  zip.OnBadPassword = [&](TObject*, std::int32_t, std::string& pw) {
    ++asked;
    pw = "right";
  };
  zip.SetPassword("wrong");
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Out("secret.txt"), e.data);
  const std::string info = "info 1 " + std::to_string(e.data.size());
  EXPECT_EQ(log, (std::vector<std::string>{info, "start 0 secret.txt", "start 0 secret.txt", "end 0 secret.txt",
                                           "complete 1"}));

  // Without a handler the garbled file is removed and the entry skipped.
  zip.OnBadPassword = nullptr;
  zip.SetPassword("wrong");
  log.clear();
  fs::remove_all(Native(dest));
  EXPECT_EQ(zip.UnZipFiles(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{info, "start 0 secret.txt", "skip 0 0 secret.txt", "complete 0"}));
  EXPECT_TRUE(FilesBelow(dest).empty());
}

// ---- bad data -------------------------------------------------------------------------

TEST_F(Extraction, CrcMismatchesAndOversizedOutputRemoveTheFile) {
  BuiltEntry wrongCrc = Entry("crc.txt", "some text");
  wrongCrc.crc = 0x12345678;
  BuiltEntry tooLong = Entry("long.txt", "more than it says");
  tooLong.uncompressedSize = 4;
  BuiltEntry tooShort = Entry("short.txt", "less than it says");
  tooShort.uncompressedSize = 18;
  BuiltEntry fine = Entry("fine.txt", "fine");
  Make({wrongCrc, tooLong, tooShort, fine});
  Record();
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(log, (std::vector<std::string>{"info 4 35", "start 0 crc.txt", "badcrc 0 differ", "start 1 long.txt",
                                           "badcrc 1 differ (damaged compressed data)", "start 2 short.txt",
                                           "badcrc 2 same (damaged compressed data)", "start 3 fine.txt",
                                           "end 3 fine.txt", "complete 1"}));
  EXPECT_EQ(FilesBelow(dest), std::vector<std::string>{"fine.txt"});
}

TEST_F(Extraction, UndecodableMethodsAreSkippedByReasonAndTheRunGoesOn) {
  BuiltEntry ppmd = Entry("b.txt", "data");
  ppmd.method = 98;
  ppmd.packed = "\x07\x00....";
  BuiltEntry emptyWavPack = Entry("empty", "");
  emptyWavPack.method = 97;
  emptyWavPack.packed = "";
  BuiltEntry zeroCrc = Entry("z.txt", "not empty");
  zeroCrc.method = 10;
  zeroCrc.crc = 0;
  BuiltEntry fine = Entry("fine.txt", "fine");
  Make({ppmd, emptyWavPack, zeroCrc, fine});
  ScriptedUi ui;
  zip.SetUserInterface(ui);
  Record();
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(FilesBelow(dest), (std::vector<std::string>{"empty", "fine.txt"}));
  // Nothing is decoded for z.txt although its stored CRC is that of nothing.
  EXPECT_EQ(log, (std::vector<std::string>{"info 4 17", "start 0 b.txt", "skip 4 0 b.txt", "start 1 empty",
                                           "end 1 empty", "start 2 z.txt", "skip 4 2 z.txt", "start 3 fine.txt",
                                           "end 3 fine.txt", "complete 2"}));
  EXPECT_TRUE(MethodDecodable(8) && MethodDecodable(9) && MethodDecodable(6) && !MethodDecodable(7));
  EXPECT_TRUE(MethodDecodable(12) && MethodDecodable(14) && MethodDecodable(93) && MethodDecodable(95));
  EXPECT_EQ(MethodName(9), "Deflate64");
  EXPECT_EQ(MethodName(200), "Unk:200");
}

// The dictionary is cut to the entry's size; beyond the memory limit no
// library decoder starts, and the run ends with the reason.
TEST_F(Extraction, AnLzmaEntryNeedingMoreThanTheMemoryLimitEndsTheRun) {
  BuiltEntry huge = Entry("huge.bin", "x");
  huge.method = 14;
  huge.packed = std::string("\x10\x02\x05\x00\x5d\xff\xff\xff\xff", 9) + std::string(64, '\0');
  huge.uncompressedSize = 0x7FFFFFFF;
  Make({huge});
  try {
    zip.UnZipFiles();
    ADD_FAILURE() << "the run went on";
  } catch (const EFatalUnzipError& e) {
    EXPECT_EQ(e.Message(), "Not enough memory to decode LZMA data");
  }
  EXPECT_TRUE(FilesBelow(dest).empty());
}

TEST_F(Extraction, EntriesWhoseDataOverlapAHeaderOrTheDirectoryAreRefused) {
  // The data of one entry would be decoded again through another's name:
  // the archive is refused before anything is written.
  BuiltEntry intoNext = Entry("big.bin", std::string(100000, 'x'));
  intoNext.compressedSize = 200000;
  BuiltEntry intoDirectory = Entry("last.bin", std::string(1000, 'y'));
  intoDirectory.compressedSize = 1100;
  const std::vector<std::pair<std::vector<BuiltEntry>, std::string>> cases{
      {{Entry("first.txt", "first"), intoNext, Entry("never.txt", "never")}, "the local header of \"never.txt\""},
      {{Entry("first.txt", "first"), intoDirectory}, "the central directory"}};
  for (const auto& [entries, what] : cases) {
    Make(entries);
    Record();
    zip.FilesList().Add("*");
    try {
      zip.UnZipFiles();
      ADD_FAILURE() << "no exception";
    } catch (const EBadZipFile& ex) {
      EXPECT_NE(std::string(ex.what()).find("overlaps " + what + " (possible zip bomb)"), std::string::npos)
          << ex.what();
    }
    EXPECT_EQ(zip.FilesList().Count(), 0);
    EXPECT_TRUE(FilesBelow(dest).empty());
    zip.ClearArchive();
  }
}

TEST_F(Extraction, ACutArchiveIsIncompleteOrRecoveredFromItsLocalHeaders) {
  const std::string whole =
      BuildArchive({Entry("one.txt", std::string(5000, '1')), Entry("two.txt", std::string(50000, '2'))});
  WriteFile(archive, whole.substr(0, 30000));
  zip.SetZipName(archive);
  Record();
  try {
    zip.UnZipFiles();
    ADD_FAILURE() << "no exception";
  } catch (const EIncompleteZip& ex) {
    EXPECT_STREQ(ex.what(), "Incomplete Zip File");
  }
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(FilesBelow(dest).empty());

  // Recovered, the run stops inside two.txt: no part of it stays, and the
  // file it would have replaced is as it was.
  fs::create_directories(Native(dest));
  WriteFile(Join(dest, "two.txt"), "old");
  zip.SetZipName(archive);
  zip.SetIncompleteZipMode(izAssumeBad);
  EXPECT_THROW(zip.UnZipFiles(), EFatalUnzipError);
  EXPECT_EQ(Out("one.txt"), std::string(5000, '1'));
  EXPECT_EQ(Out("two.txt"), "old");
  EXPECT_EQ(FilesBelow(dest), (std::vector<std::string>{"one.txt", "two.txt"}));
  zip.ClearArchive();
}

// A deflate stream whose first match reaches 32,768 bytes back, before the
// start of the output: it must read zeros, whatever an earlier run left.
TEST_F(Extraction, ADistanceBeforeTheEntryIsDamagedDataNotTheLastEntrysOutput) {
  const std::string filler(40000, 'S');
  BuiltEntry stored = Entry("s.txt", filler);
  stored.method = 8;
  // One final stored block.
  stored.packed = std::string("\x01\x40\x9c\xbf\x63", 5) + filler;
  // Three bytes from 32 768 back, with the CRC of what the previous entry left there.
  BuiltEntry far = Entry("far.bin", std::string(3, 'S'));
  far.method = 8;
  far.packed = std::string("\x03\xde\xff\x0f\x00", 5);
  Make({stored, far});
  Record();
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_EQ(Out("s.txt"), filler);
  EXPECT_FALSE(Exists("far.bin"));
  EXPECT_EQ(log[log.size() - 2], "badcrc 1 differ (damaged compressed data)");
}

TEST_F(Extraction, NamelessAndStronglyEncryptedEntriesAreSkippedWithTheirReason) {
  BuiltEntry strong = Entry("strong.bin", "under strong encryption");
  strong.flags = 0x0041;
  Make({Entry("", "no name"), strong, Entry("fine.txt", "fine")});
  std::vector<std::string> skipped;
  zip.OnSkippingFile = [&](TObject*, TSkipReason r, const std::string& name, std::int32_t, bool&) {
    skipped.push_back(std::to_string(static_cast<int>(r)) + " " + name + ": " + zip.SkipDetail());
  };
  int asked = 0;
  zip.OnBadPassword = [&](TObject*, std::int32_t, std::string&) { ++asked; };
  zip.SetPassword("any");
  for (const bool testing : {false, true}) {
    skipped.clear();
    zip.SetTestMode(testing);
    // Without recreated folders, too, the nameless entry is no folder entry.
    zip.SetRecreateDirs(!testing);
    EXPECT_EQ(zip.UnZipFiles(), 1) << testing;
    EXPECT_EQ(skipped, (std::vector<std::string>{"3 : the entry has no name", "4 strong.bin: strong encryption"}));
  }
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(FilesBelow(dest), std::vector<std::string>{"fine.txt"});
}

// Deflate's stored blocks holding data.
std::string StoredBlocks(const std::string& data) {
  std::string s;
  for (std::size_t at = 0; at < data.size(); at += 65535) {
    const std::size_t k = std::min<std::size_t>(65535, data.size() - at);
    s += static_cast<char>(at + k >= data.size() ? 1 : 0);
    for (const std::size_t v : {k, ~k})
      s += std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
    s += data.substr(at, k);
  }
  return s;
}

TEST_F(Extraction, HandlersMayUseTheArchiveWhileAnEntryDecodes) {
  // The decoder reads the archive's bytes where the stream holds them; a
  // progress handler that reads elsewhere in the archive and seeks back
  // must not change them under it.
  std::string data(300000, 'd');
  for (std::size_t i = 0; i < data.size(); i += 5) data[i] = static_cast<char>(i / 5);
  BuiltEntry big = Entry("big.bin", data);
  big.method = 8;
  big.packed = StoredBlocks(data);
  Make({big});
  zip.SetTestMode(true);
  int calls = 0;
  zip.OnFilePercentDone = [&](TObject*, std::int32_t) {
    ++calls;
    TS_BufferStream* stream = zip.ArchiveStream();
    const std::int64_t at = stream->Position();
    char signature[4];
    stream->Seek(0, soFromBeginning);
    stream->Read(signature, 4);
    stream->Seek(at, soFromBeginning);
  };
  EXPECT_EQ(zip.UnZipFiles(), 1);
  EXPECT_GT(calls, 5);
}

TEST_F(Extraction, TestModeDecodesAndChecksButWritesNothing) {
  BuiltEntry wrongCrc = Entry("bad/crc.txt", "some text");
  wrongCrc.crc = 1;
  Make({Folder("dir/"), Entry("dir/a.txt", "alpha"), wrongCrc, Entry("../out.txt", "x")});
  Record();
  zip.SetTestMode(true);
  zip.SetOverwriteMode(Never);
  EXPECT_EQ(zip.UnZipFiles(), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"info 4 15", "start 1 dir/a.txt", "end 1 dir/a.txt",
                                           "start 2 bad/crc.txt", "badcrc 2 differ", "skip 3 3 ../out.txt",
                                           "complete 2"}));
  EXPECT_FALSE(fs::exists(Native(dest)));
}

}  // namespace
}  // namespace quv::test
