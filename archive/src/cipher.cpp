#include "archive/cipher.h"

namespace za {

namespace {
TZAEntryCipherFactory g_factory = nullptr;
}  // namespace

std::unique_ptr<TZAEntryCipher> ZACreateEntryCipher(TZACryptoAlgorithm algorithm) {
  return g_factory ? g_factory(algorithm) : nullptr;
}

void SetZAEntryCipherFactory(TZAEntryCipherFactory factory) { g_factory = factory; }

}  // namespace za
