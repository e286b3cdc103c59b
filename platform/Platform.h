// Operating-system calls the engine needs. Everything above this folder is
// portable; names use "\" as separator and the POSIX side converts them to "/"
// at the file-system boundary.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quv::platform {

#ifdef _WIN32
inline constexpr bool kIsWindows = true;
#else
inline constexpr bool kIsWindows = false;
#endif

// The operating system's form of an engine name ("\" becomes "/" on POSIX).
std::string NativePath(const std::string& name);

// A name handed to the file system: an engine name given in the system code
// page (what callers hold: DestDir, a name a handler chose) or composed
// from UTF-8 entry names, which on Windows may hold characters the code page
// has not. Kept as UTF-8 on Windows (the wide API takes it, with "\\?\"
// once it is too long for the plain form); on POSIX, whose names are bytes,
// both are the bytes as given.
class Path {
 public:
  Path() = default;
  Path(const std::string& systemText);  // NOLINT: every caller's names are these
  Path(const char* systemText) : Path(std::string(systemText)) {}  // NOLINT
  static Path FromUtf8(std::string utf8);

  const std::string& Utf8() const { return utf8_; }
  // In the system code page, for messages and events; on Windows a
  // character the code page lacks shows as "?".
  std::string SystemText() const;
  bool Empty() const { return utf8_.empty(); }
  // Up to and with its last separator ("" when it has none).
  Path Folder() const { return FromUtf8(utf8_.substr(0, LeafStart(utf8_))); }
  // Where the last part of a name starts: after its last "\" or "/" (0
  // without one). A loop of its own: find_last_of searches its set of
  // separators once for every byte.
  static std::size_t LeafStart(std::string_view name) {
    for (std::size_t at = name.size(); at > 0; --at) {
      if (name[at - 1] == '\\' || name[at - 1] == '/') return at;
    }
    return 0;
  }
  Path& operator+=(const Path& more) {
    utf8_ += more.utf8_;
    return *this;
  }
  bool operator==(const Path&) const = default;

 private:
  std::string utf8_;
};

inline Path operator+(Path a, const Path& b) { return a += b; }

// ---- files ---------------------------------------------------------------
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidHandle = -1;

// Open modes, numbered as the engine's callers use them.
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyRead = 0x0030;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;
inline constexpr std::uint16_t fmCreate = 0xFFFF;

// Opens (or with fmCreate creates/truncates) a file. On failure answers
// kInvalidHandle and puts the system's reason into *error when given.
FileHandle FileOpen(const Path& name, std::uint16_t mode, std::string* error = nullptr);
std::int32_t FileRead(FileHandle h, void* buffer, std::int32_t count);    // -1 on error
std::int32_t FileWrite(FileHandle h, const void* buffer, std::int32_t count);  // -1 on error
std::int64_t FileSeek(FileHandle h, std::int64_t offset, int origin);     // -1 on error
// Positioned transfers: at offset, without moving through a separate seek
// (pread/pwrite; ReadFile/WriteFile with an OVERLAPPED offset). -1 on error.
std::int32_t FileReadAt(FileHandle h, void* buffer, std::int32_t count, std::int64_t offset);
std::int32_t FileWriteAt(FileHandle h, const void* buffer, std::int32_t count, std::int64_t offset);
// The file's size; -1 when unknown.
std::int64_t FileSize(FileHandle h);
void FileClose(FileHandle h);
bool FileCommit(FileHandle h);  // FlushFileBuffers / fsync

// Modification time as a packed DOS date/time in local time; -1 if unknown.
std::int32_t FileGetDate(FileHandle h);
bool FileSetDate(FileHandle h, std::int32_t dosDateTime);
// Sets the modification time exactly: ticks of 100 ns since 1970-01-01 UTC.
bool FileSetUtcTime(FileHandle h, std::int64_t ticks);
// Same by name; -1 when the file does not exist.
std::int32_t FileAge(const Path& name);

// Windows attribute bits; the POSIX side maps read-only to the write bits.
inline constexpr std::uint32_t faReadOnly = 0x01;
inline constexpr std::uint32_t faHidden = 0x02;
inline constexpr std::uint32_t faSysFile = 0x04;
inline constexpr std::uint32_t faVolumeID = 0x08;
inline constexpr std::uint32_t faDirectory = 0x10;
inline constexpr std::uint32_t faArchive = 0x20;

