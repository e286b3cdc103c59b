// quvunzip: the engine's command-line tool. Lists, tests or extracts the
// entries of a ZIP archive with TUnZip.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/Signals.h"
#include "platform/Threads.h"
#include "platform/Ui.h"
#include "unzip/UnZip.h"
#include "unzip/WinZipAes.h"
#include "zip/Exception.h"
#include "zip/Wildcard.h"

namespace quv::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitEntries = 1;
constexpr int kExitArchive = 2;
constexpr int kExitUsage = 3;

const char kUsage[] =
    "usage: quvunzip [options] ARCHIVE [PATTERN ...] [-x PATTERN ...]\n"
    "  -l          list entries (name, sizes, method, date, CRC), extract nothing\n"
    "  -v          list verbosely: also the compression ratio, entry comments and the archive comment\n"
    "  -z          show the archive comment only\n"
    "  -t          test: decode every selected entry and check its CRC, write nothing\n"
    "  -p          write the selected entries' contents to standard output, nothing to disk\n"
    "  -d DIR      destination folder (default: the current folder)\n"
    "  -x PATTERN  leave out the entries matching the patterns that follow\n"
    "  -o          overwrite existing files without asking, read-only ones too\n"
    "  -n          never overwrite existing files\n"
    "  -j          do not recreate the entries' folders\n"
    "  -P PASSWORD password for encrypted entries\n"
    "  -O CHARSET  character set of names without the UTF-8 flag (e.g. cp936, gbk, cp437)\n"
    "  -B          rebuild the directory from the local headers when the archive has no usable end record\n"
    "  -q          quiet: no progress or file lines (errors are still shown)\n"
    "  -T N        decode on N threads (default: one per processor; 1: on this thread alone)\n"
    "  -y, --absolute-links  also restore links whose target is absolute or leaves the destination\n"
    "  -h, --help  show this help\n"
    "  --version   show the version\n"
    "Patterns select entries by wildcard against their stored path; none selects every entry.\n"
    "Exit status: 0 all well, 1 an entry skipped or failing its check or a pattern matching nothing,\n"
    "2 the archive could not be read or a file could not be written, 3 usage.\n";

struct Options {
  bool help = false;
  bool version = false;
  bool list = false;
  bool verbose = false;
  bool commentOnly = false;
  bool pipe = false;
  bool test = false;
  bool overwrite = false;
  bool never = false;
  bool junkPaths = false;
  bool assumeBad = false;
  bool quiet = false;
  bool hasPassword = false;
  bool absoluteLinks = false;
  unsigned threads = 0;  // 0: one per processor
  std::string password;
  std::string charset;
  std::string destDir;
  std::string archive;
  std::vector<std::string> patterns;
  std::vector<std::string> excludes;
};

// Bytes of the well-formed UTF-8 character of two to four bytes that starts
// at text[at], or 0.
std::size_t Utf8SequenceSize(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t size = 0;
  unsigned char low = 0x80;  // the range of the byte after the lead
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  if (size == 0 || at + size > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = at + 2; i < at + size; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return size;
}

// What a C1 control (0x80 to 0x9F: 0x9B is a terminal's one-byte CSI) is
// at text[at]: 2 for one written as a UTF-8 character (U+0080 to U+009F),
// 1 for one as a byte of its own (8-bit text, or a byte that belongs to no
// UTF-8 character), 0 for none. Windows consoles read those bytes as
// characters of their code page (the euro sign, quotes, letters).
std::size_t C1ControlSize(const std::string& text, std::size_t at) {
  if (platform::kIsWindows) return 0;
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead == 0xC2 && Utf8SequenceSize(text, at) == 2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F) return 2;
  return lead >= 0x80 && lead <= 0x9F ? 1 : 0;
}

// Bytes of the character at text[at] that holds no control character: a
// whole UTF-8 character never loses its continuation bytes (0x80 to 0xBF)
// to the C1 test.
std::size_t PlainCharSize(const std::string& text, std::size_t at) {
  const std::size_t utf8 = Utf8SequenceSize(text, at);
  return utf8 != 0 ? utf8 : 1;
}

