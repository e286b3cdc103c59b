#include "zip/Persistent.h"

#include "zip/Exception.h"

namespace quv {

void TPersistent::Assign(const TPersistent* source) {
  if (source == nullptr) AssignError(nullptr);
  source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) const {
  if (dest == nullptr) throw EConvertError("Cannot assign a " + ClassName() + " to a nil");
  dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* source) const {
  const std::string sourceName = source != nullptr ? source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

}  // namespace quv