// What a freshly written file takes from its entry.
struct FileStamp {
  std::optional<std::int64_t> utcTicks;  // exact time (FileSetUtcTime), else:
  std::int32_t dosDateTime = 0;          // local time in 2-second steps
  // Windows attribute bits (read-only, hidden, ...); none: left as made.
  std::optional<std::uint32_t> attributes;
  // POSIX permission bits, which take the place of the attributes there.
  std::optional<std::uint32_t> permissions;

  // The POSIX permissions to make the file with, so that it is never more
  // open while it is written than it will end (the umask may take more
  // away; no set-id bits ever): its own, or a read-only file's.
  std::uint32_t CreationPermissions() const {
    if (permissions) return *permissions & 0777;
    return attributes && (*attributes & faReadOnly) != 0 ? 0444 : kNewFilePermissions;
  }
  // What a file is made with when nothing asks for less; the umask applies.
  static constexpr std::uint32_t kNewFilePermissions = 0666;
};
// Gives the written file h (named name) its time and attributes and closes
// it. POSIX sets them on the open descriptor, its permissions only where
// they differ from madeWith, those it is known to have already; Windows
// sets the time through a handle of its own, since closing the written one
// may set it again.
void FileStampAndClose(FileHandle h, const Path& name, const FileStamp& stamp,
                       std::optional<std::uint32_t> madeWith = std::nullopt);

// -1 when the path does not exist.
std::int32_t FileGetAttr(const Path& name);
bool FileSetAttr(const Path& name, std::uint32_t attributes);
// POSIX permission bits (rwx for user, group, others); ignored on Windows,
// where only the attribute bits exist. Set-id and sticky bits are never set.
bool FileSetPermissions(const Path& name, std::uint32_t mode);

bool FileDelete(const Path& name);
bool RenameFile(const Path& from, const Path& to);
bool FileExists(const Path& name);
// Whether something other than a folder has this name, a link or a special
// file included, without following a link.
bool NameTaken(const Path& name);
bool DirExists(const Path& name);
bool CreateDir(const Path& name);
bool RemoveDir(const Path& name);
// Creates every missing folder along the path; answers whether it exists after.
bool ForceDirs(const Path& path);

// ---- an extraction's output ----------------------------------------------
// How a finished file may take its final name.
enum class Replace {
  None,      // only while the name is free: a file that appeared stays
  Writable,  // over anything but a read-only file
  Any,       // over anything, a read-only file included
};
enum class Placed { Done, NameTaken, Failed };

// What a name holds, the name itself looked at (a link is not followed).
struct NameInfo {
  bool taken = false;     // by something other than a folder
  bool readOnly = false;  // a file without write permission (attribute)
  std::int32_t dosDateTime = -1;
  bool link = false;      // a symbolic link
};

// The destination of an extraction run, held open while the run lasts. Its
// folders are reached from it one by one without following a link or
// other redirection (POSIX: directory descriptors; Windows: handles that
// also keep each folder from being moved or replaced), and files are
// created, looked at and moved into place only through them, so that
// nothing another user does to the destination meanwhile can send a write,
// a move or an attribute change outside it. A folder outside the
// destination (a handler's own choice) is taken by its path as it is.
// Names are engine names; folders end in a separator or are "".
// One thread at a time, except that CreateTemp and Discard in the
// destination itself may be called from any thread.
class OutputTree {
 public:
  // base: the destination ("" for the current folder, else ending in a separator).
  explicit OutputTree(const Path& base);
  ~OutputTree();
  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;

