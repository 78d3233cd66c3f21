#pragma once
// Streams of the archive engine, in the manner of the runtime's TStream:
// Read and Write move fewer bytes at the end, ReadBuffer and WriteBuffer
// raise EReadError and EWriteError instead.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sys/file_view.h"
#include "sys/wide_file.h"

namespace za {

// File-open modes (16-bit, as the runtime's fmXXX constants).
constexpr std::uint16_t fmCreate = 0xFFFF;
constexpr std::uint16_t fmOpenRead = 0x0000;
constexpr std::uint16_t fmOpenWrite = 0x0001;
constexpr std::uint16_t fmOpenReadWrite = 0x0002;
constexpr std::uint16_t fmShareCompat = 0x0000;
constexpr std::uint16_t fmShareExclusive = 0x0010;
constexpr std::uint16_t fmShareDenyWrite = 0x0020;
constexpr std::uint16_t fmShareDenyRead = 0x0030;
constexpr std::uint16_t fmShareDenyNone = 0x0040;

enum class TZASeekOrigin { soBeginning, soCurrent, soEnd };

class TZAStream {
 public:
  virtual ~TZAStream() = default;
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // The new position; seeking past the end is allowed, before 0 is not
  // (the position then stays and -1 comes back).
  virtual std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) = 0;
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size) = 0;
  // The system's error code of the last failed transfer (0: none known).
  virtual int LastError() const { return 0; }
  // Whether the stream shows its bytes where they lie (View) and serves
  // small reads from there, where it can; off unless asked for.
  virtual void SetViewed(bool) {}
  // Whether views were asked for and none has failed yet.
  virtual bool Viewed() const { return false; }
  // The next `count` bytes where they lie, the position moved past them,
  // for a reader that only looks at them: no copy. Null, nothing moved,
  // where the stream does not show them so (the reader reads instead).
  // They stay valid until the stream is used again.
  virtual const std::uint8_t* View(std::int64_t) { return nullptr; }
  // Whether bytes the last View showed were lost meanwhile (the file was
  // cut short under them): what was made of them must not count.
  virtual bool ViewLost() const { return false; }
  // `count` bytes at `position`, read without moving the position or what
  // the stream shows (its view, its window): a look ahead of where a
  // reader is that costs it nothing. The bytes read, or -1.
  virtual std::int64_t Peek(std::int64_t position, void* buffer, std::int64_t count);

  std::int64_t Position() { return Seek(0, TZASeekOrigin::soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, TZASeekOrigin::soBeginning); }
  void ReadBuffer(void* buffer, std::int64_t count);         // EReadError when short
  void WriteBuffer(const void* buffer, std::int64_t count);  // EWriteError when short
  // Copies count bytes (all from the start when count is 0); the bytes copied.
  std::int64_t CopyFrom(TZAStream& source, std::int64_t count);
};

// Puts a stream back at the position it had, when the scope ends.
class TZAPositionGuard {
 public:
  explicit TZAPositionGuard(TZAStream& s) : s_(s), pos_(s.Position()) {}
  ~TZAPositionGuard() { s_.Seek(pos_, TZASeekOrigin::soBeginning); }
  TZAPositionGuard(const TZAPositionGuard&) = delete;
  TZAPositionGuard& operator=(const TZAPositionGuard&) = delete;

 private:
  TZAStream& s_;
  std::int64_t pos_;
};

// A growable stream in memory.
class TZAMemoryStream : public TZAStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;
  const std::vector<std::uint8_t>& Data() const { return data_; }
  std::vector<std::uint8_t>& Data() { return data_; }

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

// A read-only view of bytes that the caller keeps alive.
class TZABufferStream : public TZAStream {
 public:
  TZABufferStream(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(size_); }
  void SetSize(std::int64_t) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::int64_t position_ = 0;
};

// Takes everything and keeps nothing: decoding into it tests an entry.
class TNullStream : public TZAStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) override;
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t size) override { size_ = size < 0 ? 0 : size; }

 private:
  std::int64_t position_ = 0, size_ = 0;
};

// A file by wide name. `mode` is fmCreate or an access mode combined with a
// share mode; failure raises EFCreateError or EFOpenError.
class TZAFileStream : public TZAStream {
 public:
  TZAFileStream(std::u16string_view fileName, std::uint16_t mode);
  // Over a file the caller has opened already; `atStart` when its position
  // is known to be 0 (a file just made), which spares the first write a seek.
  TZAFileStream(sys::WideFile file, std::u16string_view fileName, bool atStart = false)
      : file_(std::move(file)), fileName_(fileName), filePosition_(atStart ? 0 : -1) {}
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;
  int LastError() const override { return file_.LastError(); }
  void SetViewed(bool value) override {
    viewed_ = value;
    if (!value) {
      viewing_ = false;
      view_.Unmap();
    }
  }
  bool Viewed() const override { return viewed_ && !viewFailed_; }
  const std::uint8_t* View(std::int64_t count) override;
  bool ViewLost() const override { return view_.Lost(); }
  std::int64_t Peek(std::int64_t position, void* buffer, std::int64_t count) override;
  const std::u16string& FileName() const { return fileName_; }
  // The file itself: what is done with it is not known here, so the window
  // and the file's position are forgotten.
  sys::WideFile& File() {
    Forget();
    return file_;
  }

 private:
  // Small reads (a local header, the data of a small entry) are served from
  // a window read ahead: a million small entries would otherwise cost two
  // system calls each. Like the size, the window holds while only read.
  static constexpr std::int64_t kWindow = 64 << 10;
  // Views are a mapping of the file, a piece at a time so that the pages
  // held stay few however large the archive. Once data is viewed, small
  // reads come from the mapping too: the window read for a local header
  // would copy 64 KiB for the 30 bytes wanted. Until then they do not, so
  // that an archive read without views holds no mapped piece besides.
  // Window reads that the next read skips grow shorter, for the same
  // reason: a header read of a large entry is followed by a read of its
  // data that goes straight to the file.
  static constexpr std::int64_t kViewPiece = 1 << 20;
  bool Viewing(std::int64_t count);
  std::int64_t ReadDirect(void* buffer, std::int64_t count);
  void Forget() {
    windowLength_ = 0;
    filePosition_ = -1;
    view_.Unmap();
  }
  sys::WideFile file_;
  std::u16string fileName_;
  std::int64_t position_ = 0;
  std::int64_t size_ = -1;  // cached while only read
  std::unique_ptr<std::uint8_t[]> window_;
  std::int64_t windowStart_ = 0, windowLength_ = 0;
  std::int64_t filePosition_ = -1;  // where the file is (-1: not known)
  sys::FileView view_;
  bool viewed_ = false;   // views asked for
  bool viewing_ = false;  // a view given
  static constexpr std::int64_t kShortFill = 4 << 10;
  std::int64_t windowFill_ = kWindow;  // what the next window read asks for
  std::int64_t windowAsked_ = 0;       // what the last one asked for
  bool viewFailed_ = false;  // the system gives none: not asked again
};

// Opens a file with a runtime open mode; false when it cannot be opened.
bool ZAOpenFile(sys::WideFile& file, std::u16string_view fileName, std::uint16_t mode);

}  // namespace za
