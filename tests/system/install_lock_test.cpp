#include "system/install_lock.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <memory>
#include <thread>

#include "support/here.h"
#include "system/text.h"

namespace {
// A folder of the test's own below the test's folder, existing or not.
std::wstring Folder(const std::wstring& name) { return HereFolder() + L"lock-work\\" + name; }

// Every spelling of one folder names one lock; another folder names another one.
TEST(InstallLockName, OneNamePerFolder) {
  CreateDirectoryW((HereFolder() + L"lock-work").c_str(), nullptr);
  CreateDirectoryW(Folder(L"Product Folder").c_str(), nullptr);
  const std::wstring name = InstallLockName(Folder(L"Product Folder"));
  EXPECT_EQ(name.rfind(L"Local\\", 0), 0u) << EncodeUtf8(name);
  EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos) << EncodeUtf8(name);
  EXPECT_LE(name.size(), static_cast<size_t>(MAX_PATH));

  std::wstring shortForm(MAX_PATH, L'\0');
  shortForm.resize(GetShortPathNameW(Folder(L"Product Folder").c_str(), shortForm.data(), MAX_PATH));
  const struct {
    const char* What;
    std::wstring Spelling;
  } same[] = {
      {"final backslash", Folder(L"Product Folder\\")},
      {"letter case", Folder(L"PRODUCT folder")},
      {"dot segments", Folder(L"x\\..\\Product Folder\\.")},
      {"short name", shortForm},
  };
  for (const auto& c : same) EXPECT_EQ(InstallLockName(c.Spelling), name) << c.What << ": " << EncodeUtf8(c.Spelling);

  // Before and after the folder is made: one name, so a first installation is kept apart too.
  RemoveDirectoryW(Folder(L"New").c_str());
  const std::wstring before = InstallLockName(Folder(L"new\\"));
  CreateDirectoryW(Folder(L"New").c_str(), nullptr);
  EXPECT_EQ(InstallLockName(Folder(L"New")), before);
  RemoveDirectoryW(Folder(L"New").c_str());

  EXPECT_NE(InstallLockName(Folder(L"Product Folder 2")), name);
  EXPECT_NE(InstallLockName(Folder(L"Product")), name);
}

// The probe holds the lock of a folder in another process.
class HeldElsewhere : public testing::Test {
 protected:
  void SetUp() override {
    FEventName = L"Local\\morvane-lock-test-" + std::to_wstring(GetCurrentProcessId());
    FEvent = CreateEventW(nullptr, TRUE, FALSE, FEventName.c_str());
  }
  void TearDown() override {
    CloseProbe();
    CloseHandle(FEvent);
  }
  void CloseProbe() {
    if (!FProbe.hProcess) return;
    TerminateProcess(FProbe.hProcess, 1);
    WaitForSingleObject(FProbe.hProcess, 10000);
    CloseHandle(FProbe.hProcess);
    CloseHandle(FProbe.hThread);
    FProbe = {};
  }
  // Starts the probe on the folder; true once it holds the lock.
  bool HoldInProbe(const std::wstring& folder) {
    CloseProbe();
    ResetEvent(FEvent);
    std::wstring command = L"\"" + HereFolder() + L"process_probe.exe\" lock \"" + folder + L"\" " + FEventName;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &FProbe))
      return false;
    const HANDLE both[] = {FEvent, FProbe.hProcess};
    return WaitForMultipleObjects(2, both, FALSE, 60000) == WAIT_OBJECT_0;
  }
  void KillProbe() {
    TerminateProcess(FProbe.hProcess, 1);
    WaitForSingleObject(FProbe.hProcess, 60000);
  }

  HANDLE FEvent = nullptr;
  std::wstring FEventName;
  PROCESS_INFORMATION FProbe{};
};

// Held by another process, the lock is refused without waiting; a killed holder lets go, and
// the next one learns that it died.
TEST_F(HeldElsewhere, KilledHolderLetsGoAndIsNamedAbandoned) {
  CreateDirectoryW((HereFolder() + L"lock-work").c_str(), nullptr);
  const std::wstring folder = Folder(L"Held");
  ASSERT_TRUE(HoldInProbe(folder));

  TInstallLock same(Folder(L"HELD"));
  EXPECT_FALSE(same.TryAcquire());
  EXPECT_FALSE(same.Held());
  TInstallLock other(Folder(L"Other"));
  EXPECT_TRUE(other.TryAcquire());
  EXPECT_FALSE(other.Abandoned());

  KillProbe();
  ASSERT_TRUE(same.TryAcquire());
  EXPECT_TRUE(same.Abandoned());
  same.Release();
  EXPECT_FALSE(same.Held());

  // Held and killed again while a thread waits: the waiter wakes, and lets go in order, so
  // the next holder finds nothing abandoned.
  ASSERT_TRUE(HoldInProbe(folder));
  std::thread waiter([&] { TInstallLock::WaitUntilFree(folder); });
  KillProbe();
  waiter.join();
  TInstallLock again(folder);
  ASSERT_TRUE(again.TryAcquire());
  EXPECT_FALSE(again.Abandoned());
}

// The lock belongs to a thread: another thread of the same process is kept out as well, and a
// lock let go by its object's end is free again.
TEST(InstallLock, OtherThreadIsKeptOutUntilTheHolderLetsGo) {
  const std::wstring folder = Folder(L"Threads");
  auto holder = std::make_unique<TInstallLock>(folder);
  ASSERT_TRUE(holder->TryAcquire());
  bool taken = true;
  std::thread([&] { taken = TInstallLock(folder).TryAcquire(); }).join();
  EXPECT_FALSE(taken);
  holder.reset();
  std::thread([&] {
    TInstallLock lock(folder);
    taken = lock.TryAcquire();
  }).join();
  EXPECT_TRUE(taken);
}
}  // namespace
