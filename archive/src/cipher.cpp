#include "archive/cipher.h"

#include "archive/ciphers.h"

namespace za {

namespace {
TZAEntryCipherFactory g_factory = ZABuiltInEntryCipher;
}  // namespace

std::unique_ptr<TZAEntryCipher> ZACreateEntryCipher(TZACryptoAlgorithm algorithm) {
  return g_factory ? g_factory(algorithm) : nullptr;
}

void SetZAEntryCipherFactory(TZAEntryCipherFactory factory) {
  g_factory = factory ? factory : ZABuiltInEntryCipher;
}

}  // namespace za
