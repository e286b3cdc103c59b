// The platform layer on the real file system: Win32 calls under Wine, POSIX
// calls natively.
#include <gtest/gtest.h>

#include <filesystem>

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
