// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <limits>

#include "archive/crypto_primitives.h"

namespace za {

namespace {

constexpr ULONG kMaxUlong = std::numeric_limits<ULONG>::max();

PUCHAR Bytes(const void* p) { return static_cast<PUCHAR>(const_cast<void*>(p)); }

// Algorithm providers are opened once per process: opening one costs far
// more than a whole entry's key set-up.
struct Provider {
  BCRYPT_ALG_HANDLE handle = nullptr;
  Provider(LPCWSTR algorithm, ULONG flags) {
    if (BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, flags) < 0) handle = nullptr;
  }
  ~Provider() {
    if (handle) BCryptCloseAlgorithmProvider(handle, 0);
  }
};

BCRYPT_ALG_HANDLE AesEcb() {
  static Provider provider = [] {
    Provider p(BCRYPT_AES_ALGORITHM, 0);
    if (p.handle &&
        BCryptSetProperty(p.handle, BCRYPT_CHAINING_MODE, Bytes(BCRYPT_CHAIN_MODE_ECB),
                          sizeof BCRYPT_CHAIN_MODE_ECB, 0) < 0) {
      BCryptCloseAlgorithmProvider(p.handle, 0);
      p.handle = nullptr;
    }
    return p;
  }();
  return provider.handle;
}

BCRYPT_ALG_HANDLE HmacSha1() {
  static Provider provider(BCRYPT_SHA1_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
  return provider.handle;
}

BCRYPT_ALG_HANDLE Sha256() {
  static Provider provider(BCRYPT_SHA256_ALGORITHM, 0);
  return provider.handle;
}

// A key or hash object, destroyed with the function CNG pairs with it.
template <NTSTATUS(WINAPI* Destroy)(BCRYPT_HANDLE)>
struct OwnedHandle {
  BCRYPT_HANDLE handle = nullptr;
  void Drop() {
    if (handle) Destroy(handle);
    handle = nullptr;
  }
  ~OwnedHandle() { Drop(); }
};

}  // namespace

struct TZAAesBlockCipher::State : OwnedHandle<BCryptDestroyKey> {};

TZAAesBlockCipher::TZAAesBlockCipher() : state_(std::make_unique<State>()) {}
TZAAesBlockCipher::~TZAAesBlockCipher() = default;

bool TZAAesBlockCipher::SetKey(const std::uint8_t* key, std::size_t size) {
  state_->Drop();
  if ((size != 16 && size != 24 && size != 32) || !AesEcb()) return false;
  if (BCryptGenerateSymmetricKey(AesEcb(), &state_->handle, nullptr, 0, Bytes(key), static_cast<ULONG>(size), 0) < 0)
    state_->handle = nullptr;
  return state_->handle != nullptr;
}

void TZAAesBlockCipher::EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
  if (!state_->handle) return;
  constexpr std::size_t kMaxPiece = (kMaxUlong / kBlockSize) * kBlockSize;
  std::size_t bytes = blocks * kBlockSize;
  while (bytes > 0) {
    std::size_t piece = bytes < kMaxPiece ? bytes : kMaxPiece;
    ULONG written = 0;
    BCryptEncrypt(state_->handle, Bytes(in), static_cast<ULONG>(piece), nullptr, nullptr, 0, out,
                  static_cast<ULONG>(piece), &written, 0);
    in += piece;
    out += piece;
    bytes -= piece;
  }
}

struct TZAHmacSha1::State : OwnedHandle<BCryptDestroyHash> {};

TZAHmacSha1::TZAHmacSha1() : state_(std::make_unique<State>()) {}
TZAHmacSha1::~TZAHmacSha1() = default;

bool TZAHmacSha1::SetKey(const std::uint8_t* key, std::size_t size) {
  static const std::uint8_t kNoKey = 0;
  state_->Drop();
  if (!HmacSha1() || size > kMaxUlong) return false;
  if (BCryptCreateHash(HmacSha1(), &state_->handle, nullptr, 0, Bytes(size ? key : &kNoKey), static_cast<ULONG>(size),
                       0) < 0)
    state_->handle = nullptr;
  return state_->handle != nullptr;
}

void TZAHmacSha1::Update(const std::uint8_t* data, std::size_t size) {
  while (state_->handle && size > 0) {
    ULONG piece = size < kMaxUlong ? static_cast<ULONG>(size) : kMaxUlong;
    BCryptHashData(state_->handle, Bytes(data), piece, 0);
    data += piece;
    size -= piece;
  }
}

void TZAHmacSha1::Final(std::uint8_t digest[kDigestSize]) {
  if (!state_->handle || BCryptFinishHash(state_->handle, digest, kDigestSize, 0) < 0)
    for (std::size_t i = 0; i < kDigestSize; ++i) digest[i] = 0;
  state_->Drop();
}

struct TZASha256::State : OwnedHandle<BCryptDestroyHash> {
  bool ok = false;
  void Start() {
    Drop();
    ok = Sha256() && BCryptCreateHash(Sha256(), &handle, nullptr, 0, nullptr, 0, 0) >= 0;
    if (!ok) handle = nullptr;
  }
};

TZASha256::TZASha256() : state_(std::make_unique<State>()) { state_->Start(); }
TZASha256::~TZASha256() = default;

void TZASha256::Update(const std::uint8_t* data, std::size_t size) {
  while (state_->ok && size > 0) {
    ULONG piece = size < kMaxUlong ? static_cast<ULONG>(size) : kMaxUlong;
    state_->ok = BCryptHashData(state_->handle, Bytes(data), piece, 0) >= 0;
    data += piece;
    size -= piece;
  }
}

bool TZASha256::Final(Digest& digest) {
  const bool ok = state_->ok && BCryptFinishHash(state_->handle, digest.data(), kDigestSize, 0) >= 0;
  state_->Start();
  return ok;
}

bool ZARandomBytes(std::uint8_t* out, std::size_t size) {
  while (size > 0) {
    ULONG n = static_cast<ULONG>(size < (1u << 20) ? size : (1u << 20));
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, n, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    out += n;
    size -= n;
  }
  return true;
}

bool ZAPbkdf2HmacSha1(std::string_view password, const std::uint8_t* salt, std::size_t saltSize,
                      std::uint32_t iterations, std::uint8_t* out, std::size_t outSize) {
  static const std::uint8_t kEmpty = 0;
  if (!HmacSha1() || password.size() > kMaxUlong || saltSize > kMaxUlong || outSize > kMaxUlong) return false;
  return BCryptDeriveKeyPBKDF2(HmacSha1(), Bytes(password.empty() ? static_cast<const void*>(&kEmpty) : password.data()),
                               static_cast<ULONG>(password.size()), Bytes(saltSize ? salt : &kEmpty),
                               static_cast<ULONG>(saltSize), iterations, out, static_cast<ULONG>(outSize), 0) >= 0;
}

}  // namespace za
