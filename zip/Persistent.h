// Root classes of the engine's object model: TObject gives every object a
// class name (used in messages) and a virtual destructor so that owning lists
// can free items of any class; TPersistent adds copying between objects.
#pragma once

#include <string>

namespace quv {

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  virtual std::string ClassName() const { return "TObject"; }
};

class TPersistent : public TObject {
 public:
  std::string ClassName() const override { return "TPersistent"; }

  // Copies source into this object. The base asks the source to do it
  // (source->AssignTo(this)); a null source fails with EConvertError.
  virtual void Assign(const TPersistent* source);
  // Copies this object into dest. The base knows no conversion and raises
  // EConvertError "Cannot assign a <this class> to a <dest class>".
  virtual void AssignTo(TPersistent* dest) const;

 protected:
  // Raises EConvertError naming source (or "nil") and this object's class.
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

}  // namespace quv
