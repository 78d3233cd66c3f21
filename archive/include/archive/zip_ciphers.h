#pragma once
// The two ciphers of encrypted entries: the classic PKZip stream cipher and
// WinZip AES (AE-1, AE-2) in its little-endian counter mode.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/entry_cipher.h"
#include "archive/crypto_primitives.h"

namespace za {

class TZAPkzipClassicCipher : public TZAEntryCipher {
 public:
  static constexpr std::size_t kHeaderSize = 12;
  std::size_t HeaderSize() const override { return kHeaderSize; }
  std::size_t TrailerSize() const override { return 0; }
  bool CheckPassword(TZAStream& archive, const LocalFileHeader& local, const std::string& password) override;
  void Decrypt(std::uint8_t* data, std::size_t size) override;
  bool FinalCheck(TZAStream&, std::uint32_t) override { return true; }

  // Exposed for tests: keys from a password, and one header decrypted.
  void InitKeys(const std::string& password);
  std::uint8_t DecryptByte(std::uint8_t c);
  // The writing direction: keys from InitKeys, then every byte in order.
  std::uint8_t EncryptByte(std::uint8_t plain);

 private:
  void Update(std::uint8_t c);
  std::uint32_t keys_[3] = {};
};

enum class TZATransformDirection { Decrypt, Encrypt };

class TZACryptoTransform : public TZAEntryCipher {
 public:
  explicit TZACryptoTransform(TZATransformDirection direction) : direction_(direction) {}
  TZATransformDirection Direction() const { return direction_; }

 private:
  TZATransformDirection direction_;
};

class TAESCryptoTransform : public TZACryptoTransform {
 public:
  static constexpr std::size_t kAuthenticationCodeSize = 10;
  static constexpr std::uint32_t kIterations = 1000;
  // `keyLength` in bytes: 16, 24 or 32.
  explicit TAESCryptoTransform(std::uint16_t keyLength,
                               TZATransformDirection direction = TZATransformDirection::Decrypt);

  void Bind(const TDirItem& entry) override;
  std::size_t HeaderSize() const override { return keyLength_ / 2 + 2; }
  std::size_t TrailerSize() const override { return kAuthenticationCodeSize; }
  bool CheckPassword(TZAStream& archive, const LocalFileHeader& local, const std::string& password) override;
  void Decrypt(std::uint8_t* data, std::size_t size) override;
  bool FinalCheck(TZAStream& archive, std::uint32_t crc) override;

  std::uint16_t VendorVersion() const { return vendorVersion_; }
  std::uint16_t ActualMethod() const { return actualMethod_; }
  // Keys the cipher and the code from the password and salt; false when
  // the derived verification value differs from `verifier`.
  bool DeriveKeys(const std::string& password, const std::uint8_t* salt, const std::uint8_t verifier[2]);
  // The writing direction: keys from the password and a new salt, giving
  // the verification value to store after the salt; then the data through
  // Encrypt, and the authentication code to store after it.
  bool StartEncryption(const std::string& password, const std::uint8_t* salt, std::uint8_t verifier[2]);
  void Encrypt(std::uint8_t* data, std::size_t size);
  void FinishEncryption(std::uint8_t code[kAuthenticationCodeSize]);

 private:
  void Refill();
  // The cipher and the code keyed from derived material.
  bool UseKeys(const std::uint8_t* derived);

  std::uint16_t keyLength_;
  std::uint16_t vendorVersion_ = 2;
  std::uint16_t actualMethod_ = 0;
  std::uint32_t storedCrc_ = 0;
  TZAAesBlockCipher aes_;
  TZAHmacSha1 hmac_;
  std::uint64_t counter_ = 0;
  // Key stream produced many blocks at a time; `position_` is used up to.
  static constexpr std::size_t kStreamBlocks = 256;
  std::array<std::uint8_t, kStreamBlocks * TZAAesBlockCipher::kBlockSize> counters_{}, stream_{};
  std::size_t position_ = sizeof stream_;
};

// The factory the engine starts with.
std::unique_ptr<TZAEntryCipher> ZABuiltInEntryCipher(TZACryptoAlgorithm algorithm);

}  // namespace za