// Whether text holds only printable ASCII, which is shown as it is.
bool PlainAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Text from the archive as it may reach a terminal: C0 control characters
// shown as ^X (ESC as ^[, DEL as ^?) and C1 ones as \xNN (a byte) or
// \u00NN (a UTF-8 character), so that no escape sequence in a name or
// comment acts on the terminal. Line breaks and tabs of comments stay; a
// carriage return stays only as part of a CR LF line break, since alone it
// would let what follows it hide what came before.
std::string Printable(const std::string& text, bool keepLineBreaks = false) {
  if (PlainAscii(text)) return text;
  std::string out;
  out.reserve(text.size());
  char hex[8];
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const auto byte = static_cast<unsigned char>(c);
    const bool crLf = c == '\r' && at + 1 < text.size() && text[at + 1] == '\n';
    const bool layout = keepLineBreaks && (c == '\n' || c == '\t' || crLf);
    if ((byte < 0x20 || byte == 0x7F) && !layout) {
      out.push_back('^');
      out.push_back(byte == 0x7F ? '?' : static_cast<char>(byte + '@'));
      ++at;
      continue;
    }
    const std::size_t c1 = C1ControlSize(text, at);
    if (c1 != 0) {
      const unsigned code = static_cast<unsigned char>(text[at + c1 - 1]);
      std::snprintf(hex, sizeof hex, c1 == 1 ? "\\x%02X" : "\\u%04X", code);
      out += hex;
      at += c1;
      continue;
    }
    const std::size_t size = PlainCharSize(text, at);
    out.append(text, at, size);
    at += size;
  }
  return out;
}

// Entry names as users write them: "/" between folders.
std::string Shown(std::string name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return Printable(name);
}

// An entry's name as a listing shows it: from its UTF-8 form where it has
// one, which a terminal may show whole where the system code page cannot.
platform::Path ShownName(const TZipHeaderInfo& e) {
  const std::optional<std::string> utf8 = e.Utf8Path();
  return utf8 ? platform::Path::FromUtf8(Shown(*utf8)) : platform::Path(Shown(e.StoredPath()));
}

std::string ToEngine(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return name;
}

std::string DosDate(std::uint32_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", ((v >> 25) & 0x7F) + 1980, (v >> 21) & 0x0F,
                (v >> 16) & 0x1F, (v >> 11) & 0x1F, (v >> 5) & 0x3F);
  return buf;
}

std::string Hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

// How a listing marks an encrypted entry: the AES key size, or the
// traditional cipher.
std::string EncryptionNote(const TZipHeaderInfo& e) {
  if (!e.IsEncrypted()) return "";
  const std::optional<WinZipAesField> aes = WinZipAesOf(e);
  return aes ? " (AES-" + std::to_string(aes->KeyLength() * 8) + ")" : " (encrypted)";
}

// TUnZip with access to its directory for the listing and the messages.
class Extractor : public TUnZip {
 public:
  const TZipHeaderInfo& Entry(std::int32_t index) const { return *CheckedEntry(index); }
};

// One answer the terminal offers: shown as label, typed as letter or word.
struct Choice {
  const char* label;
  const char* letter;
  const char* word;
  platform::Answer answer;
};

const std::vector<Choice>& ChoicesFor(platform::Buttons buttons) {
  using platform::Answer;
  static const std::vector<Choice> okCancel{{"[o]k", "o", "ok", Answer::Ok}, {"[c]ancel", "c", "cancel", Answer::Cancel}};
  static const std::vector<Choice> yesNo{{"[y]es", "y", "yes", Answer::Yes}, {"[n]o", "n", "no", Answer::No}};
  static const std::vector<Choice> yesNoAll{{"[y]es", "y", "yes", Answer::Yes},
                                            {"[n]o", "n", "no", Answer::No},
                                            {"[A]ll", "A", "all", Answer::YesToAll},
                                            {"[N]one", "N", "none", Answer::NoToAll}};
  if (buttons == platform::Buttons::OkCancel) return okCancel;
  return buttons == platform::Buttons::YesNo ? yesNo : yesNoAll;
}

// What the engine asks (replace a file? insert a disk?) is asked on the
// terminal; without one the answer is no. Its messages go to stderr as one
// line naming the entry being extracted.
class ConsoleQuestions final : public platform::UserInterface {
 public:
  // The entry being extracted as messages name it ("" for none), asked
  // for only when a message needs it.
  std::function<std::string()> currentEntry;
  // A progress line is on the terminal and must be ended before a message.
  std::function<void()> breakProgress;

