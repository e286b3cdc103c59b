// The component's settings, setters, copying, comments and the life cycle
// of its archive file and directory.
#include <gtest/gtest.h>

#include <memory>
#include <string>

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

TEST(UnZipComponent, FixedVersionAndDesignState) {
  TUnZip u;
  u.SetThisVersion(5);
  EXPECT_EQ(u.ThisVersion(), 223);
  EXPECT_TRUE(static_cast<bool>(u.OnGetNextDisk));
  u.SetOEMConvert(false);
  u.Loaded();
  EXPECT_FALSE(u.CurrentEntry().OEMConvert);

  TUnZip designed(nullptr, true);
  EXPECT_FALSE(static_cast<bool>(designed.OnGetNextDisk));
  // At design time the name is only stored, "?" included.
  designed.SetZipName("pick?");
  EXPECT_EQ(designed.ZipName(), "pick?");
}

TEST(UnZipComponent, FolderSetters) {
  TUnZip u;
  u.SetDestDir("C:\\out\\");
  EXPECT_EQ(u.DestDir(), "C:\\out");
  u.SetDestDir("C:\\out");
  EXPECT_EQ(u.DestDir(), "C:\\out");
  u.SetRootDir("top");
  EXPECT_EQ(u.RootDir(), "top\\");
  u.SetRootDir("top\\");
  EXPECT_EQ(u.RootDir(), "top\\");
  u.SetRootDir("");
  EXPECT_EQ(u.RootDir(), "");
  // A trailing byte 0x5C that is the second half of a double-byte character
  // is not a backslash in code page 936.
  if constexpr (platform::kIsWindows) {
    if (platform::IsLeadByte(0x81)) {
      const std::string dbcs = "dir\x81\x5C";
      u.SetRootDir(dbcs);
      EXPECT_EQ(u.RootDir(), dbcs + "\\");
    }
  }
}

TEST(UnZipComponent, FolderDialogForQuestionMark) {
  test::ScriptedUi ui;
  TempDir dir;
  TUnZip u;
  u.SetUserInterface(ui);
  u.SetDestDir(dir.path());
  ui.folderAnswer = dir / "chosen\\";
  u.SetDestDir("?");
  EXPECT_EQ(u.DestDir(), dir / "chosen");
  ASSERT_EQ(ui.pickCalls.size(), 1u);
  EXPECT_EQ(ui.pickCalls[0], "folder|" + dir.path());

  // A DestDir that is no folder starts the dialog in the current directory.
  u.SetDestDir(dir / "missing");
  ui.folderAnswer.clear();
  try {
    u.SetDestDir("?");
    ADD_FAILURE() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled Set Desination Directory");
  }
  EXPECT_EQ(ui.pickCalls.back(), "folder|" + platform::GetDriveDir(0));
  EXPECT_EQ(u.DestDir(), dir / "missing");
}

TEST(UnZipComponent, FileDialogForNameEndingInQuestionMark) {
  test::ScriptedUi ui;
  TempDir dir;
  TUnZip u;
  u.SetUserInterface(ui);
  u.SetZipName(UnzipData("plain.zip"));
  u.LoadDirectory();
  ASSERT_EQ(u.Count(), 9);

  ui.fileAnswer.clear();
  try {
    u.SetZipName(dir / "*.zip?");
    ADD_FAILURE() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled setting zip file name.");
  }
  // Nothing changed.
  EXPECT_EQ(u.ZipName(), UnzipData("plain.zip"));
  EXPECT_EQ(u.Count(), 9);
  ASSERT_EQ(ui.pickCalls.size(), 1u);
  const std::string folder = (dir / "*.zip?").substr(0, dir.path().size() + 1);
  EXPECT_EQ(ui.pickCalls[0],
            "Open a Zip File|Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|"
            "All Files (*.*)|*.*|" +
                folder);

  ui.fileAnswer = UnzipData("bare.zip");
  u.SetZipName("nowhere\\at\\all\\?");
  EXPECT_EQ(u.ZipName(), UnzipData("bare.zip"));
  EXPECT_EQ(u.Count(), 0);
  EXPECT_EQ(ui.pickCalls.back().substr(ui.pickCalls.back().rfind('|') + 1),
            platform::kIsWindows ? "C:\\" : "/");
  u.LoadDirectory();
  EXPECT_EQ(u.Count(), 4);
}

