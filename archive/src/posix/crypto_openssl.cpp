// The plain SHA-1 calls are marked deprecated in OpenSSL 3 but stay part of
// its interface; PBKDF2 below needs them (see there). The mark is read by
// the first OpenSSL header, so this comes before all of them.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/crypto_primitives.h"

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

struct TZASha256::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = false;
  void Start() { ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1; }
  ~State() { EVP_MD_CTX_free(ctx); }
};

TZASha256::TZASha256() : state_(std::make_unique<State>()) { state_->Start(); }
TZASha256::~TZASha256() = default;

void TZASha256::Update(const std::uint8_t* data, std::size_t size) {
  if (state_->ok && size) state_->ok = EVP_DigestUpdate(state_->ctx, data, size) == 1;
}

bool TZASha256::Final(Digest& digest) {
  unsigned length = 0;
  const bool ok = state_->ok && EVP_DigestFinal_ex(state_->ctx, digest.data(), &length) == 1 &&
                  length == kDigestSize;
  state_->Start();
  return ok;
}

namespace {

void PutBig32(std::uint32_t v, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// HMAC-SHA1 with the key's two pad blocks hashed once, so that each use
// starts from a copied state instead of rehashing them.
class PaddedSha1Key {
 public:
  explicit PaddedSha1Key(std::string_view key) {
    std::uint8_t block[SHA_CBLOCK] = {};
    if (key.size() > sizeof block)
      SHA1(reinterpret_cast<const unsigned char*>(key.data()), key.size(), block);
    else if (!key.empty())
      std::memcpy(block, key.data(), key.size());
    std::uint8_t pad[SHA_CBLOCK];
    for (std::size_t i = 0; i < sizeof pad; ++i) pad[i] = block[i] ^ 0x36;
    SHA1_Init(&inner_);
    SHA1_Update(&inner_, pad, sizeof pad);
    for (std::size_t i = 0; i < sizeof pad; ++i) pad[i] = block[i] ^ 0x5C;
    SHA1_Init(&outer_);
    SHA1_Update(&outer_, pad, sizeof pad);
    OPENSSL_cleanse(block, sizeof block);
    OPENSSL_cleanse(pad, sizeof pad);
  }
  ~PaddedSha1Key() {
    OPENSSL_cleanse(&inner_, sizeof inner_);
    OPENSSL_cleanse(&outer_, sizeof outer_);
    OPENSSL_cleanse(work_, sizeof work_);
    OPENSSL_cleanse(block_, sizeof block_);
  }

  // The code of `a` followed by `b` into `digest`.
  void Code(const std::uint8_t* a, std::size_t aSize, const std::uint8_t* b, std::size_t bSize,
            std::uint8_t digest[SHA_DIGEST_LENGTH]) {
    SHA_CTX& work = work_[0];
    work = inner_;
    if (aSize) SHA1_Update(&work, a, aSize);
    if (bSize) SHA1_Update(&work, b, bSize);
    SHA1_Final(digest, &work);
    work = outer_;
    SHA1_Update(&work, digest, SHA_DIGEST_LENGTH);
    SHA1_Final(digest, &work);
  }

  // PBKDF2's inner loop for `lanes` output blocks at once: `iterations`
  // times the code of each lane's code before, starting from `u`, all XORed
  // into `t`. Both hashes of one code cover a pad block and 20 bytes, so one
  // padded block per lane serves both and the state words go into it
  // without SHA1_Final's bookkeeping. The lanes are independent, so the
  // processor overlaps their block functions.
  static constexpr std::size_t kLanes = 4;
  void Chain(std::size_t lanes, const std::uint8_t (*u)[SHA_DIGEST_LENGTH], std::uint32_t iterations,
             std::uint8_t (*t)[SHA_DIGEST_LENGTH]) {
    std::uint32_t sum[kLanes][5] = {};
    for (std::size_t l = 0; l < lanes; ++l) {
      std::uint8_t* block = block_[l];
      std::memset(block, 0, SHA_CBLOCK);
      std::memcpy(block, u[l], SHA_DIGEST_LENGTH);
      block[SHA_DIGEST_LENGTH] = 0x80;
      PutBig32((SHA_CBLOCK + SHA_DIGEST_LENGTH) * 8, block + SHA_CBLOCK - 4);
    }
    for (std::uint32_t i = 0; i < iterations; ++i) {
      for (std::size_t l = 0; l < lanes; ++l) {
        work_[l] = inner_;
        SHA1_Transform(&work_[l], block_[l]);
        Put(work_[l], block_[l]);
      }
      for (std::size_t l = 0; l < lanes; ++l) {
        work_[l] = outer_;
        SHA1_Transform(&work_[l], block_[l]);
        Put(work_[l], block_[l]);
        sum[l][0] ^= work_[l].h0;
        sum[l][1] ^= work_[l].h1;
        sum[l][2] ^= work_[l].h2;
        sum[l][3] ^= work_[l].h3;
        sum[l][4] ^= work_[l].h4;
      }
    }
    for (std::size_t l = 0; l < lanes; ++l)
      for (int k = 0; k < 5; ++k) {
        std::uint8_t word[4];
        PutBig32(sum[l][k], word);
        for (int j = 0; j < 4; ++j) t[l][4 * k + j] ^= word[j];
      }
    OPENSSL_cleanse(sum, sizeof sum);
  }

 private:
  static void Put(const SHA_CTX& state, std::uint8_t* block) {
    PutBig32(state.h0, block);
    PutBig32(state.h1, block + 4);
    PutBig32(state.h2, block + 8);
    PutBig32(state.h3, block + 12);
    PutBig32(state.h4, block + 16);
  }

  SHA_CTX inner_, outer_, work_[kLanes];
  std::uint8_t block_[kLanes][SHA_CBLOCK];
};
}  // namespace

// Not PKCS5_PBKDF2_HMAC: OpenSSL 3's copies an allocated digest context
// twice per iteration, and at 1000 iterations per AES entry that was most of
// the time of extracting an archive of a few hundred encrypted files. The
// known-answer tests hold this to RFC 6070.
bool ZARandomBytes(std::uint8_t* out, std::size_t size) {
  while (size > 0) {
    int n = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
    if (RAND_bytes(out, n) != 1) return false;
    out += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ZAPbkdf2HmacSha1(std::string_view password, const std::uint8_t* salt, std::size_t saltSize,
                      std::uint32_t iterations, std::uint8_t* out, std::size_t outSize) {
  // The block index is 32 bits, and 1 iteration is the least there is.
  if (iterations == 0 || outSize / SHA_DIGEST_LENGTH >= 0xFFFFFFFFu) return false;
  PaddedSha1Key key(password);
  constexpr std::size_t kLanes = PaddedSha1Key::kLanes;
  std::uint8_t u[kLanes][SHA_DIGEST_LENGTH], t[kLanes][SHA_DIGEST_LENGTH];
  for (std::uint32_t first = 1; outSize > 0; first += kLanes) {
    std::size_t lanes = 0;
    for (; lanes < kLanes && lanes * SHA_DIGEST_LENGTH < outSize; ++lanes) {
      std::uint8_t index[4];
      PutBig32(first + static_cast<std::uint32_t>(lanes), index);
      key.Code(salt, saltSize, index, sizeof index, u[lanes]);
      std::memcpy(t[lanes], u[lanes], SHA_DIGEST_LENGTH);
    }
    key.Chain(lanes, u, iterations - 1, t);
    for (std::size_t l = 0; l < lanes; ++l) {
      std::size_t n = outSize < SHA_DIGEST_LENGTH ? outSize : SHA_DIGEST_LENGTH;
      std::memcpy(out, t[l], n);
      out += n;
      outSize -= n;
    }
  }
  OPENSSL_cleanse(u, sizeof u);
  OPENSSL_cleanse(t, sizeof t);
  return true;
}

}  // namespace za
