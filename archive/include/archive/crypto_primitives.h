#pragma once
// The primitives the entry ciphers are built from. Each platform supplies
// them from its own well-kept library (libcrypto on POSIX, CNG on Windows);
// the ciphers see only this interface.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace za {

// AES (16-byte blocks, 16/24/32-byte keys) in the forward direction only:
// counter mode never needs the inverse cipher.
class TZAAesBlockCipher {
 public:
  static constexpr std::size_t kBlockSize = 16;
  // False when the key length is not one AES knows or the library refuses.
  bool SetKey(const std::uint8_t* key, std::size_t size);
  // Encrypts `blocks` whole blocks from `in` to `out` independently (ECB);
  // the caller lays out counter blocks so one call covers many of them.
  void EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks);

  TZAAesBlockCipher();
  ~TZAAesBlockCipher();
  TZAAesBlockCipher(const TZAAesBlockCipher&) = delete;
  TZAAesBlockCipher& operator=(const TZAAesBlockCipher&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class TZAHmacSha1 {
 public:
  static constexpr std::size_t kDigestSize = 20;
  bool SetKey(const std::uint8_t* key, std::size_t size);
  void Update(const std::uint8_t* data, std::size_t size);
  // Ends the code; a new one needs SetKey again.
  void Final(std::uint8_t digest[kDigestSize]);

  TZAHmacSha1();
  ~TZAHmacSha1();
  TZAHmacSha1(const TZAHmacSha1&) = delete;
  TZAHmacSha1& operator=(const TZAHmacSha1&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// SHA-256, to tell later that a file still holds the bytes extraction wrote.
class TZASha256 {
 public:
  static constexpr std::size_t kDigestSize = 32;
  using Digest = std::array<std::uint8_t, kDigestSize>;
  void Update(const std::uint8_t* data, std::size_t size);
  // Ends the hash and starts the next. False when the library failed at any
  // point: a hash that failed never matches anything.
  bool Final(Digest& digest);

  TZASha256();
  ~TZASha256();
  TZASha256(const TZASha256&) = delete;
  TZASha256& operator=(const TZASha256&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Random bytes from the system's generator, for salts and encryption
// headers; false when it fails (nothing must then be encrypted).
bool ZARandomBytes(std::uint8_t* out, std::size_t size);

// PBKDF2 with HMAC-SHA1; an empty password or salt is valid input.
bool ZAPbkdf2HmacSha1(std::string_view password, const std::uint8_t* salt, std::size_t saltSize,
                      std::uint32_t iterations, std::uint8_t* out, std::size_t outSize);

}  // namespace za
