// The platform layer on the real file system: Win32 calls under Wine, POSIX
// calls natively.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "TestSupport.h"
#include "platform/Platform.h"

namespace p = quv::platform;
using quv::test::Join;
using quv::test::TempDir;

TEST(Platform, FilesRoundTripThroughHandles) {
  TempDir dir;
  const std::string name = dir / "a.bin";
  std::string error;
  p::FileHandle h = p::FileOpen(name, p::fmCreate, &error);
  ASSERT_NE(h, p::kInvalidHandle) << error;
  EXPECT_EQ(p::FileWrite(h, "hello world", 11), 11);
  EXPECT_EQ(p::FileSeek(h, 6, 0), 6);
  char buf[16] = {};
  EXPECT_EQ(p::FileRead(h, buf, 16), 5);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(p::FileSeek(h, 0, 2), 11);
  p::FileClose(h);

  EXPECT_TRUE(p::FileExists(name));
  EXPECT_FALSE(p::DirExists(name));
  EXPECT_EQ(p::FileOpen(dir / "missing.bin", p::fmOpenRead, &error), p::kInvalidHandle);
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(p::FileDelete(name));
  EXPECT_FALSE(p::FileExists(name));
}

TEST(Platform, DosDatesSurviveSetAndGet) {
  TempDir dir;
  const std::string name = dir / "dated.txt";
  p::FileHandle h = p::FileOpen(name, p::fmCreate);
  ASSERT_NE(h, p::kInvalidHandle);
  // 2019-07-14 13:45:30 local time.
  const std::int32_t dos = static_cast<std::int32_t>((((2019 - 1980) << 9 | 7 << 5 | 14) << 16) | (13 << 11 | 45 << 5 | 15));
  EXPECT_TRUE(p::FileSetDate(h, dos));
  EXPECT_EQ(p::FileGetDate(h), dos);
  p::FileClose(h);
  EXPECT_EQ(p::FileAge(name), dos);
  EXPECT_EQ(p::FileAge(dir / "none.txt"), -1);
}

TEST(Platform, ReadOnlyAttributeAndFolders) {
  TempDir dir;
  const std::string deep = dir / "one\\two\\three";
  EXPECT_TRUE(p::ForceDirs(deep));
  EXPECT_TRUE(p::DirExists(deep));
  EXPECT_TRUE(p::ForceDirs(deep + "\\"));
  EXPECT_NE(p::FileGetAttr(deep) & p::faDirectory, 0);

  const std::string name = deep + "\\ro.txt";
  p::FileClose(p::FileOpen(name, p::fmCreate));
  EXPECT_TRUE(p::FileSetAttr(name, p::faReadOnly));
  EXPECT_NE(p::FileGetAttr(name) & p::faReadOnly, 0);
  EXPECT_TRUE(p::FileSetAttr(name, 0));
  EXPECT_EQ(p::FileGetAttr(name) & p::faReadOnly, 0);
  std::string error;
  p::FileHandle h = p::FileOpen(name, p::fmOpenWrite, &error);
  EXPECT_NE(h, p::kInvalidHandle) << error << " attr " << p::FileGetAttr(name);
  p::FileClose(h);
}

TEST(Platform, DriveSeamReplacesTheRealAnswers) {
  p::SetDriveSeam([](const std::string&) { return p::DriveType::Removable; },
                  [](const std::string&) { return std::string("BACKUP.003"); });
  EXPECT_EQ(p::QueryDriveType("A:\\"), p::DriveType::Removable);
  EXPECT_EQ(p::GetVolumeLabel("A:\\"), "BACKUP.003");
  p::SetDriveSeam(nullptr, nullptr);
  EXPECT_NE(p::QueryDriveType(quv::test::TempDir().path().substr(0, 3)), p::DriveType::Removable);
}