  platform::Answer ShowMessage(const std::string& text, const std::string& caption,
                               platform::Buttons buttons) override {
    if (breakProgress) breakProgress();
    if (buttons == platform::Buttons::Ok) {
      const std::string entry = currentEntry ? currentEntry() : std::string();
      std::cerr << "quvunzip: " << (entry.empty() ? std::string() : entry + ": ") << text << '\n';
      return platform::Answer::Ok;
    }
    const bool interactive = platform::IsTerminal(platform::StdStream::Input) &&
                             platform::IsTerminal(platform::StdStream::Error);
    const platform::Answer refusal =
        buttons == platform::Buttons::OkCancel ? platform::Answer::Cancel : platform::Answer::No;
    if (!interactive) return refusal;
    const std::string head = caption.empty() ? text : text + " (" + caption + ")";
    const std::vector<Choice>& choices = ChoicesFor(buttons);
    std::string prompt;
    for (const Choice& choice : choices) prompt += (prompt.empty() ? " " : ", ") + std::string(choice.label);
    for (;;) {
      std::cerr << head << prompt << ": " << std::flush;
      std::string line;
      if (!std::getline(std::cin, line)) return refusal;
      for (const Choice& choice : choices) {
        if (line == choice.letter || line == choice.word) return choice.answer;
      }
    }
  }
  bool PickFile(const std::string&, const std::string&, const std::string&, std::string&) override { return false; }
  bool PickFolder(const std::string&, std::string&) override { return false; }
  platform::Cursor SetCursor(platform::Cursor cursor) override {
    const platform::Cursor old = cursor_;
    cursor_ = cursor;
    return old;
  }
  void ProcessMessages() override {}

 private:
  platform::Cursor cursor_ = platform::Cursor::Default;
};

// Answers the option's value (attached, as in -dDIR, or the next argument).
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, std::size_t& pos, std::string& value) {
  const std::string& arg = args[i];
  if (pos + 1 < arg.size()) {
    value = arg.substr(pos + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
  } else {
    return false;
  }
  pos = arg.size();
  return true;
}

bool ParseArgs(const std::vector<std::string>& args, Options& o, std::string& error) {
  bool optionsEnded = false;
  bool haveArchive = false;
  bool excluding = false;  // after -x, names are patterns to leave out
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && (arg == "--help" || arg == "--version")) {
      (arg == "--help" ? o.help : o.version) = true;
      continue;
    }
    if (!optionsEnded && arg == "--absolute-links") {
      o.absoluteLinks = true;
      continue;
    }
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (!haveArchive) {
        o.archive = arg;
        haveArchive = true;
      } else {
        (excluding ? o.excludes : o.patterns).push_back(arg);
      }
      continue;
    }
    if (arg.rfind("--", 0) == 0) {
      error = "unknown option " + arg;
      return false;
    }
    excluding = false;
    for (std::size_t pos = 1; pos < arg.size(); ++pos) {
      switch (arg[pos]) {
        case 'l': o.list = true; break;
        case 'v': o.list = o.verbose = true; break;
        case 'z': o.commentOnly = true; break;
        case 't': o.test = true; break;
        case 'p': o.pipe = true; break;
        case 'x': excluding = true; break;
        case 'o': o.overwrite = true; break;
        case 'n': o.never = true; break;
        case 'j': o.junkPaths = true; break;
        case 'B': o.assumeBad = true; break;
        case 'q': o.quiet = true; break;
        case 'y': o.absoluteLinks = true; break;
        case 'h': o.help = true; break;
        case 'd':
          if (!TakeValue(args, i, pos, o.destDir) || o.destDir.empty()) {
            error = "-d needs a folder";
            return false;
          }
          break;
        case 'O':
          if (!TakeValue(args, i, pos, o.charset) || !platform::CharsetKnown(o.charset)) {
            error = "-O needs a character set this system knows (e.g. cp936, gbk, cp437)";
            return false;
          }
          break;
        case 'T': {
          std::string count;
          if (!TakeValue(args, i, pos, count) || count.empty() || count.size() > 3 ||
              count.find_first_not_of("0123456789") != std::string::npos || std::stoul(count) == 0) {
            error = "-T needs a number of threads (1 to 999)";
            return false;
          }
          o.threads = static_cast<unsigned>(std::stoul(count));
          break;
        }
        case 'P':
          if (!TakeValue(args, i, pos, o.password)) {
            error = "-P needs a password";
            return false;
          }
          o.hasPassword = true;
          break;
        default:
          error = std::string("unknown option -") + arg[pos];
          return false;
      }
    }
  }
  if (o.help || o.version) return true;
  if (!haveArchive) {
    error = "no archive given";
    return false;
  }
  if (o.overwrite && o.never) {
    error = "-o and -n exclude each other";
    return false;
  }
  if (o.list + o.test + o.pipe + o.commentOnly > 1) {
    error = "-l (-v), -t, -p and -z exclude each other";
    return false;
  }
  return true;
}

