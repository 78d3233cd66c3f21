#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "sys/registry.h"
#include "sys/system.h"

namespace sys {
namespace {

// Each test gets a hive of its own.
class PosixRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ROVEND_REGISTRY", file.c_str(), 1); }
  void TearDown() override { unsetenv("ROVEND_REGISTRY"); }
  std::string Contents() const {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  support::TempDir dir;
  std::string file = dir.str() + "/hive/registry.reg";
};

TEST_F(PosixRegistryTest, KeysAndValuesReadBackFromTheFile) {
  Registry registry(Platform());
  ASSERT_TRUE(registry.OpenKey("\\Software\\Test\\Zones\\2", true));
  registry.WriteInteger("1001", 0);
  registry.WriteInteger("120B", 3);
  registry.WriteInteger("1001", 7);  // overwritten in place
  ASSERT_TRUE(registry.OpenKey("\\Software\\Test\\Domains\\edo.example\\", true));
  registry.WriteInteger("http", 2);
  registry.WriteInteger("https", -1);
  registry.CloseKey();
  EXPECT_EQ(Contents(),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software]\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Test\\Zones]\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Test\\Zones\\2]\r\n"
            "\"1001\"=dword:00000007\r\n"
            "\"120B\"=dword:00000003\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Test\\Domains]\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Test\\Domains\\edo.example]\r\n"
            "\"http\"=dword:00000002\r\n"
            "\"https\"=dword:ffffffff\r\n");
}

TEST_F(PosixRegistryTest, NamesCompareWithoutCaseAndBadPathsFail) {
  System& s = Platform();
  RegistryKey key = s.OpenUserKey("Software\\Case", true);
  ASSERT_NE(key, 0u);
  EXPECT_TRUE(s.SetDwordValue(key, "Value", 1));
  s.CloseUserKey(key);
  key = s.OpenUserKey("SOFTWARE\\case", false);
  ASSERT_NE(key, 0u);
  EXPECT_TRUE(s.SetDwordValue(key, "VALUE", 2));
  s.CloseUserKey(key);
  EXPECT_NE(Contents().find("\"Value\"=dword:00000002"), std::string::npos);

  EXPECT_EQ(s.OpenUserKey("Software\\Missing", false), 0u);
  EXPECT_EQ(s.OpenUserKey("", true), 0u);
  EXPECT_EQ(s.OpenUserKey("Software\\\\Double", true), 0u);
  EXPECT_EQ(s.OpenUserKey("Software\\" + std::string(256, 'k'), true), 0u);
  EXPECT_FALSE(s.SetDwordValue(12345, "x", 1));  // not an open key
}

TEST_F(PosixRegistryTest, WritingWithoutAKeyRaisesTheAccessorsError) {
  Registry registry(Platform());
  EXPECT_FALSE(registry.OpenKey("\\Software\\\\Broken", true));
  try {
    registry.WriteInteger("http", 2);
    FAIL();
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'http'");
  }
  // Relative paths go below the current key.
  ASSERT_TRUE(registry.OpenKey("\\Software", true));
  ASSERT_TRUE(registry.OpenKey("Child", true));
  EXPECT_EQ(registry.CurrentPath(), "Software\\Child");
}

TEST_F(PosixRegistryTest, DamagedHiveIsRefusedNotOverwritten) {
  std::filesystem::create_directories(dir.str() + "/hive");
  std::vector<std::string> damaged = {
      "[HKEY_LOCAL_MACHINE\\Software]\r\n",
      "[HKEY_CURRENT_USER\\Software]\r\n\"v\"=dword:\r\n",
      "[HKEY_CURRENT_USER\\Software]\r\n\"v\"=dword:12 \r\n",
  };
  // Values that once escaped as an exception or were cut to 32 bits.
  for (const char* name : {"registry_dword_not_hex.reg", "registry_dword_over_32_bits.reg"}) {
    std::ifstream in(std::string(ROVEND_SOURCE_DIR) + "/tests/data/malformed/" + name, std::ios::binary);
    damaged.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ASSERT_FALSE(damaged.back().empty()) << name;
  }
  for (const std::string& hive : damaged) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << hive;
    EXPECT_EQ(Platform().OpenUserKey("Software\\X", true), 0u) << hive;
    EXPECT_EQ(Contents(), hive);
  }
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "[HKEY_CURRENT_USER\\Software]\r\n\"v\"=dword:FfFf0001\r\n";
  RegistryKey key = Platform().OpenUserKey("Software", false);
  EXPECT_NE(key, 0u);
  Platform().CloseUserKey(key);
}

}  // namespace
}  // namespace sys
