#include "zip/Text.h"

namespace quv::text {

std::size_t AfterLastOf(std::string_view text, std::string_view separators, bool codePage) {
  std::size_t after = 0;
  ForEachChar(
      text,
      [&](std::size_t at, unsigned char c) {
        if (separators.find(static_cast<char>(c)) != std::string_view::npos) after = at + 1;
      },
      codePage);
  return after;
}

bool LastCharIs(const std::string& text, char c) {
  if (text.empty() || text.back() != c) return false;
  return platform::LastCharStart(text) == text.size() - 1;
}

std::string LowerAscii(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) c = UpperAscii(c);
  return text;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::size_t NameStart(std::string_view path) { return AfterLastOf(path, "\\/:"); }

std::string FolderPart(const std::string& path) { return path.substr(0, NameStart(path)); }

std::string FileNamePart(const std::string& path) { return path.substr(NameStart(path)); }

std::string FileExtension(const std::string& path) {
  const std::size_t nameStart = NameStart(path);
  const std::size_t afterDot = AfterLastOf(std::string_view(path).substr(nameStart), ".");
  return afterDot == 0 ? std::string() : path.substr(nameStart + afterDot - 1);
}

std::string ChangeFileExtension(const std::string& path, const std::string& extension) {
  return path.substr(0, path.size() - FileExtension(path).size()) + extension;
}

}  // namespace quv::text
