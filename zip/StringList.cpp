#include "zip/StringList.h"

#include <string>

#include "zip/Exception.h"
#include "zip/Stream.h"
#include "zip/Text.h"

namespace quv {

void TStringList::IndexError(std::int32_t index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

void TStringList::Assign(const TPersistent* source) {
  if (const auto* list = dynamic_cast<const TStringList*>(source)) {
    if (list != this) items_ = list->items_;
    return;
  }
  TPersistent::Assign(source);
}

std::int32_t TStringList::Add(const std::string& s) {
  items_.push_back(s);
  return Count() - 1;
}

void TStringList::Insert(std::int32_t index, const std::string& s) {
  if (index < 0 || index > Count()) IndexError(index);
  items_.insert(items_.begin() + index, s);
}

void TStringList::Delete(std::int32_t index) {
  if (index < 0 || index >= Count()) IndexError(index);
  items_.erase(items_.begin() + index);
}

const std::string& TStringList::Strings(std::int32_t index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return items_[static_cast<std::size_t>(index)];
}

void TStringList::SetStrings(std::int32_t index, const std::string& s) {
  if (index < 0 || index >= Count()) IndexError(index);
  items_[static_cast<std::size_t>(index)] = s;
}

std::int32_t TStringList::IndexOf(const std::string& s) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (text::SameText(items_[i], s)) return static_cast<std::int32_t>(i);
  }
  return -1;
}

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : items_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SaveToFile(const std::string& fileName) const {
  const std::string text = Text();
  TFileStream file(fileName, platform::fmCreate);
  file.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
}

}  // namespace quv
