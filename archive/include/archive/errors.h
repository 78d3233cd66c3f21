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

// The native error numbers, named after what each raise means. The values
// are fixed: catchers, event handlers and stored logs compare the numbers.
// Numbers that map to a message but are raised nowhere have no name.
enum TZANativeError : std::int32_t {
  neUnknown = 0,
  neItemIndex = 1,             // a directory slot or name list index outside the list
  neItemIndexRead = 2,         // reading a directory entry by an index outside the directory
  neItemIndexWrite = 3,        // changing a directory entry in place by an index outside it
  neItemIndexDelete = 4,       // deleting a directory entry by an index outside it
  neCompressionMode = 5,       // CompressionMode set above 9
  neUpdateNilPointer = 6,      // consistency check while an update is written
  neUpdateIndex = 7,           // consistency check while an update is written
  neCorruptedEntry = 8,        // an entry fails to decode and corruption is not accepted
  neBlankFileName = 9,         // opening (or making a self-extractor) with a blank file name
  neBlankFileNameMode = 10,    // opening in a given mode with a blank file name
  neArchiveNotFound = 12,      // the archive file to open does not exist
  neArchiveNotOpen = 13,       // the operation needs an open archive
  neDecodeIndex = 16,          // an entry index outside the directory is decoded
  neNoSFXStub = 17,            // a self-extractor without a stub
  neCannotCreateFile = 19,     // an output or archive file cannot be created
  neCannotCreateFolder = 20,   // a destination folder cannot be created
  neDeleteIndex = 21,          // deleting an entry by index: index outside the directory
  neDeleteNoUpdate = 22,       // deleting an entry by index: no update begun
  neChangeIndex = 24,          // changing an entry by index: index outside the directory
  neChangeNoUpdate = 25,       // changing an entry by index: no update begun
  neUpdateNotEnded = 26,       // an operation started while an update is not ended
  neCannotDeleteFile = 27,     // ending an update: a file cannot be deleted
  neInMemoryFromFile = 28,     // opening an in-memory archive from a file
  neBlankFileNameInMemory = 29,  // leaving in-memory mode with a blank file name
  neMultiVolumeUpdate = 31,    // modifying an archive of several volumes
  neReadOnlyUpdate = 32,       // modifying an archive opened read-only
  neCannotOpenFile = 33,       // ending an update: a source file cannot be opened
  neCompressedSize = 34,       // writing a header: inconsistent compressed size
  neInvalidArchive = 35,       // loading the directory: no archive found
  neNoZip64End = 40,           // loading the directory: the Zip64 end record is missing
  neZip64SizesDisabled = 41,   // writing a header: Zip64 sizes needed but disabled
  neZip64Disabled = 43,        // ending an update: Zip64 needed but disabled
  neOpenAborted = 44,          // loading the directory: opening aborted
  neVolumeRefused = 45,        // opening a volume was refused or failed
  neStreamCopy = 46,           // fewer bytes than asked could be copied to a stream
  neSFXStubTooLarge = 47,      // a self-extractor stub does not fit the first volume
  neArchiveDamaged = 48,       // the archive is damaged when opened
  neSFXOnVolumes = 49,         // a self-extractor made of an archive of several volumes
  neSFXStubPresent = 50,       // the archive already has a self-extractor stub
  neDeflate64 = 55,            // an entry uses Deflate64
  neMakeSFX = 56,              // making the self-extractor failed
  neDirectoryDamaged = 57,     // loading the directory: the archive is damaged
  neNameListInsert = 58,       // the hashed list of names lost step with the directory
  neNameListRename = 59,       // a rename would give two entries one name
  neCannotDeleteFolder = 60,   // ending an update: a folder cannot be deleted
  neNameTooLong = 61,          // ending an update: a stored name or extra field is too long
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
