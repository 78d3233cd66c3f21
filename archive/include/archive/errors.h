#pragma once
// Errors of the archive engine.
//
// `Exception` plays the runtime's general exception class (a message and a
// help context); `EZAException` is the engine's one exception class; the
// stream errors stand for the runtime's own, which the engine does not wrap.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace za {

class TZABaseArchiver;

class Exception : public std::exception {
 public:
  explicit Exception(std::u16string message);
  const std::u16string& Message() const { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }  // UTF-8
  int HelpContext = 0;

 protected:
  Exception() = default;
  void SetMessage(std::u16string message);

 private:
  std::u16string message_;
  std::string utf8_;
};

// The runtime's stream errors ("Stream read error" and the like).
class EStreamError : public Exception {
 public:
  using Exception::Exception;
  int SystemError = 0;  // the system's error code, when one is known
};
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError(u"Stream read error") {}
};
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError(u"Stream write error") {}
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// One format argument: a number or a wide string.
using TZAFormatArg = std::variant<std::int64_t, std::u16string>;

class EZAException : public Exception {
 public:
  // Plain constructor.
  EZAException(std::int32_t nativeError, const TZABaseArchiver* archiver);
  // Formatting constructor; on the extraction path the one argument is a path.
  EZAException(std::int32_t nativeError, const TZABaseArchiver* archiver, std::vector<TZAFormatArg> args);

  std::int32_t ErrorCode = 0;
  std::int32_t NativeError = 0;

 private:
  void Compose(const TZABaseArchiver* archiver, const std::vector<TZAFormatArg>* args);
};

constexpr int kZAMessageCount = 38;
constexpr int kZANativeErrorCount = 63;

// The message table (8-bit texts, indexed by ErrorCode) and the mapping of a
// native error to its error code (0 for a number outside the table).
std::string_view ZAMessageText(std::int32_t errorCode);
std::int32_t ZAErrorCodeOf(std::int32_t nativeError);

// Delphi-style Format for "%s", "%d" and "%%"; a placeholder without a
// fitting argument stays in the text as written.
std::u16string ZAFormat(std::u16string_view text, const std::vector<TZAFormatArg>& args);

}  // namespace za
