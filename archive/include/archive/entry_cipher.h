#pragma once
// Where the decryption of encrypted entries plugs into decoding. The
// decoder checks the password, then decrypts every chunk in place, and for
// AES makes the final check against the trailer; the ciphers themselves
// (PKZip classic, AES) implement this interface.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/records.h"
#include "archive/types.h"

namespace za {

class TZAStream;
struct TDirItem;

class TZAEntryCipher {
 public:
  virtual ~TZAEntryCipher() = default;
  // Called once before anything is read: what the cipher needs of the
  // entry's directory record (AES: vendor version and CRC-32).
  virtual void Bind(const TDirItem&) {}
  // Bytes in front of the data (PKZip classic: 12) and behind it (AES:
  // authentication code); both are taken off the input to decode.
  virtual std::size_t HeaderSize() const = 0;
  virtual std::size_t TrailerSize() const = 0;
  // Reads the encryption header at the stream's position and tells whether
  // the password opens it; `local` is the entry's local header.
  virtual bool CheckPassword(TZAStream& archive, const LocalFileHeader& local, const std::string& password) = 0;
  virtual void Decrypt(std::uint8_t* data, std::size_t size) = 0;
  // AES only: reads the trailer and checks it; `crc` is the final CRC-32.
  virtual bool FinalCheck(TZAStream& archive, std::uint32_t crc) = 0;
};

// The cipher for an entry's algorithm, or none when this build cannot
// decrypt it (the entry then fails to decode).
using TZAEntryCipherFactory = std::unique_ptr<TZAEntryCipher> (*)(TZACryptoAlgorithm algorithm);

}  // namespace za
