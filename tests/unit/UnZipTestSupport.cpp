#include "UnZipTestSupport.h"

#include "platform/Platform.h"

#include <sstream>

namespace quv::test {

namespace {

std::string FromHex(const std::string& hex) {
  if (hex == "-") return std::string();
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) out.push_back(field);
  return out;
}

}  // namespace

std::string ListedEntry::EngineName() const {
  // The engine keeps UTF-8 names in the system code page.
  bool lossless = true;
  std::string n = (flags & 0x800) != 0 ? platform::ConvertFromUtf8(name, lossless) : name;
  for (char& c : n) {
    if (c == '/') c = '\\';
  }
  return n;
}

Listing ReadListing(const std::string& path) {
  Listing listing;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() == 2 && f[0] == "C") {
      listing.comment = FromHex(f[1]);
      listing.loaded = true;
    } else if (f.size() == 12 && f[0] == "E") {
      ListedEntry e;
      e.name = FromHex(f[1]);
      e.comment = FromHex(f[2]);
      e.compressed = std::stoll(f[3]);
      e.uncompressed = std::stoll(f[4]);
      e.crc = static_cast<std::uint32_t>(std::stoul(f[5], nullptr, 16));
      e.dosDateTime = static_cast<std::uint32_t>(std::stoul(f[6], nullptr, 16));
      e.disk = static_cast<std::uint32_t>(std::stoul(f[7]));
      e.offset = static_cast<std::uint32_t>(std::stoul(f[8]));
      e.flags = static_cast<std::uint32_t>(std::stoul(f[9]));
      e.method = static_cast<std::uint32_t>(std::stoul(f[10]));
      e.host = static_cast<std::uint32_t>(std::stoul(f[11]));
      listing.entries.push_back(e);
    }
  }
  return listing;
}

std::string UnzipData() { return Join(TestDataDir(), "unzip"); }
std::string UnzipData(const std::string& name) { return Join(UnzipData(), name); }

void CopyBytes(const std::string& from, const std::string& to) { WriteFile(to, ReadFile(from)); }

platform::Answer ScriptedUi::ShowMessage(const std::string& text, const std::string& caption,
                                         platform::Buttons /*buttons*/) {
  messages.push_back(caption + "|" + text);
  if (onMessage) onMessage(text);
  if (answers.empty()) return platform::Answer::Cancel;
  const platform::Answer a = answers.front();
  answers.pop_front();
  return a;
}

bool ScriptedUi::PickFile(const std::string& title, const std::string& filter, const std::string& initialDir,
                          std::string& chosen) {
  pickCalls.push_back(title + "|" + filter + "|" + initialDir);
  if (fileAnswer.empty()) return false;
  chosen = fileAnswer;
  return true;
}

bool ScriptedUi::PickFolder(const std::string& initialDir, std::string& chosen) {
  pickCalls.push_back("folder|" + initialDir);
  if (folderAnswer.empty()) return false;
  chosen = folderAnswer;
  return true;
}

platform::Cursor ScriptedUi::SetCursor(platform::Cursor c) {
  cursorsShown.push_back(c);
  const platform::Cursor old = cursor;
  cursor = c;
  return old;
}

RemovableDrive::RemovableDrive() {
  platform::SetDriveSeam([](const std::string&) { return platform::DriveType::Removable; },
                         [this](const std::string& root) {
                           labelQueries.push_back(root);
                           return label;
                         });
}

RemovableDrive::~RemovableDrive() { platform::SetDriveSeam(nullptr, nullptr); }

}  // namespace quv::test
