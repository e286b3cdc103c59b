// Win32 side of the platform layer: the real calls, with the system's ANSI
// code page for names.
#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "platform/Platform.h"

namespace quv::platform {

namespace {
std::function<DriveType(const std::string&)> seam_drive_type;
std::function<std::string(const std::string&)> seam_volume_label;
}  // namespace

std::string LastErrorText() {
  DWORD code = GetLastError();
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == '.')) s.pop_back();
  return s;
}

std::string NativePath(const std::string& name) { return name; }

namespace {

std::wstring Widen(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// Wide text in codePage; characters it cannot hold become "?" (never a
// look-alike) and clear lossless.
std::string Narrow(const std::wstring& wide, UINT codePage, bool& lossless) {
  lossless = true;
  if (wide.empty()) return std::string();
  // UTF-8 takes neither the flag nor a default character.
  const bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = utf8 ? nullptr : "?";
  BOOL usedFallback = FALSE;
  BOOL* usedFallbackOut = utf8 ? nullptr : &usedFallback;
  const int wideLength = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(codePage, flags, wide.data(), wideLength, nullptr, 0, fallback, usedFallbackOut);
  if (length <= 0) return std::string();
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), wideLength, out.data(), length, fallback, usedFallbackOut);
  // Undecodable input arrives as U+FFFD: not the text either.
  lossless = usedFallback == FALSE && wide.find(L'\xFFFD') == std::wstring::npos;
  return out;
}

// The plain form's limit for a folder (MAX_PATH less room for an 8.3 name):
// a longer path goes to the system as "\\?\" and its full path.
constexpr std::size_t kPlainPathLimit = MAX_PATH - 12;

// A path as the wide API takes it. Short ones go as they are, exactly as
// the ANSI API took them; a long one is made whole first, since the
// system takes a "\\?\" path literally ("/", "." and ".." included).
std::wstring SystemPath(const Path& path) {
  std::wstring wide = Widen(path.Utf8(), CP_UTF8);
  if (wide.size() < kPlainPathLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace

Path::Path(const std::string& systemText) : utf8_(ConvertToUtf8(systemText)) {}

Path Path::FromUtf8(std::string utf8) {
  Path path;
  path.utf8_ = std::move(utf8);
  return path;
}

std::string Path::SystemText() const {
  bool lossless = true;
  return ConvertFromUtf8(utf8_, lossless);
}

std::string ConvertToUtf8(const std::string& text) {
  bool lossless = true;
  return Narrow(Widen(text, CP_ACP), CP_UTF8, lossless);
}

FileHandle FileOpen(const Path& name, std::uint16_t mode, std::string* error) {
  HANDLE h;
  const std::wstring path = SystemPath(name);
  if (mode == fmCreate) {
    h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
  } else {
    static const DWORD kAccess[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
    static const DWORD kShare[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
    DWORD access = kAccess[(mode & 3) < 3 ? (mode & 3) : 0];
    unsigned share_index = (mode & 0xF0) >> 4;
    DWORD share = share_index < 5 ? kShare[share_index] : 0;
    h = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = LastErrorText();
    return kInvalidHandle;
  }
  return reinterpret_cast<FileHandle>(h);
}

std::int32_t FileRead(FileHandle h, void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(h), buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
  return static_cast<std::int32_t>(got);
}

std::int32_t FileWrite(FileHandle h, const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  DWORD put = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(h), buffer, static_cast<DWORD>(count), &put, nullptr)) return -1;
  return static_cast<std::int32_t>(put);
}

std::int64_t FileSeek(FileHandle h, std::int64_t offset, int origin) {
  LARGE_INTEGER distance, result;
  distance.QuadPart = offset;
  DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(h), distance, &result, method)) return -1;
  return result.QuadPart;
}

namespace {

OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  where.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return where;
}

}  // namespace

std::int32_t FileReadAt(FileHandle h, void* buffer, std::int32_t count, std::int64_t offset) {
  if (count <= 0) return 0;
  OVERLAPPED where = At(offset);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(h), buffer, static_cast<DWORD>(count), &got, &where)) {
    // Reading at or past the end is no error, only nothing read.
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return static_cast<std::int32_t>(got);
}