// The engine's DestDir for a folder given on the command line: without its
// trailing separators, and the root as "\." (an empty DestDir would be the
// current folder).
std::string DestinationOf(const std::string& given) {
  if (given.empty()) return ".";
  std::string dir = ToEngine(given);
  while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  return dir.empty() ? std::string("\\.") : dir;
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& storedPath) {
  for (const std::string& p : patterns) {
    if (WildcardMatches(ToEngine(p), storedPath)) return true;
  }
  return false;
}

bool Selected(const Options& o, const std::string& storedPath) {
  return (o.patterns.empty() || MatchesAny(o.patterns, storedPath)) && !MatchesAny(o.excludes, storedPath);
}

// Says which include patterns match no entry of the loaded directory (a
// typing error should not pass for success); answers how many.
int ReportUnmatchedPatterns(const Extractor& zip, const Options& o) {
  int unmatched = 0;
  for (const std::string& p : o.patterns) {
    bool found = false;
    for (std::int32_t i = 0; i < zip.Count() && !found; ++i) {
      found = WildcardMatches(ToEngine(p), zip.Entry(i).StoredPath());
    }
    if (!found) {
      std::cerr << "quvunzip: no entry matches " << Printable(p) << '\n';
      ++unmatched;
    }
  }
  return unmatched;
}

// Percent saved by compression, as the listing shows it.
int Ratio(std::int64_t size, std::int64_t packed) {
  if (size <= 0 || packed >= size) return 0;
  return static_cast<int>((size - packed) * 100 / size);
}

// Collects what a test run decodes while the entry is a link: its target.
class LinkTargetStream final : public TStream {
 public:
  // A target longer than any system takes is cut here.
  static constexpr std::size_t kLongest = 4096;
  bool collecting = false;
  std::string text;

  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (collecting && count > 0 && text.size() < kLongest) {
      text.append(static_cast<const char*>(buffer), std::min<std::size_t>(static_cast<std::size_t>(count), kLongest - text.size()));
    }
    return count;
  }
  std::int64_t Seek(std::int64_t, int) override { return 0; }
};

bool HasLinks(const Extractor& zip) {
  for (std::int32_t i = 0; i < zip.Count(); ++i) {
    if (zip.Entry(i).IsSymbolicLink()) return true;
  }
  return false;
}

// " -> target" for a link entry, as -l and -t show it.
std::string LinkNote(const std::string& target) { return " -> " + Printable(target); }

// The targets of the archive's links (unencrypted ones: no password is
// asked for a listing), by entry index; decoded by a test run that skips
// every other entry.
std::vector<std::optional<std::string>> ReadLinkTargets(Extractor& zip) {
  std::vector<std::optional<std::string>> targets(static_cast<std::size_t>(zip.Count()));
  if (!HasLinks(zip)) return targets;
  LinkTargetStream stream;
  zip.SetTestMode(true);
  zip.SetTestOutput(&stream);
  zip.SetDoAll(true);
  zip.OnStartUnZip = [&](TObject*, std::int32_t index, std::string&, bool& skip) {
    const TZipHeaderInfo& e = zip.Entry(index);
    skip = !e.IsSymbolicLink() || e.IsEncrypted();
    stream.collecting = !skip;
    stream.text.clear();
  };
  zip.OnEndUnZip = [&](TObject*, std::int32_t index, const std::string&) {
    if (std::cmp_less(index, targets.size())) targets[static_cast<std::size_t>(index)] = stream.text;
  };
  zip.UnZipFiles();
  zip.OnStartUnZip = nullptr;
  zip.OnEndUnZip = nullptr;
  zip.SetTestOutput(nullptr);
  return targets;
}

