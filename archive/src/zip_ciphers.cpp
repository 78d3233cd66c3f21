#include "archive/zip_ciphers.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "archive/byte_reader.h"
#include "archive/items.h"
#include "archive/stream.h"

namespace za {

namespace {

// One step of the zip CRC-32 without the inversions around it.
std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t c) {
  static const z_crc_t* table = get_crc_table();
  return table[(crc ^ c) & 0xFF] ^ (crc >> 8);
}

}  // namespace

void TZAPkzipClassicCipher::Update(std::uint8_t c) {
  keys_[0] = CrcStep(keys_[0], c);
  keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
  keys_[2] = CrcStep(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
}

void TZAPkzipClassicCipher::InitKeys(const std::string& password) {
  keys_[0] = 0x12345678;
  keys_[1] = 0x23456789;
  keys_[2] = 0x34567890;
  for (char c : password) Update(static_cast<std::uint8_t>(c));
}

std::uint8_t TZAPkzipClassicCipher::DecryptByte(std::uint8_t c) {
  std::uint32_t t = (keys_[2] | 2) & 0xFFFF;
  std::uint8_t plain = c ^ static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
  Update(plain);
  return plain;
}

std::uint8_t TZAPkzipClassicCipher::EncryptByte(std::uint8_t plain) {
  std::uint32_t t = (keys_[2] | 2) & 0xFFFF;
  std::uint8_t c = plain ^ static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
  Update(plain);
  return c;
}

bool TZAPkzipClassicCipher::CheckPassword(TZAStream& archive, const LocalFileHeader& local,
                                          const std::string& password) {
  std::uint8_t header[kHeaderSize];
  archive.ReadBuffer(header, sizeof header);
  InitKeys(password);
  std::uint8_t last = 0;
  for (std::uint8_t c : header) last = DecryptByte(c);
  // With a data descriptor the CRC was not known when the header was made,
  // so writers check against the time instead.
  std::uint8_t check = (local.Flags & 8) ? static_cast<std::uint8_t>(local.ModTime >> 8)
                                         : static_cast<std::uint8_t>(local.Crc32 >> 24);
  return last == check;
}

void TZAPkzipClassicCipher::Decrypt(std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) data[i] = DecryptByte(data[i]);
}

TAESCryptoTransform::TAESCryptoTransform(std::uint16_t keyLength, TZATransformDirection direction)
    : TZACryptoTransform(direction), keyLength_(keyLength) {}

void TAESCryptoTransform::Bind(const TDirItem& entry) {
  storedCrc_ = entry.Header.Crc32;
  actualMethod_ = entry.ActualMethod;
  bool found = false;
  ExtraBlock block = entry.ExtraFields.Find(kAesExtraTag, &found);
  if (found && block.Size >= 2) vendorVersion_ = GetU16(block.Data);
}

bool TAESCryptoTransform::DeriveKeys(const std::string& password, const std::uint8_t* salt,
                                     const std::uint8_t verifier[2]) {
  std::uint8_t derived[2 * 32 + 2];
  std::size_t size = 2u * keyLength_ + 2;
  if (!ZAPbkdf2HmacSha1(password, salt, keyLength_ / 2, kIterations, derived, size)) return false;
  if (derived[size - 2] != verifier[0] || derived[size - 1] != verifier[1]) return false;
  return UseKeys(derived);
}

bool TAESCryptoTransform::UseKeys(const std::uint8_t* derived) {
  counter_ = 0;
  position_ = sizeof stream_;
  return aes_.SetKey(derived, keyLength_) && hmac_.SetKey(derived + keyLength_, keyLength_);
}

bool TAESCryptoTransform::CheckPassword(TZAStream& archive, const LocalFileHeader&, const std::string& password) {
  if (keyLength_ != 16 && keyLength_ != 24 && keyLength_ != 32) return false;
  std::uint8_t header[32 / 2 + 2];
  archive.ReadBuffer(header, static_cast<std::int64_t>(HeaderSize()));
  return DeriveKeys(password, header, header + keyLength_ / 2);
}

void TAESCryptoTransform::Refill() {
  for (std::size_t b = 0; b < kStreamBlocks; ++b) {
    ++counter_;
    std::uint8_t* block = counters_.data() + b * TZAAesBlockCipher::kBlockSize;
    for (int i = 0; i < 8; ++i) block[i] = static_cast<std::uint8_t>(counter_ >> (8 * i));
  }
  aes_.EncryptBlocks(counters_.data(), stream_.data(), kStreamBlocks);
  position_ = 0;
}

void TAESCryptoTransform::Decrypt(std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (position_ == sizeof stream_) Refill();
    std::size_t n = std::min(size, sizeof stream_ - position_);
    // The code covers the ciphertext as stored. Taken a key stream's length
    // at a time, the piece is still in the cache when it is decrypted.
    hmac_.Update(data, n);
    const std::uint8_t* key = stream_.data() + position_;
    for (std::size_t i = 0; i < n; ++i) data[i] ^= key[i];
    data += n;
    size -= n;
    position_ += n;
  }
}

bool TAESCryptoTransform::StartEncryption(const std::string& password, const std::uint8_t* salt,
                                          std::uint8_t verifier[2]) {
  if (keyLength_ != 16 && keyLength_ != 24 && keyLength_ != 32) return false;
  std::uint8_t derived[2 * 32 + 2];
  std::size_t size = 2u * keyLength_ + 2;
  if (!ZAPbkdf2HmacSha1(password, salt, keyLength_ / 2, kIterations, derived, size)) return false;
  verifier[0] = derived[size - 2];
  verifier[1] = derived[size - 1];
  return UseKeys(derived);
}

void TAESCryptoTransform::Encrypt(std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (position_ == sizeof stream_) Refill();
    std::size_t n = std::min(size, sizeof stream_ - position_);
    const std::uint8_t* key = stream_.data() + position_;
    for (std::size_t i = 0; i < n; ++i) data[i] ^= key[i];
    // The code covers the ciphertext as stored.
    hmac_.Update(data, n);
    data += n;
    size -= n;
    position_ += n;
  }
}

void TAESCryptoTransform::FinishEncryption(std::uint8_t code[kAuthenticationCodeSize]) {
  std::uint8_t digest[TZAHmacSha1::kDigestSize];
  hmac_.Final(digest);
  std::memcpy(code, digest, kAuthenticationCodeSize);
}

bool TAESCryptoTransform::FinalCheck(TZAStream& archive, std::uint32_t crc) {
  std::uint8_t stored[kAuthenticationCodeSize];
  if (archive.Read(stored, sizeof stored) != static_cast<std::int64_t>(sizeof stored)) return false;
  // AE-1 keeps the CRC-32 and is judged by it; AE-2 writers store no CRC,
  // so only the code can tell.
  if (vendorVersion_ == 1) return crc == storedCrc_;
  std::uint8_t digest[TZAHmacSha1::kDigestSize];
  hmac_.Final(digest);
  std::uint8_t diff = 0;
  for (std::size_t i = 0; i < sizeof stored; ++i) diff |= digest[i] ^ stored[i];
  return diff == 0;
}

std::unique_ptr<TZAEntryCipher> ZABuiltInEntryCipher(TZACryptoAlgorithm algorithm) {
  switch (algorithm) {
    case caPkzipClassic: return std::make_unique<TZAPkzipClassicCipher>();
    case caAES_128: return std::make_unique<TAESCryptoTransform>(16);
    case caAES_192: return std::make_unique<TAESCryptoTransform>(24);
    case caAES_256: return std::make_unique<TAESCryptoTransform>(32);
  }
  return nullptr;
}

}  // namespace za
