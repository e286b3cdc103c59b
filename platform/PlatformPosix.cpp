// POSIX side of the platform layer: "\" names become "/" paths, the read-only
// attribute maps to the write permission bits, dates are local time.
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace quv::platform {

namespace {

std::string ToNative(const std::string& name) {
  std::string path = name;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::int32_t ToDos(time_t t) {
  struct tm tm {};
  if (localtime_r(&t, &tm) == nullptr) return -1;
  int year = tm.tm_year + 1900;
  if (year < 1980) return (1 << 21) | (1 << 16);  // 1980-01-01 00:00:00
  if (year > 2107) year = 2107;
  std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  std::uint32_t time = static_cast<std::uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return static_cast<std::int32_t>((date << 16) | time);
}

bool FromDos(std::int32_t dos, time_t& out) {
  auto v = static_cast<std::uint32_t>(dos);
  struct tm tm {};
  tm.tm_sec = static_cast<int>((v & 0x1F) * 2);
  tm.tm_min = static_cast<int>((v >> 5) & 0x3F);
  tm.tm_hour = static_cast<int>((v >> 11) & 0x1F);
  tm.tm_mday = static_cast<int>((v >> 16) & 0x1F);
  tm.tm_mon = static_cast<int>(((v >> 21) & 0x0F)) - 1;
  tm.tm_year = static_cast<int>((v >> 25) & 0x7F) + 80;
  tm.tm_isdst = -1;
  if (tm.tm_mday < 1 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
    return false;
  out = mktime(&tm);
  return out != static_cast<time_t>(-1);
}

std::function<DriveType(const std::string&)> seam_drive_type;
std::function<std::string(const std::string&)> seam_volume_label;

}  // namespace

std::string NativePath(const std::string& name) { return ToNative(name); }

// Names are bytes: both forms are the same.
Path::Path(const std::string& systemText) : utf8_(systemText) {}

Path Path::FromUtf8(std::string utf8) {
  Path path;
  path.utf8_ = std::move(utf8);
  return path;
}

std::string Path::SystemText() const { return utf8_; }

std::string ConvertToUtf8(const std::string& text) { return text; }

std::optional<std::string> ReadLink(const Path& name) {
  std::string target(4096, '\0');
  const ssize_t length = ::readlink(ToNative(name.Utf8()).c_str(), target.data(), target.size());
  if (length < 0) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

FileHandle FileOpen(const Path& name, std::uint16_t mode, std::string* error) {
  int flags = O_CLOEXEC;
  if (mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 3) {
      case 1: flags |= O_WRONLY; break;
      case 2: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  const std::string path = ToNative(name.Utf8());
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd >= 0) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      fd = -1;
      errno = EISDIR;
    }
  }
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return kInvalidHandle;
  }
  return fd;
}

namespace {

// Runs io(bytesDone, bytesLeft) until count bytes are moved, the data ends
// (io answers 0) or it fails; a signal's interruption is tried again.
// Answers the bytes moved, or -1 when it failed before moving any.
template <class Io>
std::int32_t TransferAll(std::int32_t count, Io io) {
  if (count <= 0) return 0;
  std::int32_t total = 0;
  while (total < count) {
    const ssize_t n = io(total, static_cast<size_t>(count - total));
    if (n < 0) {
      if (errno == EINTR) continue;
      return total > 0 ? total : -1;
    }
    if (n == 0) break;
    total += static_cast<std::int32_t>(n);
  }
  return total;
}

}  // namespace

std::int32_t FileRead(FileHandle h, void* buffer, std::int32_t count) {
  auto* p = static_cast<char*>(buffer);
  return TransferAll(count, [&](std::int32_t done, size_t left) { return ::read(static_cast<int>(h), p + done, left); });
}

std::int32_t FileWrite(FileHandle h, const void* buffer, std::int32_t count) {
  const auto* p = static_cast<const char*>(buffer);
  return TransferAll(count, [&](std::int32_t done, size_t left) { return ::write(static_cast<int>(h), p + done, left); });
}

std::int64_t FileSeek(FileHandle h, std::int64_t offset, int origin) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(static_cast<int>(h), static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

std::int32_t FileReadAt(FileHandle h, void* buffer, std::int32_t count, std::int64_t offset) {
  auto* p = static_cast<char*>(buffer);
  return TransferAll(count, [&](std::int32_t done, size_t left) {
    return ::pread(static_cast<int>(h), p + done, left, static_cast<off_t>(offset + done));
  });
}

std::int32_t FileWriteAt(FileHandle h, const void* buffer, std::int32_t count, std::int64_t offset) {
  const auto* p = static_cast<const char*>(buffer);
  return TransferAll(count, [&](std::int32_t done, size_t left) {
    return ::pwrite(static_cast<int>(h), p + done, left, static_cast<off_t>(offset + done));
  });
}

std::int64_t FileSize(FileHandle h) {
  struct stat st {};
  if (fstat(static_cast<int>(h), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

void FileClose(FileHandle h) {
  if (h != kInvalidHandle) ::close(static_cast<int>(h));
}

bool FileCommit(FileHandle h) { return ::fsync(static_cast<int>(h)) == 0; }

std::int32_t FileGetDate(FileHandle h) {
  struct stat st {};
  if (fstat(static_cast<int>(h), &st) != 0) return -1;
  return ToDos(st.st_mtime);
}

bool FileSetDate(FileHandle h, std::int32_t dosDateTime) {
  time_t t;
  if (!FromDos(dosDateTime, t)) return false;
  struct timespec times[2];
  times[0].tv_sec = t;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return futimens(static_cast<int>(h), times) == 0;
}

bool FileSetUtcTime(FileHandle h, std::int64_t ticks) {
  constexpr std::int64_t kPerSecond = 10000000;
  std::int64_t seconds = ticks / kPerSecond;
  std::int64_t rest = ticks % kPerSecond;
  if (rest < 0) {
    rest += kPerSecond;
    --seconds;
  }
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = static_cast<long>(rest * 100);
  times[1] = times[0];
  return futimens(static_cast<int>(h), times) == 0;
}

namespace {

// The mode the stamp gives the file fd, made with madeWith where that is
// known; none when it has that mode already. An archive's own permissions
// are taken as they are (the umask does not apply to them); a read-only
// file loses its write bits.
std::optional<mode_t> ModeToSet(int fd, const FileStamp& stamp, std::optional<std::uint32_t> madeWith) {
  if (stamp.permissions) {
    const auto wanted = static_cast<mode_t>(*stamp.permissions & 0777);
    if (madeWith == wanted) return std::nullopt;
    return wanted;
  }
  if (!stamp.attributes || (*stamp.attributes & faReadOnly) == 0) return std::nullopt;
  mode_t mode = 0;
  if (madeWith) {
    mode = static_cast<mode_t>(*madeWith);
  } else {
    struct stat st {};
    if (fstat(fd, &st) != 0) return std::nullopt;
    mode = st.st_mode & 07777;
  }
  constexpr mode_t kWrite = S_IWUSR | S_IWGRP | S_IWOTH;
  if ((mode & kWrite) == 0) return std::nullopt;
  return mode & static_cast<mode_t>(~kWrite);
}

}  // namespace

void FileStampAndClose(FileHandle h, const Path& /*name*/, const FileStamp& stamp,
                       std::optional<std::uint32_t> madeWith) {
  if (!stamp.utcTicks || !FileSetUtcTime(h, *stamp.utcTicks)) FileSetDate(h, stamp.dosDateTime);
  const int fd = static_cast<int>(h);
  if (const std::optional<mode_t> mode = ModeToSet(fd, stamp, madeWith)) fchmod(fd, *mode);
  FileClose(h);
}

std::int32_t FileAge(const Path& name) {
  struct stat st {};
  if (stat(ToNative(name.Utf8()).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return ToDos(st.st_mtime);
}

std::int32_t FileGetAttr(const Path& name) {
  struct stat st {};
  if (stat(ToNative(name.Utf8()).c_str(), &st) != 0) return -1;
  std::int32_t attr = 0;
  if (S_ISDIR(st.st_mode)) attr |= faDirectory;
  else attr |= faArchive;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attr |= faReadOnly;
  return attr;
}

bool FileSetAttr(const Path& name, std::uint32_t attributes) {
  const std::string path = ToNative(name.Utf8());
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & faReadOnly) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    // Clearing read-only gives back the owner's write permission (as umask 022 would).
    mode |= S_IWUSR;
  }
  return chmod(path.c_str(), mode) == 0;
}

bool FileSetPermissions(const Path& name, std::uint32_t mode) {
  return chmod(ToNative(name.Utf8()).c_str(), static_cast<mode_t>(mode & 0777)) == 0;
}

bool FileDelete(const Path& name) { return ::unlink(ToNative(name.Utf8()).c_str()) == 0; }

bool RenameFile(const Path& from, const Path& to) {
  return ::rename(ToNative(from.Utf8()).c_str(), ToNative(to.Utf8()).c_str()) == 0;
}

bool FileExists(const Path& name) {
  struct stat st {};
  return stat(ToNative(name.Utf8()).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool NameTaken(const Path& name) {
  struct stat st {};
  return lstat(ToNative(name.Utf8()).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirExists(const Path& name) {
  struct stat st {};
  return stat(ToNative(name.Utf8()).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const Path& name) { return ::mkdir(ToNative(name.Utf8()).c_str(), 0777) == 0; }

bool RemoveDir(const Path& name) { return ::rmdir(ToNative(name.Utf8()).c_str()) == 0; }

bool ForceDirs(const Path& path) {
  std::string p = ToNative(path.Utf8());
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty()) return false;
  if (DirExists(p)) return true;
  auto slash = p.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!ForceDirs(p.substr(0, slash))) return false;
  }
  return ::mkdir(p.c_str(), 0777) == 0 || DirExists(p);
}

namespace {

constexpr char kInTheWay[] = "a link or file is in the way";

// A folder below parent, never through a link.
int OpenFolderAt(int parent, const char* name) {
  return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Whether a file made in the folder gets the permissions asked for less
// the umask, as it does unless a default ACL decides them instead.
bool UmaskRules(int folder) {
  if (::fgetxattr(folder, "system.posix_acl_default", nullptr, 0) >= 0) return false;
  return errno == ENODATA || errno == ENOTSUP;
}

// The process's umask, read where the system tells it without a change:
// umask() sets it, if only for a moment, for every thread. None elsewhere.
std::optional<mode_t> CurrentUmask() {
  const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char status[4096];
  const std::int32_t length = FileRead(fd, status, sizeof status - 1);
  ::close(fd);
  if (length <= 0) return std::nullopt;
  status[length] = '\0';
  constexpr char kField[] = "\nUmask:";
  const char* field = std::strstr(status, kField);
  if (field == nullptr) return std::nullopt;
  const char* digits = field + sizeof kField - 1;
  char* end = nullptr;
  const unsigned long mask = std::strtoul(digits, &end, 8);
  if (end == digits || mask > 0777) return std::nullopt;
  return static_cast<mode_t>(mask);
}

// Moves without replacing: renameat2 where the kernel and the file system
// have it, else a hard link (which never replaces) and the old name's removal.
int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
  static std::atomic<bool> noRenameat2{false};
  if (!noRenameat2.load(std::memory_order_relaxed)) {
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != ENOSYS && errno != EINVAL) return -1;
    if (errno == ENOSYS) noRenameat2 = true;
  }
  if (::linkat(fromDir, from, toDir, to, 0) != 0) return -1;
  ::unlinkat(fromDir, from, 0);
  return 0;
}

// An engine name as its folder's part and the file name in it, which ends
// the whole name and so is a C string of its own.
struct SplitName {
  explicit SplitName(const std::string& name)
      : folder(name.data(), Path::LeafStart(name)), leaf(name.c_str() + folder.size()) {}
  std::string_view folder;
  const char* leaf;
};

// A temporary name, unique among this process's: workers of a parallel
// run make them at the same time.
struct TempLeaf {
  TempLeaf() {
    static std::atomic<unsigned> counter{0};
    // Asked once: the system answers it anew each time.
    static const std::string prefix = ".quv" + std::to_string(::getpid()) + "-";
    char* end = std::copy(prefix.begin(), prefix.end(), text);
    end = std::to_chars(end, text + sizeof text - sizeof kSuffix, ++counter).ptr;
    std::memcpy(end, kSuffix, sizeof kSuffix);
  }
  static constexpr char kSuffix[] = ".tmp";
  char text[64];
};

}  // namespace

struct OutputTree::State {
  // A folder held open, and what the run knows of it.
  struct Folder {
    std::string name;  // in its parent
    int fd = -1;
    bool made = false;  // by this tree: nothing was in it before the run
    // A new file there gets the permissions asked for less the umask.
    bool umaskRules = false;
  };

  std::string base;
  Folder root;
  int rootError = 0;
  std::optional<mode_t> umask;  // as the run started; none when unknown
  // The folders of the last path reached below the destination, outermost
  // first, and that path as it was asked for: entries come grouped by
  // folder, so most need neither a system call nor a look at their path.
  std::vector<Folder> path;
  std::string pathAsked;
  bool pathValid = false;
  // The last folder reached outside the destination.
  std::string outsidePath;
  Folder outside;
  // Paths below the destination ("a/b") of the folders this tree made.
  std::unordered_set<std::string> made;

  bool Within(std::string_view folder) const {
    if (folder.substr(0, base.size()) != base) return false;
    // From the current folder, an absolute name is elsewhere.
    return !base.empty() || folder.empty() || (folder[0] != '/' && folder[0] != '\\');
  }

  // Calls part(name) for the folder's parts below the destination ("." and
  // empty ones dropped) while it answers true.
  template <class Part>
  void ForEachPart(std::string_view folder, Part part) const {
    const std::string_view rest = folder.substr(base.size());
    std::size_t start = 0;
    for (std::size_t at = 0; at <= rest.size(); ++at) {
      if (at < rest.size() && rest[at] != '\\' && rest[at] != '/') continue;
      const std::string_view name = rest.substr(start, at - start);
      if (!name.empty() && name != "." && !part(name)) return;
      start = at + 1;
    }
  }

  // The folder's path below the destination as made keeps it.
  std::string Joined(std::string_view folder) const {
    std::string joined;
    ForEachPart(folder, [&](std::string_view name) {
      if (!joined.empty()) joined += '/';
      joined += name;
      return true;
    });
    return joined;
  }

  const Folder& Deepest() const { return path.empty() ? root : path.back(); }

  void KeepFirst(std::size_t count) {
    while (path.size() > count) {
      ::close(path.back().fd);
      path.pop_back();
    }
  }

  // The folder, made first when make; null with the reason.
  const Folder* Reach(std::string_view folder, bool make, std::string& reason) {
    if (pathValid && folder == pathAsked) return &Deepest();
    if (!Within(folder)) return ReachOutside(folder, make, reason);
    if (root.fd < 0) {
      reason = std::strerror(rootError);
      return nullptr;
    }
    pathValid = false;
    std::size_t depth = 0;
    std::string joined;
    bool reached = true;
    ForEachPart(folder, [&](std::string_view name) {
      joined += joined.empty() ? "" : "/";
      joined += name;
      if (depth < path.size() && path[depth].name == name) {
        ++depth;
        return true;
      }
      KeepFirst(depth);
      reached = Open(name, joined, make, reason);
      ++depth;
      return reached;
    });
    if (!reached) return nullptr;
    KeepFirst(depth);
    pathAsked.assign(folder);
    pathValid = true;
    return &Deepest();
  }

  // Holds name, in the deepest folder held, too, made first when make;
  // false with the reason.
  bool Open(std::string_view name, const std::string& joined, bool make, std::string& reason) {
    const Folder& parent = Deepest();
    Folder folder{std::string(name)};
    const char* leaf = folder.name.c_str();
    // In a folder this run made, only what the run made can be there: the
    // name is made without a look first.
    const bool makeFirst = make && parent.made;
    folder.fd = makeFirst ? -1 : OpenFolderAt(parent.fd, leaf);
    bool madeNow = false;
    if (folder.fd < 0 && make && (makeFirst || errno == ENOENT)) {
      madeNow = ::mkdirat(parent.fd, leaf, 0777) == 0;
      if (!madeNow && errno != EEXIST) {
        reason = std::strerror(errno);
        return false;
      }
      // Made now, or by the run or someone else before: opened like any
      // other, never through a link.
      folder.fd = OpenFolderAt(parent.fd, leaf);
    }
    if (folder.fd < 0) {
      reason = errno == ELOOP || errno == ENOTDIR ? kInTheWay : std::strerror(errno);
      return false;
    }
    if (madeNow) made.insert(joined);
    folder.made = madeNow || made.count(joined) != 0;
    // A folder made here takes its parent's default ACL, if any.
    folder.umaskRules = madeNow ? parent.umaskRules : UmaskRules(folder.fd);
    path.push_back(std::move(folder));
    return true;
  }

  const Folder* ReachOutside(std::string_view folder, bool make, std::string& reason) {
    if (outside.fd >= 0 && outsidePath == folder) return &outside;
    if (outside.fd >= 0) ::close(outside.fd);
    outsidePath.assign(folder);
    const std::string native = folder.empty() ? "." : ToNative(outsidePath);
    if (make) ForceDirs(native);
    outside.fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (outside.fd < 0) {
      reason = std::strerror(errno);
      return nullptr;
    }
    outside.umaskRules = UmaskRules(outside.fd);
    return &outside;
  }

  // The destination itself is reached without the cache, from any thread.
  const Folder* ReachForTemp(std::string_view folder, std::string& reason) {
    return folder == base && root.fd >= 0 ? &root : Reach(folder, false, reason);
  }
};

OutputTree::OutputTree(const Path& base) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.base = base.Utf8();
  // The destination itself is taken as it is, a link included.
  const std::string root = base.Empty() ? "." : ToNative(base.Utf8());
  state.root.fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  state.rootError = errno;
  if (state.root.fd >= 0) state.root.umaskRules = UmaskRules(state.root.fd);
  state.umask = CurrentUmask();
}

OutputTree::~OutputTree() {
  state_->KeepFirst(0);
  if (state_->outside.fd >= 0) ::close(state_->outside.fd);
  if (state_->root.fd >= 0) ::close(state_->root.fd);
}

bool OutputTree::MakeFolders(const Path& folder, std::string& reason) {
  return state_->Reach(folder.Utf8(), true, reason) != nullptr;
}

bool OutputTree::Made(const Path& folder) const {
  const State& state = *state_;
  if (state.pathValid && folder.Utf8() == state.pathAsked) return state.Deepest().made;
  if (!state.Within(folder.Utf8())) return false;
  const std::string joined = state.Joined(folder.Utf8());
  return !joined.empty() && state.made.count(joined) != 0;
}

NameInfo OutputTree::Look(const Path& name) {
  NameInfo info;
  const SplitName split(name.Utf8());
  std::string reason;
  const State::Folder* folder = state_->Reach(split.folder, false, reason);
  struct stat st {};
  if (folder == nullptr || ::fstatat(folder->fd, split.leaf, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) {
    return info;
  }
  info.taken = true;
  info.link = S_ISLNK(st.st_mode);
  info.readOnly = S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  info.dosDateTime = ToDos(st.st_mtime);
  return info;
}

OutputTree::TempFile OutputTree::CreateTemp(const Path& folder, std::uint32_t permissions, std::string& reason) {
  TempFile made;
  const State::Folder* in = state_->ReachForTemp(folder.Utf8(), reason);
  if (in == nullptr) return made;
  const auto mode = static_cast<mode_t>(permissions & 0777);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const TempLeaf leaf;
    const int fd = ::openat(in->fd, leaf.text, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      made.handle = fd;
      std::string name;
      name.reserve(folder.Utf8().size() + sizeof leaf.text);
      name.append(folder.Utf8()).append(leaf.text);
      made.name = Path::FromUtf8(std::move(name));
      if (in->umaskRules && state_->umask) made.permissions = mode & ~*state_->umask;
      return made;
    }
    if (errno != EEXIST) break;
  }
  reason = std::strerror(errno);
  return made;
}

Placed OutputTree::Commit(const Path& temp, const Path& name, Replace rule, std::string& reason) {
  const SplitName from(temp.Utf8());
  const SplitName to(name.Utf8());
  const State::Folder* toFolder = state_->Reach(to.folder, false, reason);
  if (toFolder == nullptr) return Placed::Failed;
  const int toFd = toFolder->fd;
  const State::Folder* fromFolder = from.folder == to.folder ? toFolder : state_->ReachForTemp(from.folder, reason);
  if (fromFolder == nullptr) return Placed::Failed;
  const int fromFd = fromFolder->fd;
  if (rule != Replace::Any) {
    if (RenameNoReplace(fromFd, from.leaf, toFd, to.leaf) == 0) return Placed::Done;
    if (errno != EEXIST) {
      reason = std::strerror(errno);
      return Placed::Failed;
    }
    if (rule == Replace::None) return Placed::NameTaken;
    // The rename would ignore the file's mode; a read-only file is kept as
    // it is on Windows.
    if (Look(name).readOnly) {
      reason = "the file is read-only";
      return Placed::Failed;
    }
  }
  if (::renameat(fromFd, from.leaf, toFd, to.leaf) == 0) return Placed::Done;
  reason = std::strerror(errno);
  return Placed::Failed;
}

void OutputTree::Discard(const Path& temp) {
  const SplitName split(temp.Utf8());
  std::string reason;
  const State::Folder* folder = state_->ReachForTemp(split.folder, reason);
  if (folder != nullptr) ::unlinkat(folder->fd, split.leaf, 0);
}

Placed OutputTree::MakeLink(const Path& name, const std::string& target, Replace rule, std::string& reason) {
  const SplitName split(name.Utf8());
  const std::string_view leaf = split.leaf;
  if (leaf.empty() || leaf == "." || leaf == ".." || target.empty() || target.find('\0') != std::string::npos) {
    reason = "not a name a link can take";
    return Placed::Failed;
  }
  const State::Folder* folder = state_->Reach(split.folder, false, reason);
  if (folder == nullptr) return Placed::Failed;
  const int dirFd = folder->fd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const TempLeaf temp;
    if (::symlinkat(target.c_str(), dirFd, temp.text) != 0) {
      if (errno == EEXIST) continue;
      reason = std::strerror(errno);
      return Placed::Failed;
    }
    const Placed placed = Commit(Path(std::string(split.folder) + temp.text), name, rule, reason);
    if (placed != Placed::Done) ::unlinkat(dirFd, temp.text, 0);
    return placed;
  }
  reason = std::strerror(EEXIST);
  return Placed::Failed;
}

std::string LastErrorText() { return std::strerror(errno); }

std::string GetCurrentDir() {
  char buf[4096];
  if (::getcwd(buf, sizeof buf) == nullptr) return std::string();
  return buf;
}

std::string GetDriveDir(std::uint8_t /*drive*/) { return GetCurrentDir(); }

DriveType QueryDriveType(const std::string& rootPath) {
  if (seam_drive_type) return seam_drive_type(rootPath);
  return DriveType::Fixed;
}

std::string GetVolumeLabel(const std::string& rootPath) {
  if (seam_volume_label) return seam_volume_label(rootPath);
  return std::string();
}

void SetDriveSeam(std::function<DriveType(const std::string&)> driveType,
                  std::function<std::string(const std::string&)> volumeLabel) {
  seam_drive_type = std::move(driveType);
  seam_volume_label = std::move(volumeLabel);
}

namespace {
// Code page 437, bytes 0x80-0xFF, as Unicode code points.
constexpr std::uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
}  // namespace

std::string ConvertOemToAnsi(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    std::uint16_t u = kCp437High[c - 0x80];
    if (u < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (u >> 12)));
      out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  return out;
}

namespace {

// One iconv conversion to UTF-8, closed with its owner.
class ToUtf8 {
 public:
  explicit ToUtf8(const std::string& charset) : cd_(::iconv_open("UTF-8", charset.c_str())) {}
  ~ToUtf8() {
    if (Usable()) ::iconv_close(cd_);
  }
  ToUtf8(const ToUtf8&) = delete;
  ToUtf8& operator=(const ToUtf8&) = delete;
  bool Usable() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  std::string Convert(const std::string& text) {
    std::string out;
    std::string input = text;
    char* in = input.data();
    std::size_t inLeft = input.size();
    char buffer[256];
    while (inLeft > 0) {
      char* next = buffer;
      std::size_t room = sizeof buffer;
      const std::size_t done = ::iconv(cd_, &in, &inLeft, &next, &room);
      out.append(buffer, static_cast<std::size_t>(next - buffer));
      if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
        // A byte that starts no character of the set, or a cut-off one.
        out.push_back('?');
        ++in;
        --inLeft;
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::optional<std::string> ConvertCharsetToUtf8(const std::string& text, const std::string& charset) {
  ToUtf8 conversion(charset);
  if (!conversion.Usable()) return std::nullopt;
  return conversion.Convert(text);
}

std::string ConvertFromCharset(const std::string& text, const std::string& charset) {
  return ConvertCharsetToUtf8(text, charset).value_or(text);
}

bool CharsetKnown(const std::string& charset) { return !charset.empty() && ToUtf8(charset).Usable(); }

std::string ConvertFromUtf8(const std::string& text, bool& lossless) {
  lossless = true;
  return text;
}

// UTF-8 has no lead byte whose trail could be mistaken for ASCII.
bool IsLeadByte(unsigned char /*c*/) { return false; }

std::size_t LastCharStart(const std::string& text) {
  std::size_t i = text.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
  return i;
}

void SleepMs(unsigned milliseconds) { ::usleep(milliseconds * 1000u); }

bool IsTerminal(StdStream stream) {
  const int fd = stream == StdStream::Input ? STDIN_FILENO : stream == StdStream::Output ? STDOUT_FILENO : STDERR_FILENO;
  return ::isatty(fd) != 0;
}

bool WriteStandardOutput(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void WriteText(const Path& text) { std::fwrite(text.Utf8().data(), 1, text.Utf8().size(), stdout); }

}  // namespace quv::platform

#endif  // !_WIN32