TEST(UnZipComponent, NameInAnotherCaseKeepsTheDirectoryOnWindowsOtherNamesDropIt) {
  TUnZip u;
  u.SetKeepZipOpen(true);
  const std::string name = UnzipData("plain.zip");
  u.SetZipName(name);
  u.LoadDirectory();
  ASSERT_EQ(u.Count(), 9);
  ASSERT_NE(u.ArchiveStream(), nullptr);
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  u.SetZipName(upper);
  if (platform::kIsWindows) {
    EXPECT_EQ(u.ZipName(), name);
    EXPECT_NE(u.ArchiveStream(), nullptr);
    EXPECT_EQ(u.Count(), 9);
  } else {
    // Another file on POSIX, and here none at all.
    EXPECT_EQ(u.ZipName(), upper);
    EXPECT_EQ(u.ArchiveStream(), nullptr);
  }

  u.SetZipName(UnzipData("bare.zip"));
  EXPECT_EQ(u.Count(), 0);
  EXPECT_EQ(u.ArchiveStream(), nullptr);  // closed although KeepZipOpen is set
  EXPECT_EQ(u.ArchiveDate(), 0);
  EXPECT_EQ(u.ArchiveComment(), "");
}

TEST(UnZipComponent, KeepZipOpenAndClearArchive) {
  TUnZip u;
  u.SetZipName(UnzipData("plain.zip"));
  u.LoadDirectory();
  EXPECT_EQ(u.ArchiveStream(), nullptr);
  EXPECT_NE(u.ArchiveDate(), 0);

  u.SetKeepZipOpen(true);
  u.OpenArchive();
  u.CloseArchive();
  EXPECT_NE(u.ArchiveStream(), nullptr);

  u.SetSortMode(ByName);
  u.ClearArchive();
  EXPECT_EQ(u.ArchiveStream(), nullptr);
  EXPECT_EQ(u.ZipName(), "");
  EXPECT_EQ(u.Count(), 0);
  EXPECT_EQ(u.ArchiveDate(), 0);
  EXPECT_TRUE(u.KeepZipOpen());
  EXPECT_EQ(u.SortMode(), ByName);
}

TEST(UnZipComponent, SortModeTakesEffectAtTheNextRead) {
  TUnZip u;
  u.SetOEMConvert(false);
  u.SetZipName(UnzipData("plain.zip"));
  u.LoadDirectory();
  const std::string physicalFirst = u.Entry(0).StoredPath();
  EXPECT_EQ(physicalFirst, "docs\\");
  u.SetSortMode(ByUnCompressedSize);
  EXPECT_EQ(u.Entry(0).StoredPath(), physicalFirst);
  u.ApplySortMode(ByUnCompressedSize);
  EXPECT_EQ(u.Entry(0).StoredPath(), "alpha.txt");
  u.ApplySortMode(ByNone);
  EXPECT_EQ(u.Entry(0).StoredPath(), physicalFirst);
  EXPECT_EQ(u.SortMode(), ByNone);
  u.SetSortMode(ByFileName);
  u.SetZipName(UnzipData("seven.zip"));
  u.SetZipName(UnzipData("plain.zip"));
  u.LoadDirectory();
  // Directories (empty file names) first, then a.c, alpha.txt, Big.bin ...
  EXPECT_EQ(u.Entry(3).StoredPath(), "src\\a.c");
  EXPECT_EQ(u.Entry(4).StoredPath(), "alpha.txt");
  EXPECT_EQ(u.Entry(5).StoredPath(), "docs\\Big.bin");
}

TEST(UnZipComponent, IndexesOutsideTheDirectory) {
  TUnZip u;
  u.SetZipName(UnzipData("plain.zip"));
  u.LoadDirectory();
  for (std::int32_t bad : {-1, 9, 1000}) {
    try {
      u.EntryFileName(bad);
      ADD_FAILURE() << "no exception";
    } catch (const EListError& e) {
      EXPECT_EQ(std::string(e.what()), "Index " + std::to_string(bad) + " is out of range");
    }
    EXPECT_THROW(u.EntryComment(bad), EListError);
    EXPECT_THROW(u.SetEntryComment(bad, "x"), EListError);
  }
  TUnZip none;
  EXPECT_THROW(none.EntryFileName(0), EListError);
}

