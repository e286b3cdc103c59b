// Multi-disk sets: sets of files under numbered and under split naming,
// headers cut by a disk boundary, missing disks, and removable disks with
// their labels and the insert-disk prompt (through the drive seam).
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "UnZipTestSupport.h"
#include "platform/Platform.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"

namespace quv {
namespace {

using test::Listing;
using test::ReadListing;
using test::TempDir;
using test::UnzipData;

constexpr int kDisks = 6;  // see span.info of the producer: this disk 5, central directory from disk 3

std::string Numbered(const std::string& base, int disk) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%03d", disk);
  return base + suffix;
}

std::string SplitName(const std::string& base, int disk) {
  if (disk == kDisks) return base + ".zip";
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".z%02d", disk);
  return base + suffix;
}

// Copies the producer's set into dir; answers the name of its last file.
std::string CopySet(const TempDir& dir, const std::string& from, bool splitNaming, const std::string& as) {
  for (int d = 1; d <= kDisks; ++d) {
    const std::string source = splitNaming ? SplitName(UnzipData(from), d) : Numbered(UnzipData(from), d);
    test::CopyBytes(source, splitNaming ? SplitName(dir / as, d) : Numbered(dir / as, d));
  }
  return splitNaming ? SplitName(dir / as, kDisks) : Numbered(dir / as, kDisks);
}

void ExpectSetListing(TUnZip& u, const Listing& listing) {
  ASSERT_EQ(u.Count(), static_cast<std::int32_t>(listing.entries.size()));
  for (std::int32_t i = 0; i < u.Count(); ++i) {
    const auto& e = listing.entries[static_cast<std::size_t>(i)];
    EXPECT_EQ(u.Entry(i).StoredPath(), e.EngineName());
    EXPECT_EQ(u.Entry(i).DiskNumberStart, e.disk);
    EXPECT_EQ(u.Entry(i).RelativeOffsetOfLocalHeader, e.offset);
  }
}

TEST(UnZipDisks, SetOfNumberedFilesOpenedAsItsLastFile) {
  const Listing listing = ReadListing(UnzipData("split.list"));
  TempDir dir;
  const std::string last = CopySet(dir, "num", false, "set");
  std::vector<std::string> asked;
  TUnZip u;
  const TGetNextDisk own = u.OnGetNextDisk;
  u.OnGetNextDisk = [&](TObject* sender, std::int32_t disk, std::string& name) {
    own(sender, disk, name);
    asked.push_back(name);
  };
  u.SetZipName(last);
  u.LoadDirectory();
  ExpectSetListing(u, listing);
  EXPECT_EQ(u.MultiDiskMode(), mdFileSet);
  // The central directory starts on disk 4 and runs on to the last one.
  EXPECT_EQ(asked, (std::vector<std::string>{Numbered(dir / "set", 4), Numbered(dir / "set", 5),
                                             Numbered(dir / "set", 6)}));
  EXPECT_EQ(u.CurrentDisk(), 5);
  EXPECT_EQ(u.ZipName(), last);

  // Comments were read while their disks were there.
  for (int d = 1; d <= kDisks; ++d) ASSERT_TRUE(platform::FileDelete(Numbered(dir / "set", d)));
  for (std::int32_t i = 0; i < u.Count(); ++i) {
    EXPECT_EQ(u.EntryComment(i), listing.entries[static_cast<std::size_t>(i)].comment);
  }
  EXPECT_EQ(u.ArchiveComment(), "the set of disks");
}

TEST(UnZipDisks, SetUnderSplitNamingOpenedAsTheZipFile) {
  const Listing listing = ReadListing(UnzipData("split.list"));
  TempDir dir;
  const std::string last = CopySet(dir, "split", true, "arc");
  TUnZip u;
  u.SetZipName(last);
  u.LoadDirectory();
  ExpectSetListing(u, listing);
  EXPECT_EQ(u.ArchiveComment(), "the set of disks");
  EXPECT_EQ(u.ZipName(), last);

  // An entry on the first disk: arc.z01 is found and read.
  u.SetKeepZipOpen(true);
  u.OpenArchive();
  u.LocateEntry(1);
  EXPECT_EQ(u.CurrentEntry().DiskNumberStart, 2);
  EXPECT_EQ(u.ZipName(), SplitName(dir / "arc", 3));
  char text[8] = {};
  ASSERT_EQ(u.ReadInput(text, 7), 7);
  EXPECT_EQ(std::string(text, 7), "file 1\n");
  u.LocateEntry(0);
  EXPECT_EQ(u.ZipName(), SplitName(dir / "arc", 1));
  EXPECT_EQ(u.CurrentDisk(), 0);
  // The last disk goes by the set's own name.
  u.OpenDisk(kDisks);
  EXPECT_EQ(u.ZipName(), last);
  EXPECT_EQ(u.CurrentDisk(), kDisks - 1);
}