TEST(Platform, OemNamesBecomeSystemCodePage) {
  EXPECT_EQ(p::ConvertOemToAnsi("plain.txt"), "plain.txt");
  if constexpr (p::kIsWindows) {
    // Wine runs these tests with code page 936, whose OEM and ANSI pages agree.
    EXPECT_EQ(p::ConvertOemToAnsi("\xC4\xE3.txt"), "\xC4\xE3.txt");
  } else {
    EXPECT_EQ(p::ConvertOemToAnsi("\x84\x81.txt"), "\xC3\xA4\xC3\xBC.txt");  // äü in code page 437
  }
}

TEST(Platform, LastCharStartRespectsDoubleByteCharacters) {
  EXPECT_EQ(p::LastCharStart("abc"), 2u);
  if constexpr (p::kIsWindows) {
    // 0x955C is one GBK character whose second byte is a backslash.
    EXPECT_EQ(p::LastCharStart("a\x95\x5C"), 1u);
  } else {
    EXPECT_EQ(p::LastCharStart("a\xC3\xA4"), 1u);
  }
}

namespace {

// A temporary file with contents in folder of tree, closed; its name.
std::string Temp(p::OutputTree& tree, const std::string& folder, const std::string& contents) {
  std::string name;
  std::string reason;
  const p::FileHandle h = tree.CreateTemp(folder, name, reason);
  EXPECT_NE(h, p::kInvalidHandle) << reason;
  EXPECT_EQ(p::FileWrite(h, contents.data(), static_cast<std::int32_t>(contents.size())),
            static_cast<std::int32_t>(contents.size()));
  p::FileClose(h);
  return name;
}

}  // namespace

TEST(Platform, OutputFilesTakeTheirNamesAsTheRuleAllows) {
  TempDir dir;
  const std::string base = dir / "dest\\";
  ASSERT_TRUE(p::ForceDirs(base));
  p::OutputTree tree(base);
  std::string reason;
  ASSERT_TRUE(tree.MakeFolders(base + "a\\b\\", reason)) << reason;
  EXPECT_TRUE(tree.Made(base + "a\\") && tree.Made(base + "a\\b\\"));
  EXPECT_FALSE(tree.Made(base));
  const std::string target = base + "a\\b\\f.txt";
  // From the destination itself (a worker's file) into a folder, then never
  // over what is there without leave.
  EXPECT_EQ(tree.Commit(Temp(tree, base, "one"), target, p::Replace::None, reason), p::Placed::Done);
  const std::string second = Temp(tree, base + "a\\b\\", "two");
  EXPECT_EQ(tree.Commit(second, target, p::Replace::None, reason), p::Placed::NameTaken);
  EXPECT_EQ(quv::test::ReadFile(target), "one");
  EXPECT_TRUE(tree.Look(target).taken);
  EXPECT_FALSE(tree.Look(base + "a\\b\\").taken);
  // A read-only file stays unless the rule says otherwise, on every system.
  ASSERT_TRUE(p::FileSetAttr(target, p::faReadOnly));
  EXPECT_TRUE(tree.Look(target).readOnly);
  EXPECT_EQ(tree.Commit(second, target, p::Replace::Writable, reason), p::Placed::Failed);
  EXPECT_EQ(quv::test::ReadFile(target), "one");
  EXPECT_EQ(tree.Commit(second, target, p::Replace::Any, reason), p::Placed::Done) << reason;
  EXPECT_EQ(quv::test::ReadFile(target), "two");
  const std::string dropped = Temp(tree, base, "three");
  tree.Discard(dropped);
  EXPECT_FALSE(p::FileExists(dropped));
  // Folders that cannot be made say why.
  EXPECT_FALSE(tree.MakeFolders(base + std::string(300, 'n') + "\\", reason));
  EXPECT_NE(reason, "a link or file is in the way");
  EXPECT_FALSE(tree.MakeFolders(target + "\\", reason));
  EXPECT_EQ(reason, "a link or file is in the way");
  EXPECT_EQ(tree.CreateTemp(base + "missing\\", reason, reason), p::kInvalidHandle);
}