TEST(UnZipComponent, CommentsAreReadLazilyAndCached) {
  const Listing plain = ReadListing(UnzipData("plain.zip.list"));
  TempDir dir;
  const std::string path = dir / "c.zip";
  const std::string moved = dir / "moved.zip";
  test::CopyBytes(UnzipData("plain.zip"), path);
  TUnZip u;
  u.SetZipName(path);
  u.LoadDirectory();
  EXPECT_EQ(u.Entry(1).FileCommentLength, plain.entries[1].comment.size());
  EXPECT_FALSE(u.Entry(1).FileCommentLoaded());

  // Not read yet: reading needs the file.
  ASSERT_TRUE(platform::RenameFile(path, moved));
  EXPECT_THROW(u.EntryComment(1), EFOpenError);
  EXPECT_THROW(u.ArchiveComment(), EFOpenError);
  ASSERT_TRUE(platform::RenameFile(moved, path));
  EXPECT_EQ(u.EntryComment(1), "About the readme");
  EXPECT_EQ(u.ArchiveComment(), plain.comment);
  EXPECT_EQ(u.ArchiveStream(), nullptr);  // closed again after each read
  EXPECT_FALSE(u.EndCentral().Modified);

  // Read once: cached.
  ASSERT_TRUE(platform::RenameFile(path, moved));
  EXPECT_EQ(u.EntryComment(1), "About the readme");
  EXPECT_EQ(u.ArchiveComment(), plain.comment);
  EXPECT_EQ(u.EntryComment(0), "");  // no comment needs no file
  ASSERT_TRUE(platform::RenameFile(moved, path));

  // Writing changes only the cache and marks the end record.
  u.SetEntryComment(1, "About the readme");
  EXPECT_FALSE(u.EndCentral().Modified);
  u.SetEntryComment(0, "new one");
  EXPECT_TRUE(u.EndCentral().Modified);
  EXPECT_EQ(u.EntryComment(0), "new one");
  u.SetArchiveComment("replaced");
  EXPECT_EQ(u.ArchiveComment(), "replaced");
  EXPECT_EQ(test::ReadFile(path), test::ReadFile(UnzipData("plain.zip")));
}

TEST(UnZipComponent, ADirectoryIsReadAgainWhenTheFileChanges) {
  TempDir dir;
  const std::string path = dir / "changing.zip";
  test::CopyBytes(UnzipData("plain.zip"), path);
  TUnZip u;
  u.SetZipName(path);
  u.LoadDirectory();
  ASSERT_EQ(u.Count(), 9);
  u.OpenArchive();  // same date: the directory is kept
  EXPECT_EQ(u.Count(), 9);
  u.CloseArchive();

  test::CopyBytes(UnzipData("bare.zip"), path);
  platform::FileHandle h = platform::FileOpen(path, platform::fmOpenWrite);
  ASSERT_NE(h, platform::kInvalidHandle);
  // 2001-01-01 12:00:00, surely not the date of the first read.
  ASSERT_TRUE(platform::FileSetDate(h, static_cast<std::int32_t>((21u << 25 | 1u << 21 | 1u << 16) | (12u << 11))));
  platform::FileClose(h);
  u.OpenArchive();
  EXPECT_EQ(u.Count(), 4);
}

TEST(UnZipComponent, FailuresThroughLoadDirectoryClearTheArchive) {
  TempDir dir;
  test::ScriptedUi ui;
  TUnZip u;
  u.SetUserInterface(ui);
  u.SetZipName(dir / "missing.zip");
  EXPECT_THROW(u.LoadDirectory(), EFOpenError);
  EXPECT_EQ(u.ZipName(), "");
  // The busy cursor was shown and the previous one is back.
  ASSERT_GE(ui.cursorsShown.size(), 2u);
  EXPECT_EQ(ui.cursorsShown.front(), platform::Cursor::Busy);
  EXPECT_EQ(ui.cursor, platform::Cursor::Default);
}

