// Text helpers for names and paths, shared by the engine and the wizard.
// Names are byte strings; in the system's code page the second byte of a
// double-byte character may have the value of "\", "/", ":" or ".", so every
// search for those walks whole characters. Case folding touches ASCII
// letters only: other bytes may be parts of double-byte characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace quv::text {

// ---- characters ----------------------------------------------------------------

// Bytes of the character starting at text[at]: 2 for a lead byte of the
// system code page followed by its trail byte, else 1. With codePage false
// (UTF-8 names, whose bytes never look like ASCII) always 1.
inline std::size_t CharSize(std::string_view text, std::size_t at, bool codePage = true) {
  return codePage && platform::IsLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

// Calls f(index, byte) for the first byte of every character.
template <class F>
void ForEachChar(std::string_view text, F f, bool codePage = true) {
  for (std::size_t at = 0; at < text.size(); at += CharSize(text, at, codePage)) {
    f(at, static_cast<unsigned char>(text[at]));
  }
}

// Index just past the last character that is one of separators (0 when none).
std::size_t AfterLastOf(std::string_view text, std::string_view separators, bool codePage = true);

// Whether the last character is c.
bool LastCharIs(const std::string& text, char c);

// ---- ASCII case ------------------------------------------------------------------

constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
constexpr char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }
std::string LowerAscii(std::string text);
std::string UpperAscii(std::string text);
// Equal but for the case of ASCII letters.
bool SameText(std::string_view a, std::string_view b);

// ---- name parts --------------------------------------------------------------------
// "\", "/" and ":" (a drive) end a folder part.

// Index just past the last separator (0 when there is none).
std::size_t NameStart(std::string_view path);
// The folder part with its separator ("" when there is none).
std::string FolderPart(const std::string& path);
// The text after the folder part.
std::string FileNamePart(const std::string& path);
// The extension with its dot, from the last dot of the file-name part ("" when none).
std::string FileExtension(const std::string& path);
// path with its extension replaced by extension (which includes the dot),
// or with extension appended when it has none.
std::string ChangeFileExtension(const std::string& path, const std::string& extension);

}  // namespace quv::text
