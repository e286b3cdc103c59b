// An ordered list of byte strings (the component's FilesList, the wizard's
// installed-file list).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/Persistent.h"

namespace quv {

class TStringList : public TPersistent {
 public:
  TStringList() = default;
  std::string ClassName() const override { return "TStringList"; }

  // Copies another TStringList's lines; other classes defer to TPersistent.
  void Assign(const TPersistent* source) override;

  std::int32_t Add(const std::string& s);
  void Insert(std::int32_t index, const std::string& s);
  void Delete(std::int32_t index);
  void Clear() { items_.clear(); }
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  // Index outside 0 .. Count - 1 raises EListError "List index out of bounds (%d)".
  const std::string& Strings(std::int32_t index) const;
  void SetStrings(std::int32_t index, const std::string& s);
  // First line equal to s with ASCII letters folded; -1 when none.
  std::int32_t IndexOf(const std::string& s) const;
  // The lines, each followed by CR LF.
  std::string Text() const;
  // Writes Text() to a file (created or truncated); stream errors propagate.
  void SaveToFile(const std::string& fileName) const;

  const std::vector<std::string>& Lines() const { return items_; }

 private:
  [[noreturn]] static void IndexError(std::int32_t index);
  std::vector<std::string> items_;
};

}  // namespace quv