TEST(Platform, LinksInsideTheDestinationAreNeverFollowed) {
  if (p::kIsWindows) GTEST_SKIP() << "POSIX links";
  TempDir dir;
  const std::string outside = dir / "outside";
  const std::string dest = dir / "dest";
  ASSERT_TRUE(p::ForceDirs(outside));
  ASSERT_TRUE(p::ForceDirs(dest));
  quv::test::WriteFile(Join(outside, "target.txt"), "keep");
  std::filesystem::create_directory_symlink(p::NativePath(outside), p::NativePath(Join(dest, "dirlink")));
  std::filesystem::create_symlink(p::NativePath(Join(outside, "target.txt")), p::NativePath(Join(dest, "filelink")));
  std::filesystem::create_symlink(p::NativePath(Join(dest, "nowhere")), p::NativePath(Join(dest, "dangling")));

  const std::string base = dest + "\\";
  p::OutputTree tree(base);
  std::string reason;
  EXPECT_FALSE(tree.MakeFolders(base + "dirlink\\sub\\", reason));
  EXPECT_FALSE(tree.MakeFolders(base + "filelink\\sub\\", reason));
  EXPECT_FALSE(p::DirExists(Join(outside, "sub")));
  // A link of any kind has its name taken; following it would say otherwise.
  EXPECT_TRUE(tree.Look(Join(dest, "dangling")).taken);
  EXPECT_FALSE(tree.Look(Join(dest, "filelink")).readOnly);
  // A folder the tree holds stays the one it made when a link takes its name.
  ASSERT_TRUE(tree.MakeFolders(base + "made\\", reason));
  std::filesystem::rename(p::NativePath(Join(dest, "made")), p::NativePath(Join(dest, "moved")));
  std::filesystem::create_directory_symlink(p::NativePath(outside), p::NativePath(Join(dest, "made")));
  EXPECT_EQ(tree.Commit(Temp(tree, base + "made\\", "x"), base + "made\\x", p::Replace::Any, reason), p::Placed::Done);
  EXPECT_EQ(quv::test::ReadFile(Join(dest, "moved\\x")), "x");
  EXPECT_FALSE(p::FileExists(Join(outside, "x")));
  // Moving over a link replaces the link, not what it points at.
  EXPECT_EQ(tree.Commit(Temp(tree, base, "new"), Join(dest, "filelink"), p::Replace::Any, reason), p::Placed::Done);
  EXPECT_EQ(quv::test::ReadFile(Join(outside, "target.txt")), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(p::NativePath(Join(dest, "filelink"))));
}