TEST(UnZipDisks, HeaderCutByADiskBoundaryIsReadWhole) {
  const Listing listing = ReadListing(UnzipData("cut.list"));
  TempDir dir;
  const std::string last = CopySet(dir, "cut", false, "cut");
  TUnZip u;
  u.SetZipName(last);
  u.LoadDirectory();
  ExpectSetListing(u, listing);
  EXPECT_EQ(u.ArchiveComment(), "the set of disks");
}

TEST(UnZipDisks, MissingDiskIsAskedForTwiceThenCancelled) {
  TempDir dir;
  const std::string last = CopySet(dir, "num", false, "set");
  ASSERT_TRUE(platform::FileDelete(Numbered(dir / "set", 5)));
  int asked = 0;
  TUnZip u;
  const TGetNextDisk own = u.OnGetNextDisk;
  u.OnGetNextDisk = [&](TObject* sender, std::int32_t disk, std::string& name) {
    if (disk == 5) ++asked;
    own(sender, disk, name);
  };
  u.SetZipName(last);
  try {
    u.LoadDirectory();
    ADD_FAILURE() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled loading new disk.");
  }
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(u.ZipName(), "");

  // A handler that gives up.
  TUnZip quit;
  quit.OnGetNextDisk = [](TObject*, std::int32_t, std::string& name) { name.clear(); };
  quit.SetZipName(last);
  EXPECT_THROW(quit.LoadDirectory(), EUserCanceled);
  TUnZip nobody;
  nobody.OnGetNextDisk = nullptr;
  nobody.SetZipName(last);
  EXPECT_THROW(nobody.LoadDirectory(), EUserCanceled);
  EXPECT_FALSE(nobody.CanSpan());
}

TEST(UnZipDisks, DirectoryShorterThanItsEndRecordSaysIsBad) {
  TempDir dir;
  const std::string last = CopySet(dir, "num", false, "set");
  std::string bytes = test::ReadFile(last);
  const std::size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
  ASSERT_NE(end, std::string::npos);
  bytes[end + 10] = static_cast<char>(static_cast<unsigned char>(bytes[end + 10]) + 5);  // total entries
  test::WriteFile(last, bytes);
  std::vector<std::int32_t> asked;
  TUnZip u;
  const TGetNextDisk own = u.OnGetNextDisk;
  u.OnGetNextDisk = [&](TObject* sender, std::int32_t disk, std::string& name) {
    asked.push_back(disk);
    own(sender, disk, name);
  };
  u.SetZipName(last);
  try {
    u.LoadDirectory();
    ADD_FAILURE() << "no exception";
  } catch (const EBadZipFile& e) {
    EXPECT_STREQ(e.what(), "Not a valid zip file!");
  }
  // No disk beyond the last one was asked for.
  EXPECT_EQ(asked, (std::vector<std::int32_t>{4, 5, 6}));
}

TEST(UnZipDisks, DefaultHandlerNaming) {
  TempDir dir;
  TUnZip u;
  std::string name = dir / "set.zip";
  u.DefaultGetNextDisk(&u, 3, name);
  EXPECT_EQ(name, dir / "set.003");
  name = dir / "noext";
  u.DefaultGetNextDisk(&u, 12, name);
  EXPECT_EQ(name, dir / "noext.012");
  // The split name is taken only when it exists.
  test::WriteFile(dir / "set.z03", "x");
  name = dir / "set.zip";
  u.DefaultGetNextDisk(&u, 3, name);
  EXPECT_EQ(name, dir / "set.z03");
  test::WriteFile(dir / "set.003", "x");
  name = dir / "set.zip";
  u.DefaultGetNextDisk(&u, 3, name);
  EXPECT_EQ(name, dir / "set.003");
}

// A removable drive: a "Q:" folder natively (the name must carry a drive
// letter), the temporary folder's own drive under Windows.
class DriveFolder {
 public:
  explicit DriveFolder(const TempDir& dir) {
    if constexpr (platform::kIsWindows) {
      root_ = dir.path();
    } else {
      saved_ = std::filesystem::current_path();
      std::filesystem::current_path(dir.path());
      platform::CreateDir("Q:");
      root_ = "Q:";
    }
  }
  ~DriveFolder() {
    if constexpr (!platform::kIsWindows) std::filesystem::current_path(saved_);
  }
  DriveFolder(const DriveFolder&) = delete;
  DriveFolder& operator=(const DriveFolder&) = delete;
  std::string operator/(const std::string& name) const { return root_ + "\\" + name; }

