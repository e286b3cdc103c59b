// Traditional decryption against archives encrypted by zip (with a data
// descriptor) and 7z (without), and the password test with OnBadPassword.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "UnZipTestSupport.h"
#include "unzip/UnZip.h"

namespace quv {
namespace {

using test::Listing;
using test::ReadListing;
using test::TempDir;
using test::UnzipData;

const std::string kFox = "The quick brown fox jumps over the lazy dog.\n";
const std::string kPassword = "Pass word";

std::unique_ptr<TUnZip> Open(const std::string& path) {
  auto u = std::make_unique<TUnZip>();
  u->SetKeepZipOpen(true);
  u->SetZipName(path);
  u->LoadDirectory();
  return u;
}

// The entry's data decrypted with the keys as they stand.
std::string DecryptRest(TUnZip& u) {
  std::string data(static_cast<std::size_t>(u.CurrentEntry().CompressedSize), '\0');
  EXPECT_EQ(u.ReadInput(data.data(), static_cast<std::int32_t>(data.size())), static_cast<std::int32_t>(data.size()));
  u.DecryptBuffer(reinterpret_cast<std::uint8_t*>(data.data()), static_cast<std::int32_t>(data.size()));
  return data;
}

TEST(UnZipCipher, KeysStartFromTheirInitialValues) {
  TUnZip u;
  u.InitKeys("");
  EXPECT_EQ(u.Key(0), 0x12345678u);
  EXPECT_EQ(u.Key(1), 0x23456789u);
  EXPECT_EQ(u.Key(2), 0x34567890u);
  u.InitKeys("x");
  EXPECT_NE(u.Key(0), 0x12345678u);
  u.InitKeys("");
  EXPECT_EQ(u.Key(2), 0x34567890u);
  // One CRC step of the standard table.
  EXPECT_EQ(TUnZip::CrcStep(0xFFFFFFFFu, 'a') ^ 0xFFFFFFFFu, 0xE8B7BE43u);
}

TEST(UnZipCipher, StoredEntriesDecryptWithTheRightPassword) {
  struct Case {
    const char* archive;
    std::string password;
    bool descriptor;
  };
  for (const Case& c : {Case{"enc-zip-stored.zip", kPassword, true}, Case{"enc-7z-stored.zip", kPassword, false},
                        Case{"enc-empty.zip", "", false}}) {
    SCOPED_TRACE(c.archive);
    auto u = Open(UnzipData(c.archive));
    ASSERT_EQ(u->Count(), 1);
    u->SetPassword(c.password);
    u->LocateEntry(0);
    const TZipHeaderInfo& e = u->CurrentEntry();
    ASSERT_TRUE(e.IsEncrypted());
    EXPECT_EQ(e.HasDataDescriptor(), c.descriptor);
    EXPECT_EQ(TUnZip::CheckByte(e),
              c.descriptor ? static_cast<std::uint8_t>(e.LastModFileDateTime >> 8) : static_cast<std::uint8_t>(e.CRC32 >> 24));
    const std::int32_t size = e.CompressedSize;
    EXPECT_TRUE(u->CheckPassword(0));
    EXPECT_EQ(u->CurrentEntry().CompressedSize, size - 12);
    EXPECT_EQ(DecryptRest(*u), kFox);
  }
}

// The cipher is a value of its own: a copy taken after the header goes on
// from the same keys without disturbing the original.
TEST(UnZipCipher, TheCipherIsAValueThatCopiesItsKeys) {
  auto u = Open(UnzipData("enc-7z-stored.zip"));
  u->LocateEntry(0);
  const std::int64_t size = u->CurrentEntry().CompressedSize;
  std::string data(static_cast<std::size_t>(size), '\0');
  ASSERT_EQ(u->ReadInput(data.data(), static_cast<std::int32_t>(size)), size);
  auto* bytes = reinterpret_cast<std::uint8_t*>(data.data());
  TTraditionalCipher cipher;
  EXPECT_EQ(cipher.DecryptHeader(kPassword, bytes), TTraditionalCipher::CheckByte(u->CurrentEntry()));
  TTraditionalCipher copy = cipher;
  std::string first = data.substr(12), second = first;
  cipher.Decrypt(reinterpret_cast<std::uint8_t*>(first.data()), static_cast<std::int32_t>(first.size()));
  copy.Decrypt(reinterpret_cast<std::uint8_t*>(second.data()), static_cast<std::int32_t>(second.size()));
  EXPECT_EQ(first, kFox);
  EXPECT_EQ(second, kFox);
  // The component's forwards run the same cipher.
  EXPECT_EQ(u->DecryptHeader(kPassword, bytes), TTraditionalCipher::CheckByte(u->CurrentEntry()));
  EXPECT_NE(u->Key(0), cipher.Key(0));
}

TEST(UnZipCipher, HeaderCheckOfCompressedEntries) {
  for (const char* archive : {"enc-zip.zip", "enc-7z.zip"}) {
    SCOPED_TRACE(archive);
    const Listing listing = ReadListing(UnzipData(std::string(archive) + ".list"));
    auto u = Open(UnzipData(archive));
    ASSERT_EQ(u->Count(), 2);
    for (std::int32_t i = 0; i < 2; ++i) {
      EXPECT_EQ(u->Entry(i).HasDataDescriptor(), (listing.entries[static_cast<std::size_t>(i)].flags & 8) != 0);
      u->SetPassword(kPassword);
      u->LocateEntry(i);
      EXPECT_TRUE(u->CheckPassword(i));
      u->SetPassword("pass word");
      u->LocateEntry(i);
      EXPECT_FALSE(u->CheckPassword(i));
    }
  }
}

TEST(UnZipCipher, WrongPasswordsAreRefusedAndOnBadPasswordMaySupplyAnother) {
  auto u = Open(UnzipData("enc-zip-stored.zip"));
  u->SetPassword("wrong");
  u->LocateEntry(0);
  const std::int32_t size = u->CurrentEntry().CompressedSize;
  EXPECT_FALSE(u->CheckPassword(0));
  EXPECT_EQ(u->Password(), "wrong");

  std::vector<std::string> offered;
  u->OnBadPassword = [&](TObject* sender, std::int32_t index, std::string& password) {
    EXPECT_EQ(sender, u.get());
    EXPECT_EQ(index, 7);
    offered.push_back(password);
    password = offered.size() < 3 ? "guess " + std::to_string(offered.size()) : kPassword;
  };
  u->LocateEntry(0);
  EXPECT_TRUE(u->CheckPassword(7));
  EXPECT_EQ(offered, (std::vector<std::string>{"wrong", "guess 1", "guess 2"}));
  EXPECT_EQ(u->Password(), kPassword);  // kept for later entries
  EXPECT_EQ(u->CurrentEntry().CompressedSize, size - 12);
  EXPECT_EQ(DecryptRest(*u), kFox);

  // The same answer again ends the attempts.
  int asked = 0;
  u->SetPassword("nope");
  u->OnBadPassword = [&](TObject*, std::int32_t, std::string&) { ++asked; };
  u->LocateEntry(0);
  EXPECT_FALSE(u->CheckPassword(0));
  EXPECT_EQ(asked, 1);
}

TEST(UnZipCipher, OnDecryptReplacesTheBuiltInCipher) {
  auto u = Open(UnzipData("enc-7z-stored.zip"));
  u->SetPassword(kPassword);
  u->LocateEntry(0);
  ASSERT_TRUE(u->CheckPassword(0));
  const std::uint32_t key0 = u->Key(0);
  std::vector<std::string> seen;
  u->OnDecrypt = [&](TObject*, std::uint8_t* buffer, std::int32_t length, const std::string& password) {
    seen.push_back(password);
    for (std::int32_t i = 0; i < length; ++i) buffer[i] = 'z';
  };
  std::uint8_t block[4] = {1, 2, 3, 4};
  DecodeInput& input = *u;
  input.Decrypt(block, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 4), "zzzz");
  EXPECT_EQ(seen, std::vector<std::string>{kPassword});
  EXPECT_EQ(u->Key(0), key0);
  EXPECT_TRUE(u->CurrentEntry().IsEncrypted());
}

TEST(UnZipCipher, HeaderCutShortByTheEndOfTheArchiveNeverPasses) {
  // The local header and 5 bytes of the encryption header, recovered by the scan.
  const std::string whole = test::ReadFile(UnzipData("enc-7z-stored.zip"));
  ASSERT_GT(whole.size(), 30u);
  const std::size_t nameLength = static_cast<unsigned char>(whole[26]) | (static_cast<unsigned char>(whole[27]) << 8);
  const std::size_t extraLength = static_cast<unsigned char>(whole[28]) | (static_cast<unsigned char>(whole[29]) << 8);
  TempDir dir;
  test::WriteFile(dir / "cut.zip", whole.substr(0, 30 + nameLength + extraLength + 5));
  auto u = std::make_unique<TUnZip>();
  u->SetKeepZipOpen(true);
  u->SetIncompleteZipMode(izAssumeBad);
  u->SetZipName(dir / "cut.zip");
  u->LoadDirectory();
  ASSERT_EQ(u->Count(), 1);
  u->SetPassword(kPassword);
  u->LocateEntry(0);
  EXPECT_FALSE(u->CheckPassword(0));
}

}  // namespace
}  // namespace quv