int List(Extractor& zip, const Options& o) {
  zip.LoadDirectory();
  const std::vector<std::optional<std::string>> targets = ReadLinkTargets(zip);
  zip.OpenArchive();
  const char* ratioHead = o.verbose ? " Cmpr" : "";
  const char* ratioRule = o.verbose ? " ----" : "";
  std::int64_t totalSize = 0;
  std::int64_t totalPacked = 0;
  int shown = 0;
  std::printf("   Length     Packed%s Method    Date       Time  CRC-32   Name\n", ratioHead);
  std::printf("---------- ----------%s --------- ---------- ----- -------- ----\n", ratioRule);
  for (std::int32_t i = 0; i < zip.Count(); ++i) {
    const TZipHeaderInfo& e = zip.Entry(i);
    if (!Selected(o, e.StoredPath())) continue;
    const std::int64_t size = e.UncompressedSize;
    const std::int64_t packed = e.CompressedSize;
    std::printf("%10lld %10lld", static_cast<long long>(size), static_cast<long long>(packed));
    if (o.verbose) std::printf(" %3d%%", Ratio(size, packed));
    const std::optional<std::string>& target = targets[static_cast<std::size_t>(i)];
    std::printf(" %-9s %s %s ", MethodName(RealMethod(e)).c_str(), DosDate(e.LastModFileDateTime).c_str(),
                Hex8(e.CRC32).c_str());
    platform::WriteText(ShownName(e) + platform::Path((target ? LinkNote(*target) : "") + EncryptionNote(e) + "\n"));
    if (o.verbose && !zip.EntryComment(i).empty()) std::printf("  %s\n", Printable(zip.EntryComment(i), true).c_str());
    totalSize += size;
    totalPacked += packed;
    ++shown;
  }
  std::printf("---------- ----------%s                                 ----\n", ratioRule);
  std::printf("%10lld %10lld", static_cast<long long>(totalSize), static_cast<long long>(totalPacked));
  if (o.verbose) std::printf(" %3d%%", Ratio(totalSize, totalPacked));
  std::printf("                                 %d %s\n", shown, shown == 1 ? "entry" : "entries");
  if (o.verbose && !zip.ArchiveComment().empty()) {
    std::printf("Archive comment:\n%s\n", Printable(zip.ArchiveComment(), true).c_str());
  }
  const int unmatched = ReportUnmatchedPatterns(zip, o);
  zip.CloseArchive();
  return unmatched > 0 ? kExitEntries : kExitOk;
}

int ShowComment(Extractor& zip) {
  zip.LoadDirectory();
  if (!zip.ArchiveComment().empty()) std::printf("%s\n", Printable(zip.ArchiveComment(), true).c_str());
  return kExitOk;
}

// Standard output as the engine's test output, for -p.
class StandardOutput final : public TStream {
 public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (count <= 0) return 0;
    if (!platform::WriteStandardOutput(buffer, static_cast<std::size_t>(count))) {
      throw EWriteError("Cannot write to standard output");
    }
    return count;
  }
  std::int64_t Seek(std::int64_t, int) override { return 0; }
};

// The part of an output path after the destination with its control
// characters made harmless: a name that would carry escape sequences to
// every later listing of the folder is still extracted, under this name.
void MakeNameSafe(std::string& fName, std::size_t destinationLength) {
  if (PlainAscii(std::string_view(fName).substr(std::min(destinationLength, fName.size())))) return;
  std::string safe = fName.substr(0, destinationLength);
  for (std::size_t at = destinationLength; at < fName.size();) {
    const auto byte = static_cast<unsigned char>(fName[at]);
    const std::size_t c1 = C1ControlSize(fName, at);
    if (byte < 0x20 || byte == 0x7F || c1 != 0) {
      safe.push_back('_');
      at += std::max<std::size_t>(c1, 1);
      continue;
    }
    const std::size_t size = PlainCharSize(fName, at);
    safe.append(fName, at, size);
    at += size;
  }
  fName = std::move(safe);
}

// A test, pipe or extraction run: the engine set up from the options, and
// what the run counts and shows on the terminal while it goes.
class CommandRun {
 public:
  CommandRun(Extractor& zip, ConsoleQuestions& questions, const Options& o)
      : zip_(zip), questions_(questions), o_(o), destination_(DestinationOf(o.destDir)) {}
  // The questions outlive the run: nothing of it may be called then.
  ~CommandRun() {
    questions_.currentEntry = nullptr;
    questions_.breakProgress = nullptr;
  }
  CommandRun(const CommandRun&) = delete;
  CommandRun& operator=(const CommandRun&) = delete;

  int Execute() {
    SetUpEngine();
    SelectEntries();
    FollowEntries();
    if (showProgress_) ShowProgress();
    ReportFailures();
    if (!o_.overwrite && !o_.never) AskBeforeOverwriting();
    return Extract();
  }

