// WinZip AES: the keys and the counter mode against values worked out with
// Python's hashlib and openssl, and archives made by 7z (tests/testdata.d/aes.sh)
// extracted to the bytes 7z extracts, with the password rules of the
// traditional cipher and nothing left of a failed entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Platform.h"
#include "unzip/UnZip.h"
#include "unzip/WinZipAes.h"

namespace quv::test {
namespace {

namespace fs = std::filesystem;

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += digits[static_cast<unsigned char>(c) >> 4];
    out += digits[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::uint8_t* Bytes(std::string& s) { return reinterpret_cast<std::uint8_t*>(s.data()); }

TEST(WinZipAesCrypto, KeysKeyStreamAndCodeMatchPythonAndOpenssl) {
  // python3: hashlib.pbkdf2_hmac('sha1', b'SECRET', bytes(range(16)), 1000, 66)
  std::string salt;
  for (char i = 0; i < 16; ++i) salt += i;
  const WinZipAesKeys keys = DeriveWinZipAesKeys("SECRET", salt, 32);
  EXPECT_EQ(Hex(keys.AesKey), "d95adc1e28e866e739d599433ce357516519c07c5dc2db9235623d7c39bca03c");
  EXPECT_EQ(Hex(keys.MacKey), "f8a333a1ff19235362e2aee14e49d84862a64addf959c2ec03fd4eb838d37787");
  EXPECT_EQ(Hex(keys.Verifier), "4db4");

  // Zeros decrypt to the key stream, here in uneven pieces. Block n is
  // `openssl enc -aes-256-ecb -nopad` of the counter n as 16 little-endian
  // bytes: 1 for the first block, 257 (a carry into the second byte) for
  // the last one.
  std::string data(16 * 257, '\0');
  WinZipAesDecryptor decryptor(keys);
  decryptor.Decrypt(Bytes(data), 5);
  decryptor.Decrypt(Bytes(data) + 5, 3000);
  decryptor.Decrypt(Bytes(data) + 3005, data.size() - 3005);
  EXPECT_EQ(Hex(data.substr(0, 16)), "6d870e295d2b801fcbd7d5ac4808a942");
  EXPECT_EQ(Hex(data.substr(16 * 256)), "5322e6e592c39c5de425d9b6b661d0b0");

  // hmac.new(mac_key, bytes(16 * 257), 'sha1').digest()[:10]: the code
  // covers the encrypted bytes.
  std::string code = Unhex("60e44ec55a6b5ef6d663");
  EXPECT_TRUE(decryptor.CodeMatches(Bytes(code)));
}

std::string Data(const std::string& name) { return Join(Join(TestDataDir(), "aes"), name); }

// Files below root ("a/b"), with their bytes.
std::vector<std::pair<std::string, std::string>> Files(const std::string& root) {
  std::vector<std::pair<std::string, std::string>> out;
  const fs::path top(platform::NativePath(root));
  if (!fs::exists(top)) return out;
  for (const auto& e : fs::recursive_directory_iterator(top)) {
    if (e.is_directory()) continue;
    out.emplace_back(fs::relative(e.path(), top).generic_string(), ReadFile(e.path().string()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

class AesArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TestDataDir().empty()) GTEST_SKIP() << "QUV_TESTDATA is not set";
    zip.SetDestDir(dest);
    zip.SetDoAll(true);
    zip.SetRecreateDirs(true);
    zip.SetOverwriteMode(Always);
    zip.SetDoProcessMessages(false);
    zip.SetPassword("SECRET");
    zip.OnBadCRC = [this](TObject*, std::int32_t, std::int32_t, std::int32_t i) {
      problems.push_back("bad CRC: " + zip.EntryFileName(i));
    };
    zip.OnSkippingFile = [this](TObject*, TSkipReason r, const std::string& name, std::int32_t, bool&) {
      problems.push_back("skipped (" + std::to_string(static_cast<int>(r)) + "): " + name);
    };
  }

  std::int32_t Extract(const std::string& archive) {
    RemoveTree(dest);
    problems.clear();
    zip.ClearArchive();
    zip.SetZipName(Data(archive));
    return zip.UnZipFiles();
  }

  // The reference files without the one named.
  std::vector<std::pair<std::string, std::string>> ReferenceWithout(const std::string& name) {
    auto files = Files(Data("ref"));
    std::erase_if(files, [&](const auto& f) { return f.first == name; });
    return files;
  }

  TempDir tmp;
  std::string dest = tmp / "out";
  TUnZip zip;
  std::vector<std::string> problems;
};

TEST_F(AesArchives, EveryKeySizeStoredDeflatedEmptyAndAe1ExtractLikeSevenZip) {
  const auto reference = Files(Data("ref"));
  ASSERT_EQ(reference.size(), 4u);
  for (const char* archive : {"aes128.zip", "aes192.zip", "aes256.zip", "aes128-stored.zip", "ae1.zip"}) {
    SCOPED_TRACE(archive);
    EXPECT_EQ(Extract(archive), 5);
    EXPECT_EQ(problems, std::vector<std::string>());
    EXPECT_TRUE(Files(dest) == reference);
  }
}

TEST_F(AesArchives, WrongPasswordIsAskedAgainAndLeavesNothing) {
  zip.SetPassword("wrong");
  std::vector<std::string> asked;
  std::vector<std::pair<std::string, std::string>> filesWhenAsked{{"?", ""}};
  zip.OnBadPassword = [&](TObject*, std::int32_t index, std::string& password) {
    asked.push_back(zip.EntryFileName(index) + " with " + password);
    filesWhenAsked = Files(dest);
    password = "SECRET";
  };
  EXPECT_EQ(Extract("aes256.zip"), 5);
  EXPECT_EQ(asked, std::vector<std::string>{"empty.txt with wrong"});
  EXPECT_TRUE(filesWhenAsked.empty());
  EXPECT_TRUE(Files(dest) == Files(Data("ref")));

  // The same wrong password back: every file skipped, none made.
  zip.SetPassword("wrong");
  zip.OnBadPassword = [&](TObject*, std::int32_t, std::string&) {};
  EXPECT_EQ(Extract("aes256.zip"), 1);  // the folder
  EXPECT_EQ(problems.size(), 4u);
  EXPECT_EQ(problems.front(), "skipped (0): empty.txt");
  EXPECT_TRUE(Files(dest).empty());
}

TEST_F(AesArchives, DamagedDataFailsAuthenticationAndAe1ItsCrcLeavingNothing) {
  // The password passed its verifier: what fails after it is the data, and
  // no other password is asked for.
  int asked = 0;
  zip.OnBadPassword = [&](TObject*, std::int32_t, std::string&) { ++asked; };
  zip.OnBadCRC = [&](TObject*, std::int32_t, std::int32_t, std::int32_t i) {
    problems.push_back(zip.EntryFileName(i) + ": " + zip.SkipDetail());
  };
  EXPECT_EQ(Extract("flipped.zip"), 4);
  EXPECT_EQ(problems,
            std::vector<std::string>{"random.bin: authentication failed: the data is damaged or was altered"});
  EXPECT_TRUE(Files(dest) == ReferenceWithout("random.bin"));

  EXPECT_EQ(Extract("ae1-badcrc.zip"), 4);
  EXPECT_EQ(problems, std::vector<std::string>{"text.txt: "});
  EXPECT_TRUE(Files(dest) == ReferenceWithout("sub/text.txt"));
  EXPECT_EQ(asked, 0);
}

}  // namespace
}  // namespace quv::test