std::int32_t FileWriteAt(FileHandle h, const void* buffer, std::int32_t count, std::int64_t offset) {
  if (count <= 0) return 0;
  OVERLAPPED where = At(offset);
  DWORD put = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(h), buffer, static_cast<DWORD>(count), &put, &where)) return -1;
  return static_cast<std::int32_t>(put);
}

std::int64_t FileSize(FileHandle h) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(h), &size)) return -1;
  return size.QuadPart;
}

void FileClose(FileHandle h) {
  if (h != kInvalidHandle) CloseHandle(reinterpret_cast<HANDLE>(h));
}

bool FileCommit(FileHandle h) { return FlushFileBuffers(reinterpret_cast<HANDLE>(h)) != 0; }

std::int32_t FileGetDate(FileHandle h) {
  FILETIME write, local;
  WORD date, time;
  if (!GetFileTime(reinterpret_cast<HANDLE>(h), nullptr, nullptr, &write)) return -1;
  if (!FileTimeToLocalFileTime(&write, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return -1;
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

bool FileSetDate(FileHandle h, std::int32_t dosDateTime) {
  FILETIME local, utc;
  auto v = static_cast<std::uint32_t>(dosDateTime);
  if (!DosDateTimeToFileTime(static_cast<WORD>(v >> 16), static_cast<WORD>(v & 0xFFFF), &local)) return false;
  if (!LocalFileTimeToFileTime(&local, &utc)) return false;
  return SetFileTime(reinterpret_cast<HANDLE>(h), nullptr, nullptr, &utc) != 0;
}

bool FileSetUtcTime(FileHandle h, std::int64_t ticks) {
  // FILETIME counts from 1601.
  constexpr std::int64_t k1601To1970 = 116444736000000000LL;
  const auto value = static_cast<std::uint64_t>(ticks + k1601To1970);
  FILETIME utc;
  utc.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  utc.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return SetFileTime(reinterpret_cast<HANDLE>(h), nullptr, nullptr, &utc) != 0;
}

// Windows has no permissions: the attributes say it all.
void FileStampAndClose(FileHandle h, const Path& name, const FileStamp& stamp, std::optional<std::uint32_t> /*madeWith*/) {
  FileClose(h);
  // Stamped through a handle of its own: closing the written one may set
  // the time again (Wine does).
  const FileHandle own = FileOpen(name, fmOpenWrite | fmShareDenyNone);
  if (own != kInvalidHandle) {
    if (!stamp.utcTicks || !FileSetUtcTime(own, *stamp.utcTicks)) FileSetDate(own, stamp.dosDateTime);
    FileClose(own);
  }
  if (stamp.attributes) FileSetAttr(name, *stamp.attributes);
}

std::int32_t FileAge(const Path& name) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(SystemPath(name).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return -1;
  FindClose(find);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  FILETIME local;
  WORD date, time;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
    return -1;
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

namespace {

DWORD AttributesOf(const Path& name) { return GetFileAttributesW(SystemPath(name).c_str()); }

}  // namespace

std::int32_t FileGetAttr(const Path& name) {
  DWORD a = AttributesOf(name);
  return a == INVALID_FILE_ATTRIBUTES ? -1 : static_cast<std::int32_t>(a);
}

bool FileSetAttr(const Path& name, std::uint32_t attributes) {
  return SetFileAttributesW(SystemPath(name).c_str(), attributes) != 0;
}

bool FileSetPermissions(const Path& /*name*/, std::uint32_t /*mode*/) { return true; }

bool FileDelete(const Path& name) { return DeleteFileW(SystemPath(name).c_str()) != 0; }

bool RenameFile(const Path& from, const Path& to) {
  return MoveFileW(SystemPath(from).c_str(), SystemPath(to).c_str()) != 0;
}

bool FileExists(const Path& name) {
  DWORD a = AttributesOf(name);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool NameTaken(const Path& name) {
  const DWORD attr = AttributesOf(name);
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirExists(const Path& name) {
  DWORD a = AttributesOf(name);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDir(const Path& name) { return CreateDirectoryW(SystemPath(name).c_str(), nullptr) != 0; }

bool RemoveDir(const Path& name) { return RemoveDirectoryW(SystemPath(name).c_str()) != 0; }

bool ForceDirs(const Path& path) {
  // UTF-8: no byte of a character looks like a separator.
  std::string p = path.Utf8();
  while (p.size() > 1 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
  if (p.empty()) return false;
  const Path whole = Path::FromUtf8(p);
  if (DirExists(whole) || (p.size() == 2 && p[1] == ':')) return true;
  const std::size_t cut = p.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0) {
    if (!ForceDirs(Path::FromUtf8(p.substr(0, cut)))) return false;
  }
  return CreateDir(whole) || DirExists(whole);
}

namespace {

constexpr char kInTheWay[] = "a link or file is in the way";

// A folder held open: neither moved, renamed nor deleted while the handle
// lasts (no FILE_SHARE_DELETE). A reparse point is opened as itself.
HANDLE HoldFolder(const std::string& path, DWORD flags) {
  return CreateFileW(SystemPath(Path::FromUtf8(path)).c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags,
                     nullptr);
}

bool IsPlainFolder(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(h, &info) != 0 && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

BOOL Move(const std::string& from, const std::string& to, DWORD flags) {
  return MoveFileExW(SystemPath(Path::FromUtf8(from)).c_str(), SystemPath(Path::FromUtf8(to)).c_str(), flags);
}

}  // namespace

struct OutputTree::State {
  std::string base;
  HANDLE root = INVALID_HANDLE_VALUE;
  // Every folder below the destination the run reached, held until its end,
  // by path ending in a separator.
  std::unordered_map<std::string, HANDLE> held;
  std::unordered_set<std::string> made;

  static std::string Key(std::string folder) {
    for (char& c : folder) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folder;
  }

  bool Within(const std::string& folder) const {
    if (folder.compare(0, base.size(), base) != 0) return false;
    const bool absolute = !folder.empty() && (folder[0] == '\\' || folder[0] == '/' || (folder.size() > 1 && folder[1] == ':'));
    return !base.empty() || !absolute;
  }

  // Reaches folder one part at a time, each part held before the next is
  // opened; false with the reason.
  bool Reach(const std::string& folder, bool make, std::string& reason) {
    if (!Within(folder)) {
      const Path outside = Path::FromUtf8(folder);
      if (folder.empty() || (make ? ForceDirs(outside) : DirExists(outside))) return true;
      reason = make ? LastErrorText() : "The system cannot find the path specified";
      return false;
    }
    if (root == INVALID_HANDLE_VALUE) {
      reason = "the destination cannot be opened";
      return false;
    }
    std::size_t start = base.size();
    for (std::size_t i = base.size(); i <= folder.size(); ++i) {
      const bool atEnd = i == folder.size();
      if (!atEnd && folder[i] != '\\' && folder[i] != '/') continue;
      const bool empty = i == start;
      start = i + 1;
      if (empty) continue;
      const std::string path = folder.substr(0, i);
      const std::string key = Key(path);
      if (held.count(key) != 0) continue;
      if (make && CreateDir(Path::FromUtf8(path))) made.insert(key);
      const HANDLE h = HoldFolder(path, FILE_FLAG_OPEN_REPARSE_POINT);
      if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        reason = error == ERROR_DIRECTORY ? kInTheWay : LastErrorText();
        return false;
      }
      if (!IsPlainFolder(h)) {
        CloseHandle(h);
        reason = kInTheWay;
        return false;
      }
      held.emplace(key, h);
    }
    return true;
  }

  static std::string Trimmed(const std::string& folder) {
    std::string path = folder;
    if (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
  }
};

OutputTree::OutputTree(const Path& base) : state_(std::make_unique<State>()) {
  state_->base = base.Utf8();
  // The destination itself is taken as it is, a junction included.
  state_->root = HoldFolder(base.Empty() ? std::string(".") : base.Utf8(), 0);
}

OutputTree::~OutputTree() {
  for (const auto& [path, h] : state_->held) CloseHandle(h);
  if (state_->root != INVALID_HANDLE_VALUE) CloseHandle(state_->root);
}

bool OutputTree::MakeFolders(const Path& folder, std::string& reason) {
  return state_->Reach(folder.Utf8(), true, reason);
}

bool OutputTree::Made(const Path& folder) const {
  return state_->made.count(State::Key(State::Trimmed(folder.Utf8()))) != 0;
}

NameInfo OutputTree::Look(const Path& name) {
  NameInfo info;
  std::string reason;
  if (!state_->Reach(name.Folder().Utf8(), false, reason)) return info;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(SystemPath(name).c_str(), GetFileExInfoStandard, &data)) return info;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return info;
  info.taken = true;
  info.link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  info.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  FILETIME local;
  WORD date, time;
  if (FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) && FileTimeToDosDateTime(&local, &date, &time)) {
    info.dosDateTime = static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
  }
  return info;
}

OutputTree::TempFile OutputTree::CreateTemp(const Path& folder, std::uint32_t /*permissions*/, std::string& reason) {
  // Workers of a parallel run make temporary files at the same time.
  static std::atomic<unsigned> counter{0};
  TempFile made;
  // The destination itself is held from the start: no look from a worker.
  if (folder.Utf8() != state_->base && !state_->Reach(folder.Utf8(), false, reason)) return made;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const Path candidate = folder + Path(".quv" + std::to_string(GetCurrentProcessId()) + "-" +
                                         std::to_string(++counter) + ".tmp");
    HANDLE h = CreateFileW(SystemPath(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      made.handle = reinterpret_cast<FileHandle>(h);
      made.name = candidate;
      return made;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  reason = LastErrorText();
  return made;
}

Placed OutputTree::Commit(const Path& temp, const Path& name, Replace rule, std::string& reason) {
  const std::string& from = temp.Utf8();
  const std::string& to = name.Utf8();
  if (!state_->Reach(name.Folder().Utf8(), false, reason)) return Placed::Failed;
  if (rule != Replace::Any) {
    if (Move(from, to, 0) != 0) return Placed::Done;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
      reason = LastErrorText();
      return Placed::Failed;
    }
    if (rule == Replace::None) return Placed::NameTaken;
    // Not every system refuses to replace a read-only file (Wine does not).
    if (Look(name).readOnly) {
      reason = "the file is read-only";
      return Placed::Failed;
    }
  }
  if (Move(from, to, MOVEFILE_REPLACE_EXISTING) != 0) return Placed::Done;
  reason = LastErrorText();
  // Windows keeps a read-only file: Any clears the attribute first.
  const DWORD attr = AttributesOf(name);
  // A link's attributes are never touched: only a plain file is made writable.
  const bool readOnly = attr != INVALID_FILE_ATTRIBUTES &&
                        (attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                        (attr & FILE_ATTRIBUTE_READONLY) != 0;
  if (rule != Replace::Any || !readOnly) return Placed::Failed;
  FileSetAttr(name, attr & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  if (Move(from, to, MOVEFILE_REPLACE_EXISTING) != 0) return Placed::Done;
  reason = LastErrorText();
  return Placed::Failed;
}

void OutputTree::Discard(const Path& temp) {
  if (FileDelete(temp)) return;
  // Windows keeps a read-only file, and stamping may have made it one.
  FileSetAttr(temp, FILE_ATTRIBUTE_NORMAL);
  FileDelete(temp);
}

Placed OutputTree::MakeLink(const Path& /*name*/, const std::string& /*target*/, Replace /*rule*/,
                            std::string& reason) {
  reason = "symbolic links are not made on this system";
  return Placed::Failed;
}

std::optional<std::string> ReadLink(const Path& /*name*/) { return std::nullopt; }

std::string GetCurrentDir() {
  char buf[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
  return n && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string GetDriveDir(std::uint8_t drive) {
  if (drive == 0) return GetCurrentDir();
  char drive_spec[3] = {static_cast<char>('A' + drive - 1), ':', 0};
  char buf[MAX_PATH + 1];
  char* file_part = nullptr;
  DWORD n = GetFullPathNameA(drive_spec, sizeof buf, buf, &file_part);
  return n && n < sizeof buf ? std::string(buf, n) : std::string(drive_spec) + "\\";
}

DriveType QueryDriveType(const std::string& rootPath) {
  if (seam_drive_type) return seam_drive_type(rootPath);
  switch (GetDriveTypeA(rootPath.c_str())) {
    case DRIVE_NO_ROOT_DIR: return DriveType::NoRootDir;
    case DRIVE_REMOVABLE: return DriveType::Removable;
    case DRIVE_FIXED: return DriveType::Fixed;
    case DRIVE_REMOTE: return DriveType::Remote;
    case DRIVE_CDROM: return DriveType::CdRom;
    case DRIVE_RAMDISK: return DriveType::RamDisk;
    default: return DriveType::Unknown;
  }
}

std::string GetVolumeLabel(const std::string& rootPath) {
  if (seam_volume_label) return seam_volume_label(rootPath);
  char label[15] = {};
  DWORD serial = 0, max_len = 0, flags = 0;
  if (!GetVolumeInformationA(rootPath.c_str(), label, 14, &serial, &max_len, &flags, nullptr, 0)) return std::string();
  return label;
}

void SetDriveSeam(std::function<DriveType(const std::string&)> driveType,
                  std::function<std::string(const std::string&)> volumeLabel) {
  seam_drive_type = std::move(driveType);
  seam_volume_label = std::move(volumeLabel);
}

std::string ConvertOemToAnsi(const std::string& text) {
  std::string out = text;
  if (!out.empty()) OemToCharBuffA(text.data(), out.data(), static_cast<DWORD>(out.size()));
  return out;
}

namespace {

// The code page of a character-set name as other tools write it: "cp936",
// "936", "gbk", "utf-8"; 0 when unknown.
UINT CodePageOf(std::string charset) {
  for (char& c : charset) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  static const struct {
    const char* name;
    UINT codePage;
  } kNamed[] = {{"gbk", 936},        {"gb2312", 936},   {"big5", 950},        {"shift_jis", 932}, {"sjis", 932},
                {"euc-kr", 949},     {"utf-8", 65001},  {"utf8", 65001},      {"latin1", 28591},  {"iso-8859-1", 28591},
                {"us-ascii", 20127}, {"ibm437", 437},   {"windows-1252", 1252}};
  for (const auto& named : kNamed) {
    if (charset == named.name) return named.codePage;
  }
  if (charset.rfind("cp", 0) == 0) charset.erase(0, 2);
  if (charset.rfind("windows-", 0) == 0) charset.erase(0, 8);
  if (charset.empty() || charset.find_first_not_of("0123456789") != std::string::npos || charset.size() > 5) return 0;
  const UINT codePage = static_cast<UINT>(std::stoul(charset));
  return IsValidCodePage(codePage) ? codePage : 0;
}

}  // namespace

std::optional<std::string> ConvertCharsetToUtf8(const std::string& text, const std::string& charset) {
  const UINT codePage = CodePageOf(charset);
  if (codePage == 0) return std::nullopt;
  bool lossless = true;
  return Narrow(Widen(text, codePage), CP_UTF8, lossless);
}

std::string ConvertFromCharset(const std::string& text, const std::string& charset) {
  const UINT codePage = CodePageOf(charset);
  if (codePage == 0) return text;
  bool lossless = true;
  return text.empty() ? text : Narrow(Widen(text, codePage), CP_ACP, lossless);
}

std::string ConvertFromUtf8(const std::string& text, bool& lossless) {
  lossless = true;
  return text.empty() ? text : Narrow(Widen(text, CP_UTF8), CP_ACP, lossless);
}

bool CharsetKnown(const std::string& charset) { return CodePageOf(charset) != 0; }

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

std::size_t LastCharStart(const std::string& text) {
  // Walk forward: in a double-byte code page only a forward walk knows
  // whether a byte is a trail byte.
  std::size_t last = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    last = i;
    if (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ++i;
  }
  return last;
}

void SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

bool IsTerminal(StdStream stream) {
  const DWORD which = stream == StdStream::Input    ? STD_INPUT_HANDLE
                      : stream == StdStream::Output ? STD_OUTPUT_HANDLE
                                                    : STD_ERROR_HANDLE;
  HANDLE h = GetStdHandle(which);
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode) != 0;
}

bool WriteStandardOutput(const void* data, std::size_t size) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(out, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

void WriteText(const Path& text) {
  std::fflush(stdout);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode) != 0) {
    const std::wstring wide = Widen(text.Utf8(), CP_UTF8);
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  const UINT codePage = GetConsoleOutputCP();
  const std::string bytes = codePage == CP_UTF8 ? text.Utf8() : text.SystemText();
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

}  // namespace quv::platform

#endif  // _WIN32
