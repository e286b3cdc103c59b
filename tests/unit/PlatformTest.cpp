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

TEST(Platform, TemporaryFilesMoveOverAnyName) {
  TempDir dir;
  const std::string folder = dir / "x";
  const std::string inFolder = folder.substr(0, folder.size() - 1);
  std::string first;
  std::string second;
  const p::FileHandle a = p::CreateTempFile(inFolder, first);
  const p::FileHandle b = p::CreateTempFile(inFolder, second);
  ASSERT_NE(a, p::kInvalidHandle);
  ASSERT_NE(b, p::kInvalidHandle);
  EXPECT_NE(first, second);
  EXPECT_EQ(p::FileWrite(a, "new", 3), 3);
  p::FileClose(a);
  p::FileClose(b);
  // Over an existing file, in one step.
  const std::string target = dir / "target.txt";
  quv::test::WriteFile(target, "old contents");
  EXPECT_TRUE(p::MoveFileOver(first, target));
  EXPECT_EQ(quv::test::ReadFile(target), "new");
  EXPECT_FALSE(p::FileExists(first));
  std::string error;
  EXPECT_FALSE(p::MoveFileOver(first, target, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(p::CreateTempFile(dir / "no-such-folder\\", first, &error) != p::kInvalidHandle);
  EXPECT_TRUE(p::FileDelete(second));
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
  EXPECT_TRUE(p::ForceDirsBeneath(base, base + "a\\b\\"));
  EXPECT_TRUE(p::DirExists(Join(dest, "a\\b")));
  EXPECT_FALSE(p::ForceDirsBeneath(base, base + "dirlink\\sub\\"));
  EXPECT_FALSE(p::ForceDirsBeneath(base, base + "filelink\\sub\\"));
  EXPECT_FALSE(p::DirExists(Join(outside, "sub")));
  EXPECT_FALSE(p::ForceDirsBeneath(base, dir / "elsewhere\\"));
  // A link of any kind has its name taken; following it would say otherwise.
  EXPECT_TRUE(p::NameTaken(Join(dest, "dangling")));
  EXPECT_FALSE(p::FileExists(Join(dest, "dangling")));
  EXPECT_TRUE(p::NameTaken(Join(dest, "filelink")));
  EXPECT_FALSE(p::NameTaken(Join(dest, "a")));
  // Moving over a link replaces the link, not what it points at.
  std::string temp;
  const p::FileHandle h = p::CreateTempFile(base, temp);
  ASSERT_NE(h, p::kInvalidHandle);
  p::FileClose(h);
  EXPECT_TRUE(p::MoveFileOver(temp, Join(dest, "filelink")));
  EXPECT_EQ(quv::test::ReadFile(Join(outside, "target.txt")), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(p::NativePath(Join(dest, "filelink"))));
}