namespace {

std::filesystem::path Native(const p::Path& path) {
  const std::string& utf8 = p::NativePath(path.Utf8());
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

// Names the system code page cannot hold (Korean, Thai, an emoji under code
// page 936) and paths past the plain form's 260 characters go through the
// same calls as any other; the file system sees the characters themselves.
TEST(Platform, Utf8AndLongPathsReachTheFileSystem) {
  TempDir dir;
  const p::Path base = p::Path(dir / "dest\\");
  ASSERT_TRUE(p::ForceDirs(base));
  std::optional<p::OutputTree> tree(std::in_place, base);
  const p::Path folder = base + p::Path::FromUtf8("\xED\x95\x9C\xEA\xB8\x80\\\xE0\xB9\x84\xE0\xB8\x97\xE0\xB8\xA2\\");
  std::string reason;
  ASSERT_TRUE(tree->MakeFolders(folder, reason)) << reason;
  p::Path temp;
  p::FileHandle h = tree->CreateTemp(folder, temp, reason);
  ASSERT_NE(h, p::kInvalidHandle) << reason;
  p::FileWrite(h, "abc", 3);
  p::FileStampAndClose(h, temp, {});
  const p::Path name = folder + p::Path::FromUtf8("\xF0\x9F\x98\x80.txt");
  ASSERT_EQ(tree->Commit(temp, name, p::Replace::None, reason), p::Placed::Done) << reason;
  EXPECT_TRUE(tree->Look(name).taken);
  EXPECT_TRUE(std::filesystem::is_regular_file(Native(name)));
  EXPECT_EQ(std::filesystem::file_size(Native(name)), 3u);

  // 20 folders of 15 characters: over 300 in all.
  std::vector<p::Path> folders{base};
  for (int i = 0; i < 20; ++i) {
    folders.push_back(folders.back() + p::Path::FromUtf8(std::string(14, static_cast<char>('a' + i)) + "\\"));
  }
  const p::Path& deep = folders.back();
  ASSERT_TRUE(tree->MakeFolders(deep, reason)) << reason;
  h = tree->CreateTemp(deep, temp, reason);
  ASSERT_NE(h, p::kInvalidHandle) << reason;
  p::FileClose(h);
  const p::Path far = deep + p::Path::FromUtf8("\xE0\xB8\x81.bin");
  ASSERT_EQ(tree->Commit(temp, far, p::Replace::None, reason), p::Placed::Done) << reason;
  EXPECT_TRUE(p::FileExists(far));
  EXPECT_TRUE(std::filesystem::is_regular_file(Native(far)));
  EXPECT_TRUE(p::FileDelete(far));
  EXPECT_FALSE(p::FileExists(far));
  // Removed here, once the tree lets go of them: the test's own clean-up
  // takes only short paths on Windows.
  tree.reset();
  while (folders.size() > 1) {
    EXPECT_TRUE(p::RemoveDir(folders.back()));
    folders.pop_back();
  }
}

TEST(Platform, LinksAreMadeInPlaceAndNeverWrittenThrough) {
  if (p::kIsWindows) GTEST_SKIP() << "POSIX links";
  TempDir dir;
  const std::string dest = dir / "dest";
  const std::string outside = dir / "outside";
  ASSERT_TRUE(p::ForceDirs(dest + "\\sub"));
  ASSERT_TRUE(p::ForceDirs(outside));
  std::filesystem::create_directory_symlink(p::NativePath(outside), p::NativePath(Join(dest, "dirlink")));
  const std::string base = dest + "\\";
  p::OutputTree tree(base);
  std::string reason;
  EXPECT_EQ(tree.MakeLink(base + "sub\\l", "../nowhere", p::Replace::None, reason), p::Placed::Done) << reason;
  EXPECT_EQ(p::ReadLink(base + "sub\\l"), "../nowhere");
  EXPECT_TRUE(tree.Look(base + "sub\\l").link);
  EXPECT_EQ(p::ReadLink(base + "sub"), std::nullopt);
  // Only as the rule allows: kept, then replaced.
  EXPECT_EQ(tree.MakeLink(base + "sub\\l", "other", p::Replace::None, reason), p::Placed::NameTaken);
  EXPECT_EQ(p::ReadLink(base + "sub\\l"), "../nowhere");
  EXPECT_EQ(tree.MakeLink(base + "sub\\l", "other", p::Replace::Writable, reason), p::Placed::Done);
  EXPECT_EQ(p::ReadLink(base + "sub\\l"), "other");
  // Never through a link on the way, never as "." or "..".
  EXPECT_EQ(tree.MakeLink(base + "dirlink\\l", "x", p::Replace::Any, reason), p::Placed::Failed);
  EXPECT_EQ(tree.MakeLink(base + "sub\\..", "x", p::Replace::Any, reason), p::Placed::Failed);
  EXPECT_TRUE(std::filesystem::is_empty(p::NativePath(outside)));
  // No temporary name is left behind.
  const std::filesystem::directory_iterator names(p::NativePath(dest + "\\sub"));
  EXPECT_EQ(std::distance(begin(names), end(names)), 1);
}
