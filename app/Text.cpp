#include "app/Text.h"

#include "platform/Platform.h"

namespace quv {

std::string ErrorBoxText(const std::string& message) {
  if (message.empty()) return message;
  // A double-byte character compares by its lead byte, which is above '.'.
  const auto first = static_cast<unsigned char>(message[platform::LastCharStart(message)]);
  return first > '.' ? message + '.' : message;
}

}  // namespace quv