TEST(UnZipComponent, AssignCopiesSettingsAndEventsOnly) {
  int calls = 0;
  auto source = std::make_unique<TUnZip>();
  source->SetZipName(UnzipData("plain.zip"));
  source->LoadDirectory();
  source->SetDestDir("out\\");
  source->SetRootDir("root");
  source->SetSortMode(ByDate);
  source->SetRecreateDirs(true);
  source->SetOverwriteMode(ifNewer);
  source->FilesList().Add("*.txt");
  source->SetDoAll(true);
  source->SetIncompleteZipMode(izAssumeBad);
  source->SetKeepZipOpen(true);
  source->SetDoProcessMessages(false);
  source->SetRetainAttributes(false);
  source->SetReplaceReadOnly(true);
  source->SetFlushFilesOnClose(true);
  source->SetOEMConvert(false);
  source->SetPassword("secret");
  source->OnBadPassword = [&](TObject*, std::int32_t, std::string&) { ++calls; };
  source->OnDecrypt = [&](TObject*, std::uint8_t*, std::int32_t, const std::string&) { ++calls; };

  TUnZip target;
  target.SetZipName(UnzipData("bare.zip"));
  target.LoadDirectory();
  ASSERT_EQ(target.Count(), 4);
  target.Assign(source.get());
  EXPECT_EQ(target.ZipName(), UnzipData("plain.zip"));
  EXPECT_EQ(target.Count(), 0);  // neither the source's archive state nor its own old one
  EXPECT_EQ(target.DestDir(), "out");
  EXPECT_EQ(target.RootDir(), "root\\");
  EXPECT_EQ(target.SortMode(), ByDate);
  EXPECT_TRUE(target.RecreateDirs());
  EXPECT_EQ(target.OverwriteMode(), ifNewer);
  ASSERT_EQ(target.FilesList().Count(), 1);
  EXPECT_EQ(target.FilesList().Strings(0), "*.txt");
  EXPECT_TRUE(target.DoAll());
  EXPECT_EQ(target.IncompleteZipMode(), izAssumeBad);
  EXPECT_TRUE(target.KeepZipOpen());
  EXPECT_FALSE(target.DoProcessMessages());
  EXPECT_FALSE(target.RetainAttributes());
  EXPECT_TRUE(target.ReplaceReadOnly());
  EXPECT_FALSE(target.FlushFilesOnClose());
  EXPECT_TRUE(target.OEMConvert());
  EXPECT_EQ(target.Password(), "");
  EXPECT_FALSE(static_cast<bool>(target.OnDecrypt));
  ASSERT_TRUE(static_cast<bool>(target.OnBadPassword));
  std::string pw;
  target.OnBadPassword(&target, 0, pw);
  EXPECT_EQ(calls, 1);

  // The source's own disk handler answers for the target, not the source
  // (which may be gone).
  source.reset();
  std::string name = "set.zip";
  target.OnGetNextDisk(&target, 2, name);
  EXPECT_EQ(name, "set.002");

  TStringList list;
  list.Add("a");
  list.Add("b");
  target.SetFilesList(list);
  EXPECT_EQ(target.FilesList().Count(), 2);
  list.Clear();
  EXPECT_EQ(target.FilesList().Count(), 2);

  TStringList other;
  EXPECT_THROW(target.Assign(&other), EConvertError);
}

TEST(UnZipComponent, DecodeInputOfTheWorkingEntry) {
  TUnZip u;
  u.SetZipName(UnzipData("bare.zip"));
  u.SetKeepZipOpen(true);
  u.LoadDirectory();
  DecodeInput& input = u;
  u.LocateEntry(0);
  EXPECT_EQ(u.CurrentEntry().StoredPath(), "docs\\readme.txt");
  EXPECT_EQ(u.CurrentEntry().CompressedSize, 14);
  EXPECT_FALSE(u.CurrentEntry().IsEncrypted());
  EXPECT_FALSE(input.CanSpan());
  char text[15] = {};
  EXPECT_EQ(input.ReadInput(text, 14), 14);
  // A plain entry's data is left as it is.
  input.Decrypt(reinterpret_cast<std::uint8_t*>(text), 14);
  EXPECT_STREQ(text, "read me first\n");
}

}  // namespace
}  // namespace quv
