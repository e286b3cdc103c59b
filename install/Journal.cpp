#include "install/Journal.h"

#include <windows.h>
#include <shlobj.h>

#include <utility>

#include "install/FolderSecurity.h"
#include "zip/Crc32.h"
#include "zip/Text.h"

namespace quv {

namespace {

// A record: "QJ", the payload's length (4 bytes, little-endian), the
// payload, and its CRC-32, so that a record torn by a crash is known.
constexpr char kMagic[] = "QJ";
constexpr std::size_t kHeaderSize = 6;

std::uint32_t Sum(const std::string& bytes) {
  return ~UpdateCrc(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

class Writer {
 public:
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  void Bytes(const std::string& s) {
    U32(static_cast<std::uint32_t>(s.size()));
    out_ += s;
  }
  void Wide(const std::wstring& s) {
    Bytes(std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(wchar_t)));
  }
  std::string& out() { return out_; }

 private:
  std::string out_;
};

// Reads what Writer wrote; once anything is missing, ok() stays false.
class Reader {
 public:
  explicit Reader(std::string in) : in_(std::move(in)) {}
  std::uint32_t U32() {
    if (in_.size() - at_ < 4) return Fail();
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in_[at_ + static_cast<std::size_t>(i)]);
    at_ += 4;
    return v;
  }
  std::string Bytes() {
    const std::uint32_t size = U32();
    if (!ok_ || in_.size() - at_ < size) return Fail(), std::string();
    std::string s = in_.substr(at_, size);
    at_ += size;
    return s;
  }
  std::wstring Wide() {
    const std::string bytes = Bytes();
    std::wstring s(bytes.size() / sizeof(wchar_t), L'\0');
    bytes.copy(reinterpret_cast<char*>(s.data()), s.size() * sizeof(wchar_t));
    return s;
  }
  // A count of items that each take at least min bytes: a damaged count
  // cannot make the reader reserve or loop beyond what is there.
  std::uint32_t Count(std::size_t min) {
    const std::uint32_t n = U32();
    return ok_ && n <= (in_.size() - at_) / min ? n : Fail();
  }
  bool ok() const { return ok_ && at_ == in_.size(); }

 private:
  std::uint32_t Fail() {
    ok_ = false;
    at_ = in_.size();
    return 0;
  }
  std::string in_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

void WriteService(Writer& w, const ServiceConfig& c) {
  for (std::uint32_t v : {c.type, c.startType, c.errorControl}) w.U32(v);
  for (const std::string* s : {&c.binaryPath, &c.loadOrderGroup, &c.startName, &c.displayName, &c.description,
                               &c.dependencies})
    w.Bytes(*s);
  w.U32(c.running);
  w.U32(c.failureResetSeconds);
  w.Bytes(c.failureRebootMessage);
  w.Bytes(c.failureCommand);
  w.U32(static_cast<std::uint32_t>(c.failureActions.size()));
  for (const FailureAction& a : c.failureActions) {
    w.U32(a.type);
    w.U32(a.delayMs);
  }
  w.U32(c.delayedStart);
  w.Bytes(c.security);
  w.U32(static_cast<std::uint32_t>(c.registry.size()));
  for (const ServiceKeyItem& item : c.registry) {
    w.Wide(item.subkey);
    w.U32(item.keyOnly);
    w.Wide(item.name);
    w.U32(item.type);
    w.Bytes(item.data);
  }
}

ServiceConfig ReadService(Reader& r) {
  ServiceConfig c;
  for (std::uint32_t* v : {&c.type, &c.startType, &c.errorControl}) *v = r.U32();
  for (std::string* s : {&c.binaryPath, &c.loadOrderGroup, &c.startName, &c.displayName, &c.description,
                         &c.dependencies})
    *s = r.Bytes();
  c.running = r.U32() != 0;
  c.failureResetSeconds = r.U32();
  c.failureRebootMessage = r.Bytes();
  c.failureCommand = r.Bytes();
  for (std::uint32_t n = r.Count(8); n > 0; --n) {
    FailureAction a;
    a.type = r.U32();
    a.delayMs = r.U32();
    c.failureActions.push_back(a);
  }
  c.delayedStart = r.U32() != 0;
  c.security = r.Bytes();
  for (std::uint32_t n = r.Count(20); n > 0; --n) {
    ServiceKeyItem item;
    item.subkey = r.Wide();
    item.keyOnly = r.U32() != 0;
    item.name = r.Wide();
    item.type = r.U32();
    item.data = r.Bytes();
    c.registry.push_back(std::move(item));
  }
  return c;
}

void WriteEntry(Writer& w, const UninstallEntrySnapshot& e) {
  w.U32(e.existed);
  w.U32(static_cast<std::uint32_t>(e.values.size()));
  for (const RegistryValue& v : e.values) {
    w.Bytes(v.name);
    w.U32(v.type);
    w.Bytes(v.data);
  }
}

UninstallEntrySnapshot ReadEntry(Reader& r) {
  UninstallEntrySnapshot e;
  e.existed = r.U32() != 0;
  for (std::uint32_t n = r.Count(12); n > 0; --n) {
    RegistryValue v;
    v.name = r.Bytes();
    v.type = r.U32();
    v.data = r.Bytes();
    e.values.push_back(std::move(v));
  }
  return e;
}

}  // namespace

std::string EncodeJournalRecord(const JournalRecord& record) {
  Writer w;
  w.U32(static_cast<std::uint32_t>(record.kind));
  w.Bytes(record.path);
  w.Bytes(record.backup);
  WriteService(w, record.service);
  WriteEntry(w, record.entry);
  const std::string& payload = w.out();
  Writer framed;
  framed.out() = kMagic;
  framed.U32(static_cast<std::uint32_t>(payload.size()));
  framed.out() += payload;
  framed.U32(Sum(payload));
  return framed.out();
}

std::vector<JournalRecord> DecodeJournal(const std::string& bytes) {
  std::vector<JournalRecord> records;
  for (std::size_t at = 0; bytes.size() - at >= kHeaderSize + 4 && bytes.compare(at, 2, kMagic) == 0;) {
    Reader header(bytes.substr(at + 2, 4));
    const std::uint32_t size = header.U32();
    if (bytes.size() - at - kHeaderSize - 4 < size) break;
    std::string payload = bytes.substr(at + kHeaderSize, size);
    Reader sum(bytes.substr(at + kHeaderSize + size, 4));
    if (sum.U32() != Sum(payload)) break;
    Reader r(std::move(payload));
    JournalRecord record;
    const std::uint32_t kind = r.U32();
    if (kind < 1 || kind > static_cast<std::uint32_t>(JournalRecord::Kind::Committed)) break;
    record.kind = static_cast<JournalRecord::Kind>(kind);
    record.path = r.Bytes();
    record.backup = r.Bytes();
    record.service = ReadService(r);
    record.entry = ReadEntry(r);
    if (!r.ok()) break;
    records.push_back(std::move(record));
    at += kHeaderSize + size + 4;
  }
  return records;
}

Journal::~Journal() {
  if (file_) CloseHandle(file_);
}

std::string Journal::DefaultPath() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return "";
  return std::string(folder) + "\\QuvSetup\\install.journal";
}

bool Journal::FolderIsSafe(const std::string& path) {
  const std::string folder = text::FolderPart(path);
  if (folder.size() < 2) return false;
  const std::string bare = folder.substr(0, folder.size() - 1);
  if (GetFileAttributesA(bare.c_str()) == INVALID_FILE_ATTRIBUTES && !CreateProtectedFolder(bare)) return false;
  return CheckInstallFolder(bare).kind == FolderVerdict::Usable;
}

std::vector<JournalRecord> Journal::Read(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return DecodeJournal(bytes);
}

bool Journal::Create(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  file_ = file;
  path_ = path;
  return true;
}

bool Journal::Append(const JournalRecord& record) {
  if (!file_) return false;
  const std::string bytes = EncodeJournalRecord(record);
  DWORD written = 0;
  return WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size() && FlushFileBuffers(file_);
}

void Journal::Remove() {
  if (file_) CloseHandle(file_);
  file_ = nullptr;
  if (!path_.empty()) DeleteFileA(path_.c_str());
  path_.clear();
}

}  // namespace quv