 private:
  std::string root_;
  std::filesystem::path saved_;
};

int DiskInPrompt(const std::string& text) {
  const std::string head = "Please insert disk ";
  if (text.rfind(head, 0) != 0) return -1;
  return std::stoi(text.substr(head.size()));
}

TEST(UnZipDisks, RemovableDisksArePromptedForAndTheirLabelsChecked) {
  const Listing listing = ReadListing(UnzipData("split.list"));
  TempDir dir;
  DriveFolder drive(dir);
  test::RemovableDrive removable;
  test::ScriptedUi ui;
  const std::string inDrive = drive / "set.zip";
  auto insert = [&](int disk, int labelled) {
    test::CopyBytes(Numbered(UnzipData("num"), disk), inDrive);
    // Only the first 11 characters of a label count.
    removable.label = "BACKUP  " + std::string(labelled < 10 ? "00" : "0") + std::to_string(labelled) + "X";
  };
  insert(6, 6);
  // Disk 4 first comes with a wrong label; the next prompt gets it right.
  bool wrongOnce = true;
  ui.onMessage = [&](const std::string& text) {
    const int disk = DiskInPrompt(text);
    ASSERT_GT(disk, 0) << text;
    EXPECT_EQ(ui.cursor, platform::Cursor::Default);
    if (disk == 4 && wrongOnce) {
      wrongOnce = false;
      insert(3, 3);
    } else {
      insert(disk, disk);
    }
  };
  ui.answers.assign(10, platform::Answer::Ok);

  TUnZip u;
  u.SetUserInterface(ui);
  u.SetZipName(inDrive);
  u.LoadDirectory();
  EXPECT_EQ(u.MultiDiskMode(), mdRemovable);
  ExpectSetListing(u, listing);
  EXPECT_EQ(ui.messages, (std::vector<std::string>{"|Please insert disk 4 of the multi-disk set.",
                                                   "|Please insert disk 4 of the multi-disk set.",
                                                   "|Please insert disk 5 of the multi-disk set.",
                                                   "|Please insert disk 6 of the multi-disk set."}));
  ASSERT_FALSE(removable.labelQueries.empty());
  std::string root = (drive / "x").substr(0, 3);
  for (char& c : root) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  EXPECT_EQ(removable.labelQueries.front(), root);
  EXPECT_EQ(ui.cursor, platform::Cursor::Default);
  EXPECT_EQ(u.ArchiveComment(), "the set of disks");

  // Cancel in the prompt ends the read.
  ui.messages.clear();
  ui.answers.clear();
  insert(6, 6);
  TUnZip cancelled;
  cancelled.SetUserInterface(ui);
  cancelled.SetZipName(inDrive);
  try {
    cancelled.LoadDirectory();
    ADD_FAILURE() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled loading new disk.");
  }
  EXPECT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(cancelled.ZipName(), "");

  // A disk that keeps the wrong label counts as missing: asked for twice, then cancelled.
  ui.messages.clear();
  ui.answers.assign(10, platform::Answer::Ok);
  ui.onMessage = [&](const std::string&) { insert(3, 3); };
  insert(6, 6);
  TUnZip wrong;
  wrong.SetUserInterface(ui);
  wrong.SetZipName(inDrive);
  EXPECT_THROW(wrong.LoadDirectory(), EUserCanceled);
  EXPECT_EQ(ui.messages.size(), 2u);

  // Without the label check any disk in the drive is taken.
  ui.answers.assign(10, platform::Answer::Ok);
  ui.onMessage = [&](const std::string& text) { insert(DiskInPrompt(text), 1); };
  removable.labelQueries.clear();
  insert(6, 6);
  TUnZip unchecked;
  unchecked.SetUserInterface(ui);
  unchecked.SetVerifyDiskLabels(false);
  unchecked.SetZipName(inDrive);
  unchecked.LoadDirectory();
  EXPECT_EQ(unchecked.Count(), static_cast<std::int32_t>(listing.entries.size()));
  EXPECT_TRUE(removable.labelQueries.empty());
}

TEST(UnZipDisks, FixedDrivesAndNamesWithoutDriveAreFileSets) {
  TempDir dir;
  const std::string last = CopySet(dir, "num", false, "set");
  TUnZip u;
  u.SetZipName(last);
  u.LoadDirectory();
  EXPECT_EQ(u.MultiDiskMode(), mdFileSet);
  if constexpr (!platform::kIsWindows) {
    // Removable by the drive query, but the name carries no drive letter.
    test::RemovableDrive removable;
    TUnZip v;
    v.SetZipName(last);
    v.LoadDirectory();
    EXPECT_EQ(v.MultiDiskMode(), mdFileSet);
  }
}

}  // namespace
}  // namespace quv
