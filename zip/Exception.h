// The engine's exceptions. Every one derives from Exception and carries its
// exact message text; callers tell them apart by class.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace quv {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

#define QUV_EXCEPTION(Name, Base)                                  \
  class Name : public Base {                                       \
   public:                                                         \
    explicit Name(std::string message) : Base(std::move(message)) {} \
  }

// Runtime failures (lists, streams, files, class registry).
QUV_EXCEPTION(EListError, Exception);
QUV_EXCEPTION(EStreamError, Exception);
QUV_EXCEPTION(EFOpenError, EStreamError);
QUV_EXCEPTION(EFCreateError, EStreamError);
QUV_EXCEPTION(EReadError, EStreamError);
QUV_EXCEPTION(EWriteError, EStreamError);
QUV_EXCEPTION(EClassNotFound, Exception);
QUV_EXCEPTION(EAbstractError, Exception);
QUV_EXCEPTION(EConvertError, Exception);

// The unzip engine's failures.
QUV_EXCEPTION(EBadZipFile, Exception);
QUV_EXCEPTION(EIncompleteZip, Exception);
QUV_EXCEPTION(ENotAZipFile, Exception);
QUV_EXCEPTION(EFatalUnzipError, Exception);
QUV_EXCEPTION(EUserCanceled, Exception);
// An entry's compressed data is damaged; see DecodeEntry for what it ends.
QUV_EXCEPTION(EDataError, Exception);
QUV_EXCEPTION(EBiggerThanUncompressed, EDataError);
QUV_EXCEPTION(ECantWriteUCF, EWriteError);

#undef QUV_EXCEPTION

}  // namespace quv