  // Reaches folder, making the missing ones; false with the reason.
  bool MakeFolders(const Path& folder, std::string& reason);
  // Whether this tree made folder (so nothing was in it before the run).
  bool Made(const Path& folder) const;
  NameInfo Look(const Path& name);
  // A new, empty file with an unused name in folder (which must exist),
  // made with permissions less what the umask takes (POSIX; Windows has
  // none); handle kInvalidHandle with the reason when it cannot be made.
  struct TempFile {
    FileHandle handle = kInvalidHandle;
    Path name;
    // The permissions it was made with, where they are known exactly:
    // POSIX, in a folder where the umask alone decides them.
    std::optional<std::uint32_t> permissions;
  };
  TempFile CreateTemp(const Path& folder, std::uint32_t permissions, std::string& reason);
  FileHandle CreateTemp(const Path& folder, Path& name, std::string& reason) {
    TempFile made = CreateTemp(folder, FileStamp::kNewFilePermissions, reason);
    if (made.handle != kInvalidHandle) name = std::move(made.name);
    return made.handle;
  }
  FileHandle CreateTemp(const Path& folder, std::string& name, std::string& reason) {
    Path made;
    const FileHandle h = CreateTemp(folder, made, reason);
    if (h != kInvalidHandle) name = made.SystemText();
    return h;
  }
  // Moves the closed file temp (in name's folder or the destination itself)
  // to name as rule allows; NameTaken only under Replace::None.
  Placed Commit(const Path& temp, const Path& name, Replace rule, std::string& reason);
  // Deletes a file CreateTemp made.
  void Discard(const Path& temp);
  // Makes name (in a folder that exists) a symbolic link to target, the
  // link's text as given, taking the name as rule allows. The link is made
  // under a temporary name and moved into place, so that nothing is ever
  // written through it. POSIX only: Windows answers Failed.
  Placed MakeLink(const Path& name, const std::string& target, Replace rule, std::string& reason);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The text of the symbolic link name (not followed); none when name is no link.
std::optional<std::string> ReadLink(const Path& name);

// The system's reason for the last failed call, as text.
std::string LastErrorText();
std::string GetCurrentDir();
// Current directory of a drive (0 = the current drive). POSIX has one tree.
std::string GetDriveDir(std::uint8_t drive);

// ---- drives and volumes -------------------------------------------------
enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

// rootPath such as "A:\"; anything else is judged by the path's own drive.
DriveType QueryDriveType(const std::string& rootPath);
// Volume label of the drive; empty when the query fails.
std::string GetVolumeLabel(const std::string& rootPath);

// Test seam: replaces the drive-type and volume-label answers (no removable
// disk exists on a build machine). Pass empty functions to restore the real ones.
void SetDriveSeam(std::function<DriveType(const std::string&)> driveType,
                  std::function<std::string(const std::string&)> volumeLabel);

// ---- text ----------------------------------------------------------------
// Converts a name from the OEM code page to the system (ANSI) code page:
// OemToCharA on Windows; code page 437 to UTF-8 on POSIX.
std::string ConvertOemToAnsi(const std::string& text);
// Text in the named character set ("cp936", "gbk", "cp437", "utf-8", ...)
// in the system code page; bytes that do not convert become "?". POSIX
// asks iconv, Windows its code-page conversion.
std::string ConvertFromCharset(const std::string& text, const std::string& charset);
// The same text in UTF-8 ("?" as above); none for a set the system does not know.
std::optional<std::string> ConvertCharsetToUtf8(const std::string& text, const std::string& charset);
bool CharsetKnown(const std::string& charset);
// UTF-8 text in the system code page (unchanged on POSIX, where that is
// UTF-8); lossless tells whether every character could be held there, the
// others having become "?".
std::string ConvertFromUtf8(const std::string& text, bool& lossless);
// Text in the system code page in UTF-8 (unchanged on POSIX).
std::string ConvertToUtf8(const std::string& text);
// Whether c starts a double-byte character in the system code page.
bool IsLeadByte(unsigned char c);
// Index of the first byte of the last character of text (text not empty).
std::size_t LastCharStart(const std::string& text);

// ---- process ---------------------------------------------------------------
void SleepMs(unsigned milliseconds);

// Whether a standard stream is attached to a terminal (a console on Windows).
enum class StdStream { Input, Output, Error };
bool IsTerminal(StdStream stream);
// Writes bytes to standard output as they are (no newline translation);
// false when the system refuses them (a closed pipe, a full disk).
bool WriteStandardOutput(const void* data, std::size_t size);
// Writes text to standard output (after what C's stdout holds) so that a
// terminal shows its characters: POSIX writes the bytes; Windows gives a
// console the wide characters, and anything else the console's output code
// page (UTF-8 after "chcp 65001", else the system code page, "?" for what
// it lacks).
void WriteText(const Path& text);

}  // namespace quv::platform
