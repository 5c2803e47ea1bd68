#include "system/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "system/errors.h"

namespace {
const wchar_t kKey[] = L"Software\\MorvaneTests\\Registry";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\MorvaneTests"); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\MorvaneTests"); }
};

// Values written through the wrapper, read back through the wrapper and through the API itself:
// the type each reader accepts, and the NUL that text readers rely on.
TEST_F(RegistryTest, ValuesRoundTripWithTheirTypes) {
  {
    const Sys::TRegKey key = Registry::CreateUserKey(kKey);
    Registry::WriteString(key.Get(), L"Text", L"Tandrel \u0422\u0435\u0441\u0442");
    Registry::WriteString(key.Get(), L"Empty", L"");
    Registry::WriteDword(key.Get(), L"Number", 0xFFFFFFFFu);
    const ULONGLONG wide = 5;
    RegSetValueExW(key.Get(), L"Wide", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&wide), sizeof wide);
    // A text without its NUL, as careless writers leave it.
    RegSetValueExW(key.Get(), L"Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"abc"), 3 * sizeof(wchar_t));
  }
  const Sys::TRegKey key = Registry::OpenUserKey(kKey);
  ASSERT_TRUE(key);
  EXPECT_EQ(Registry::ReadString(key.Get(), L"Text"), L"Tandrel \u0422\u0435\u0441\u0442");
  EXPECT_EQ(Registry::ReadString(key.Get(), L"Empty"), L"");
  EXPECT_EQ(Registry::ReadString(key.Get(), L"Bare"), L"abc");
  EXPECT_EQ(Registry::ReadDword(key.Get(), L"Number"), 0xFFFFFFFFu);
  EXPECT_EQ(Registry::ValueType(key.Get(), L"Number"), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Registry::ValueType(key.Get(), L"Text"), static_cast<DWORD>(REG_SZ));
  // A reader never takes a value of another type for its own.
  EXPECT_EQ(Registry::ReadDword(key.Get(), L"Wide"), std::nullopt);
  EXPECT_EQ(Registry::ReadDword(key.Get(), L"Text"), std::nullopt);
  EXPECT_EQ(Registry::ReadString(key.Get(), L"Number"), std::nullopt);
  EXPECT_EQ(Registry::ReadString(key.Get(), L"Missing"), std::nullopt);
  EXPECT_EQ(Registry::ValueType(key.Get(), L"Missing"), std::nullopt);

  DWORD size = 0;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, L"Empty", RRF_RT_REG_SZ, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof(wchar_t));  // the NUL alone

  const Sys::TRegKey writable = Registry::CreateUserKey(kKey);
  Registry::DeleteValue(writable.Get(), L"Text");
  Registry::DeleteValue(writable.Get(), L"Text");  // already gone: no failure
  EXPECT_EQ(Registry::ReadString(key.Get(), L"Text"), std::nullopt);
}

// A key goes with everything below it; one that is not there is gone already.
TEST_F(RegistryTest, KeyTreeIsDeleted) {
  Registry::WriteString(Registry::CreateUserKey(std::wstring(kKey) + L"\\Below\\Deeper").Get(), L"x", L"y");
  Registry::WriteDword(Registry::CreateUserKey(kKey).Get(), L"n", 1);
  ASSERT_TRUE(Registry::UserKeyExists(std::wstring(kKey) + L"\\Below\\Deeper"));
  EXPECT_TRUE(Registry::DeleteUserKeyTree(kKey));
  EXPECT_FALSE(Registry::UserKeyExists(kKey));
  EXPECT_TRUE(Registry::UserKeyExists(L"Software\\MorvaneTests"));
  EXPECT_TRUE(Registry::DeleteUserKeyTree(kKey));
  EXPECT_FALSE(Registry::OpenUserKey(kKey));
}
}  // namespace
