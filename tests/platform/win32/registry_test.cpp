// GetEXEPath against Wine's (or Windows') real registry, with an App Paths
// key that the test makes and removes.
#include <gtest/gtest.h>

#include "tov32/faults/fault_records.h"
#include "tov32/platform/win32/windows_support.h"
#include "tov32/probes/host.h"

namespace {

const char* const kKey = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\norva-test-tool.exe";

class RealRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) !=
        ERROR_SUCCESS) {
      GTEST_SKIP() << "this user cannot create keys under HKEY_LOCAL_MACHINE";
    }
  }
  void TearDown() override {
    if (key_ != nullptr) RegCloseKey(key_);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
  }
  void SetText(const char* name, const char* text) {
    RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
  }
  HKEY key_ = nullptr;
};

TEST_F(RealRegistryTest, PathValueAndDefaultValue) {
  SetText(nullptr, "C:\\Tools\\norva-test-tool.exe");
  EXPECT_EQ(tov32::GetEXEPath("norva-test-tool.exe"), "C:\\Tools\\norva-test-tool.exe");
  SetText("Path", "C:\\Tools;");
  EXPECT_EQ(tov32::GetEXEPath("norva-test-tool.exe"), "C:\\Tools\\\\norva-test-tool.exe");
  const DWORD number = 7;
  RegSetValueExA(key_, "Path", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  EXPECT_EQ(tov32::GetEXEPath("norva-test-tool.exe"), "");
  EXPECT_EQ(tov32::GetEXEPath("norva-missing-tool.exe"), "");
  EXPECT_EQ(tov32::GlobalSettings.NestingCount, 0);
}

}  // namespace