 private:
  void SetUpEngine() {
    zip_.SetDestDir(destination_);
    zip_.SetRecreateDirs(!o_.junkPaths);
    zip_.SetOverwriteMode(o_.overwrite ? Always : o_.never ? Never : Prompt);
    zip_.SetReplaceReadOnly(o_.overwrite);
    zip_.SetRetainAttributes(true);
    zip_.SetAbsoluteLinks(o_.absoluteLinks);
    // -p is a test run whose decoded bytes go to standard output.
    zip_.SetTestMode(o_.test || o_.pipe);
    if (o_.pipe) zip_.SetTestOutput(&standardOutput_);
    // A test shows each link's target, which only its decoding gives.
    if (o_.test && HasLinks(zip_)) zip_.SetTestOutput(&linkTarget_);
    if (o_.hasPassword) zip_.SetPassword(o_.password);
    zip_.SetThreads(static_cast<std::int32_t>(o_.threads != 0 ? o_.threads : platform::ProcessorCount()));
    questions_.breakProgress = [this] { EndProgressLine(); };
    questions_.currentEntry = [this] { return CurrentEntryName(); };
  }

  void SelectEntries() {
    if (o_.patterns.empty()) {
      zip_.SetDoAll(true);
    } else {
      for (const std::string& p : o_.patterns) zip_.FilesList().Add(ToEngine(p));
    }
    for (const std::string& p : o_.excludes) zip_.ExcludeList().Add(ToEngine(p));
  }

  // Names each entry as it starts (a line per entry without the progress bar)
  // and counts the entries done.
  void FollowEntries() {
    zip_.OnStartUnZipInfo = [this](TObject*, std::int32_t, std::int64_t, bool&) {
      unmatchedPatterns_ = ReportUnmatchedPatterns(zip_, o_);
      startedEntries_.assign(static_cast<std::size_t>(zip_.Count()), false);
    };
    zip_.OnStartUnZip = [this](TObject*, std::int32_t index, std::string& fName, bool&) {
      if (std::cmp_less(index, startedEntries_.size())) startedEntries_[static_cast<std::size_t>(index)] = true;
      currentEntry_ = index;
      MakeNameSafe(fName, destination_.size());
      // A tested link is named with its target once that is decoded.
      linkTarget_.collecting = o_.test && zip_.Entry(index).IsSymbolicLink();
      linkTarget_.text.clear();
      if (showProgress_) {
        lastPercent_ = -1;
      } else if (!o_.quiet && !o_.pipe && !linkTarget_.collecting) {
        platform::WriteText(platform::Path(o_.test ? "    testing: " : " extracting: ") + ShownName(zip_.Entry(index)) +
                            platform::Path("\n"));
      }
    };
    // An entry's end: a failure from here on concerns no entry until the next starts.
    zip_.OnEndUnZip = [this](TObject*, std::int32_t index, const std::string&) {
      if (linkTarget_.collecting && !showProgress_ && !o_.quiet) {
        platform::WriteText(platform::Path("    testing: ") + ShownName(zip_.Entry(index)) +
                            platform::Path(LinkNote(linkTarget_.text) + "\n"));
      }
      linkTarget_.collecting = false;
      ++entriesDone_;
      currentEntry_ = kNoEntry;
    };
  }

  // One line on the terminal, redrawn: a bar of the whole run and the entry's name.
  void ShowProgress() {
    zip_.OnTotalPercentDone = [this](TObject*, std::int32_t percent) {
      if (percent == lastPercent_) return;
      lastPercent_ = percent;
      constexpr int kWidth = 30;
      const auto filled = static_cast<std::size_t>(std::clamp(percent, 0, 100) * kWidth / 100);
      std::string name = CurrentEntryName();
      if (name.size() > 40) name.replace(0, name.size() - 37, "...");
      std::string number = std::to_string(percent);
      number.insert(0, 3 - std::min<std::size_t>(3, number.size()), ' ');
      std::string line(1, '[');
      line.append(filled, '#').append(kWidth - filled, ' ').append("] ").append(number).append("% ").append(name);
      // Blanks over what a longer name left on the line.
      const std::size_t lineLength = line.size();
      if (line.size() < progressLineLength_) line.append(progressLineLength_ - line.size(), ' ');
      progressLineLength_ = lineLength;
      std::cerr << '\r' << line << std::flush;
      progressShown_ = true;
    };
  }

