#include "archive/crypto_primitives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(std::stoi(text.substr(i, 2), nullptr, 16));
  return bytes;
}

std::vector<std::uint8_t> Counting(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(CryptoTest, AesEncryptsTheFips197Examples) {
  const std::vector<std::uint8_t> plain = Hex("00112233445566778899aabbccddeeff");
  const struct {
    std::size_t keySize;
    const char* cipher;
  } cases[] = {{16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
               {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
               {32, "8ea2b7ca516745bfeafc49904b496089"}};
  for (const auto& c : cases) {
    za::TZAAesBlockCipher aes;
    ASSERT_TRUE(aes.SetKey(Counting(c.keySize).data(), c.keySize));
    // Three copies in one call: every block is encrypted on its own.
    std::vector<std::uint8_t> in, out(48);
    for (int i = 0; i < 3; ++i) in.insert(in.end(), plain.begin(), plain.end());
    aes.EncryptBlocks(in.data(), out.data(), 3);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 16 * i, out.begin() + 16 * (i + 1)), Hex(c.cipher))
          << c.keySize;
  }
  za::TZAAesBlockCipher aes;
  EXPECT_FALSE(aes.SetKey(Counting(20).data(), 20));
}

TEST(CryptoTest, Sha256MatchesFips180ExamplesInOneOrManyPieces) {
  const struct {
    std::vector<std::uint8_t> data;
    const char* digest;
  } cases[] = {
      {{}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {Bytes("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::vector<std::uint8_t>(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  za::TZASha256 sha;
  for (const auto& c : cases) {
    za::TZASha256::Digest whole, pieces;
    sha.Update(c.data.data(), c.data.size());
    ASSERT_TRUE(sha.Final(whole));
    EXPECT_EQ(std::vector<std::uint8_t>(whole.begin(), whole.end()), Hex(c.digest));
    // Final starts the next hash: the same object hashes again from nothing.
    for (std::size_t at = 0; at < c.data.size(); at += 61)
      sha.Update(c.data.data() + at, std::min<std::size_t>(61, c.data.size() - at));
    ASSERT_TRUE(sha.Final(pieces));
    EXPECT_EQ(pieces, whole);
  }
}

TEST(CryptoTest, HmacSha1MatchesRfc2202InOneOrManyPieces) {
  const struct {
    std::vector<std::uint8_t> key, data;
    const char* digest;
  } cases[] = {
      {std::vector<std::uint8_t>(20, 0x0b), Bytes("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
      {Bytes("Jefe"), Bytes("what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {std::vector<std::uint8_t>(20, 0xaa), std::vector<std::uint8_t>(50, 0xdd),
       "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      // A key longer than the block is hashed first.
      {std::vector<std::uint8_t>(80, 0xaa), Bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
  };
  za::TZAHmacSha1 hmac;  // one object, keyed again for every case
  for (const auto& c : cases) {
    for (std::size_t piece : {c.data.size(), std::size_t{1}, std::size_t{7}}) {
      ASSERT_TRUE(hmac.SetKey(c.key.data(), c.key.size()));
      for (std::size_t at = 0; at < c.data.size(); at += piece)
        hmac.Update(c.data.data() + at, std::min(piece, c.data.size() - at));
      std::uint8_t digest[za::TZAHmacSha1::kDigestSize];
      hmac.Final(digest);
      EXPECT_EQ(std::vector<std::uint8_t>(digest, digest + sizeof digest), Hex(c.digest)) << piece;
    }
  }
}

TEST(CryptoTest, Pbkdf2MatchesRfc6070) {
  using namespace std::string_literals;
  const struct {
    std::string password, salt;
    std::uint32_t iterations;
    const char* derived;
  } cases[] = {
      {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {"pass\0word"s, "sa\0lt"s, 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> expected = Hex(c.derived), out(expected.size());
    ASSERT_TRUE(za::ZAPbkdf2HmacSha1(c.password, reinterpret_cast<const std::uint8_t*>(c.salt.data()), c.salt.size(),
                                     c.iterations, out.data(), out.size()));
    EXPECT_EQ(out, expected) << c.iterations;
  }
  // An empty password is valid input, and differs from any other.
  std::uint8_t empty[20], other[20];
  ASSERT_TRUE(za::ZAPbkdf2HmacSha1("", reinterpret_cast<const std::uint8_t*>("salt"), 4, 1000, empty, 20));
  ASSERT_TRUE(za::ZAPbkdf2HmacSha1("x", reinterpret_cast<const std::uint8_t*>("salt"), 4, 1000, other, 20));
  EXPECT_NE(std::vector<std::uint8_t>(empty, empty + 20), std::vector<std::uint8_t>(other, other + 20));
}

TEST(CryptoTest, Pbkdf2HashesPasswordsLongerThanTheHmacBlock) {
  // Keys, code key and verifier of AES-256 (66 bytes) from 1000 iterations,
  // as zip entries derive them; 64 bytes is the last password used as it is.
  auto password = [](std::size_t size, int step, char first, int range) {
    std::string p;
    for (std::size_t i = 0; i < size; ++i) p.push_back(static_cast<char>(first + static_cast<int>(i) * step % range));
    return p;
  };
  const std::vector<std::uint8_t> text = Bytes("0123456789abcdef"), counting = Counting(16);
  const struct {
    std::string password;
    const std::vector<std::uint8_t>& salt;
    const char* derived;
  } cases[] = {
      {password(64, 1, 'a', 26), text,
       "f68f64cbd310bb10de1181575a3e09944e4b4cbee1e1ca6b11748be45fbf0f9d471c865f4421ca253382b8900d88bb4bc79ceecf0e9fc4"
       "a8e246275a97915b55e956"},
      {password(65, 1, 'a', 26), text,
       "a264ecb3dd3c0097e4689dccb8f8f23d7583d20b1de4bea9c8cfc1fa4a58e86d247605d055f0886b799e92fcc9edba090296dfd9184f7f"
       "9190bcc70d60a4bef88c4a"},
      {password(1000, 7, '!', 94), counting,
       "f99d0eee35d443a034ed0d5c235556caaa6e2d9a89b58f52427c334cc0789c8eaed2cfc5873793d49d0afe5207a4bb013f0362d130360"
       "54bd33e210679644acb238a"},
      // Longer than any fixed buffer a password might be copied into.
      {password(40000, 7, '!', 94), counting,
       "71263ae6ef8a2d3d02e40220ba4b2c6bc45be9d39a3f6c0bcd6d31e6b430f2fcef7ff292a7464ca702789f4f022035365d2d96ede3c1d99"
       "7a8e0fb8d3459c4c609a3"},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> expected = Hex(c.derived), out(expected.size());
    ASSERT_EQ(out.size(), 66u);
    ASSERT_TRUE(za::ZAPbkdf2HmacSha1(c.password, c.salt.data(), c.salt.size(), 1000, out.data(), out.size()));
    EXPECT_EQ(out, expected) << c.password.size();
  }
}

}  // namespace
