#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <limits>

#include "archive/crypto.h"

namespace za {

struct TZAAesBlockCipher::State {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  bool keyed = false;
  ~State() { EVP_CIPHER_CTX_free(ctx); }
};

TZAAesBlockCipher::TZAAesBlockCipher() : state_(std::make_unique<State>()) {}
TZAAesBlockCipher::~TZAAesBlockCipher() = default;

bool TZAAesBlockCipher::SetKey(const std::uint8_t* key, std::size_t size) {
  const EVP_CIPHER* cipher = size == 16 ? EVP_aes_128_ecb() : size == 24 ? EVP_aes_192_ecb()
                           : size == 32 ? EVP_aes_256_ecb() : nullptr;
  state_->keyed = cipher && state_->ctx && EVP_EncryptInit_ex(state_->ctx, cipher, nullptr, key, nullptr) == 1 &&
                  EVP_CIPHER_CTX_set_padding(state_->ctx, 0) == 1;
  return state_->keyed;
}

void TZAAesBlockCipher::EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
  if (!state_->keyed) return;
  // EVP takes int lengths: large requests go in pieces of whole blocks.
  constexpr std::size_t kMaxPiece = (std::numeric_limits<int>::max() / kBlockSize) * kBlockSize;
  std::size_t bytes = blocks * kBlockSize;
  while (bytes > 0) {
    std::size_t piece = bytes < kMaxPiece ? bytes : kMaxPiece;
    int written = 0;
    EVP_EncryptUpdate(state_->ctx, out, &written, in, static_cast<int>(piece));
    in += piece;
    out += piece;
    bytes -= piece;
  }
}

struct TZAHmacSha1::State {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* ctx = mac ? EVP_MAC_CTX_new(mac) : nullptr;
  bool keyed = false;
  ~State() {
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
  }
};

TZAHmacSha1::TZAHmacSha1() : state_(std::make_unique<State>()) {}
TZAHmacSha1::~TZAHmacSha1() = default;

bool TZAHmacSha1::SetKey(const std::uint8_t* key, std::size_t size) {
  static const std::uint8_t kNoKey = 0;
  char digest[] = "SHA1";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end()};
  state_->keyed = state_->ctx && EVP_MAC_init(state_->ctx, size ? key : &kNoKey, size, params) == 1;
  return state_->keyed;
}

void TZAHmacSha1::Update(const std::uint8_t* data, std::size_t size) {
  if (state_->keyed && size) EVP_MAC_update(state_->ctx, data, size);
}

void TZAHmacSha1::Final(std::uint8_t digest[kDigestSize]) {
  std::size_t length = 0;
  if (!state_->keyed || EVP_MAC_final(state_->ctx, digest, &length, kDigestSize) != 1 || length != kDigestSize)
    for (std::size_t i = 0; i < kDigestSize; ++i) digest[i] = 0;
  state_->keyed = false;
}

bool ZAPbkdf2HmacSha1(std::string_view password, const std::uint8_t* salt, std::size_t saltSize,
                      std::uint32_t iterations, std::uint8_t* out, std::size_t outSize) {
  static const std::uint8_t kEmpty = 0;
  if (password.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      saltSize > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      outSize > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      iterations > static_cast<std::uint32_t>(std::numeric_limits<int>::max()))
    return false;
  return PKCS5_PBKDF2_HMAC(password.empty() ? "" : password.data(), static_cast<int>(password.size()),
                           saltSize ? salt : &kEmpty, static_cast<int>(saltSize), static_cast<int>(iterations),
                           EVP_sha1(), static_cast<int>(outSize), out) == 1;
}

}  // namespace za