  void EndProgressLine() {
    if (!progressShown_) return;
    std::cerr << '\n';
    progressShown_ = false;
    progressLineLength_ = 0;
  }

  void ReportFailures() {
    zip_.OnBadCRC = [this](TObject*, std::int32_t computed, std::int32_t stored, std::int32_t) {
      ++failures_;
      EndProgressLine();
      // The component says when the data itself failed: its CRC so far means nothing then.
      const std::string& detail = zip_.SkipDetail();
      const std::string what = !detail.empty() ? Printable(detail)
                                               : "CRC error (computed " + Hex8(static_cast<std::uint32_t>(computed)) +
                                                     ", stored " + Hex8(static_cast<std::uint32_t>(stored)) + ")";
      std::cerr << "quvunzip: " << CurrentEntryName() << ": " << what << (o_.test ? "" : ", not extracted") << '\n';
      currentEntry_ = kNoEntry;
    };
    zip_.OnSkippingFile = [this](TObject*, TSkipReason reason, const std::string& fName, std::int32_t index, bool&) {
      ++failures_;
      EndProgressLine();
      ReportSkip(reason, fName, index);
      currentEntry_ = kNoEntry;
    };
  }

  void ReportSkip(TSkipReason reason, const std::string& fName, std::int32_t index) {
    const TZipHeaderInfo& entry = zip_.Entry(index);
    // An entry without a name is told by its place in the directory.
    const std::string shownEntry =
        entry.StoredPathView().empty() ? "entry " + std::to_string(index + 1) : Shown(entry.StoredPath());
    const std::string& detail = zip_.SkipDetail();
    switch (reason) {
      case skBadPassword:
        std::cerr << "quvunzip: " << shownEntry << ": "
                  << (o_.hasPassword ? "wrong password" : "encrypted, no password or a wrong one") << ", skipped\n";
        break;
      case skUnsafeLink:
        std::cerr << "quvunzip: " << shownEntry << ": link leads outside the destination (" << Printable(detail)
                  << "), skipped (-y restores it)\n";
        break;
      case skNotOverwritten:
        if (!o_.quiet) std::cerr << "quvunzip: " << Shown(fName) << ": exists, not overwritten\n";
        break;
      case skUnsupportedMethod: {
        if (!detail.empty()) {
          std::cerr << "quvunzip: " << shownEntry << ": " << Printable(detail) << " is not supported, skipped\n";
          break;
        }
        const std::uint16_t method = RealMethod(entry);
        std::cerr << "quvunzip: " << shownEntry << ": unsupported compression method " << method << " ("
                  << MethodName(method) << "), skipped\n";
        break;
      }
      default:
        if (entry.NameUnrepresentable || entry.StoredPathView().empty()) {
          std::cerr << "quvunzip: " << shownEntry << ": cannot create (" << Shown(detail) << "), skipped\n";
        } else if (!Started(index) && fName == entry.StoredPath()) {
          // A name refused as it stands; a folder entry that could not be
          // made is named by its place in the destination.
          const std::string why = detail.empty() ? "leads outside the destination" : detail;
          std::cerr << "quvunzip: " << shownEntry << ": unsafe path (" << Shown(why) << "), skipped\n";
        } else {
          std::cerr << "quvunzip: " << Shown(fName) << ": cannot create"
                    << (detail.empty() ? "" : " (" + Shown(detail) + ")") << ", skipped\n";
        }
        break;
    }
  }

  // The entry the run works on as messages name it; formatted only for a
  // message, which most entries never need.
  std::string CurrentEntryName() const {
    if (currentEntry_ == kNoEntry || currentEntry_ >= zip_.Count()) return std::string();
    return Shown(zip_.Entry(currentEntry_).StoredPath());
  }

  bool Started(std::int32_t index) const {
    return std::cmp_less(index, startedEntries_.size()) && startedEntries_[static_cast<std::size_t>(index)];
  }

  void AskBeforeOverwriting() {
    // "all" and "none" answer every later question of the run.
    zip_.OnPromptForOverwrite = [this](TObject*, bool& overwrite, std::int32_t index, std::string&) {
      if (rememberedAnswer_ != 0) {
        overwrite = rememberedAnswer_ > 0;
        return;
      }
      EndProgressLine();
      const platform::Answer answer = zip_.Ui().ShowMessage(
          "Replace existing file " + Shown(zip_.Entry(index).StoredPath()) + "?", "File Exists Alert",
          platform::Buttons::YesNoAll);
      if (answer == platform::Answer::YesToAll) rememberedAnswer_ = 1;
      if (answer == platform::Answer::NoToAll) rememberedAnswer_ = -1;
      overwrite = answer == platform::Answer::Yes || answer == platform::Answer::YesToAll;
    };
  }

  int Extract() {
    try {
      zip_.UnZipFiles();
    } catch (const std::exception& e) {
      EndProgressLine();
      const std::string entry = CurrentEntryName();
      const std::string where = entry.empty() ? o_.archive : o_.archive + " (" + entry + ")";
      std::cerr << "quvunzip: " << where << ": " << e.what() << '\n';
      return kExitArchive;
    }
    EndProgressLine();
    if (!o_.quiet && o_.test && failures_ == 0) {
      std::cout << "No errors in " << entriesDone_ << (entriesDone_ == 1 ? " file" : " files") << " tested.\n";
    }
    return failures_ > 0 || unmatchedPatterns_ > 0 ? kExitEntries : kExitOk;
  }

  Extractor& zip_;
  ConsoleQuestions& questions_;
  const Options& o_;
  const std::string destination_;
  StandardOutput standardOutput_;
  LinkTargetStream linkTarget_;
  const bool showProgress_ = !o_.quiet && !o_.pipe && platform::IsTerminal(platform::StdStream::Error);
  bool progressShown_ = false;
  std::size_t progressLineLength_ = 0;
  int lastPercent_ = -1;
  int failures_ = 0;
  int entriesDone_ = 0;
  int unmatchedPatterns_ = 0;
  // By entry index: entries whose OnStartUnZip came.
  std::vector<bool> startedEntries_;
  int rememberedAnswer_ = 0;  // 1 all, -1 none
  static constexpr std::int32_t kNoEntry = -1;
  std::int32_t currentEntry_ = kNoEntry;
};

// What the directory's reading found wrong but got past: said before the
// entries are listed, tested or extracted. Answers the exit status it calls
// for (a rebuild the user asked for with -B alone does not fail the run).
int ReportDirectoryRepairs(const Extractor& zip, const Options& o) {
  int status = kExitOk;
  if (zip.DirectoryRebuilt()) {
    std::cerr << "quvunzip: warning: " << o.archive << ": directory rebuilt from the local headers ("
              << zip.RebuildReason() << "); other tools may list other entries\n";
    if (!o.assumeBad) status = kExitEntries;
  }
  if (!zip.CountMismatch().empty()) {
    std::cerr << "quvunzip: warning: " << o.archive << ": " << zip.CountMismatch() << "; all are taken\n";
    status = kExitEntries;
  }
  return status;
}

int Run(const Options& o) {
  ConsoleQuestions questions;
  Extractor zip;
  zip.SetUserInterface(questions);
  zip.SetDoProcessMessages(false);
  zip.SetZipName(o.archive);
  if (o.assumeBad) zip.SetIncompleteZipMode(izAssumeBad);
  zip.SetNameCharset(o.charset);
  if (o.commentOnly) return ShowComment(zip);
  zip.LoadDirectory();
  const int directoryStatus = ReportDirectoryRepairs(zip, o);
  if (o.list) return std::max(List(zip, o), directoryStatus);
  // Ctrl-C, SIGTERM and SIGHUP end the run at its next block: the engine
  // removes its unfinished files and says so, and the exit status is the
  // signal's conventional one.
  const platform::InterruptWatch interrupts(zip.CancelRequest());
  const int status = CommandRun(zip, questions, o).Execute();
  return interrupts.Caught() != 0 ? interrupts.ExitStatus() : std::max(status, directoryStatus);
}

}  // namespace

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Options o;
  std::string error;
  if (!ParseArgs(args, o, error)) {
    std::cerr << "quvunzip: " << error << '\n' << kUsage;
    return kExitUsage;
  }
  if (o.help) {
    std::cout << kUsage;
    return kExitOk;
  }
  if (o.version) {
    std::cout << "quvunzip " << QUV_VERSION << '\n';
    return kExitOk;
  }
  try {
    return Run(o);
  } catch (const std::exception& e) {
    std::cerr << "quvunzip: " << o.archive << ": " << e.what() << '\n';
    return kExitArchive;
  }
}

}  // namespace quv::cli

int main(int argc, char** argv) { return quv::cli::Main(argc, argv); }
