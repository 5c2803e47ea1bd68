#include "system/processes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/here.h"

namespace {
std::wstring CharUpperCopy(std::wstring text) {
  CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// Copies of the probe under the names the tests look for, in a folder of their own.
class ProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    FFolder = HereFolder() + L"process-probes\\";
    CreateDirectoryW(FFolder.c_str(), nullptr);
    for (const wchar_t* name : {L"TandrelProbe.exe", L"\u041F\u0440\u043E\u0431\u0430Tandrel.exe", L"SelfStopper.exe"})
      ASSERT_TRUE(CopyFileW((HereFolder() + L"process_probe.exe").c_str(), (FFolder + name).c_str(), FALSE));
  }
  void TearDown() override {
    for (HANDLE h : FStarted) {
      TerminateProcess(h, 1);
      WaitForSingleObject(h, 10000);
      CloseHandle(h);
    }
  }

  HANDLE Start(const std::wstring& name, const std::wstring& args = L"") { return StartIn(FFolder, name, args); }
  HANDLE StartIn(const std::wstring& folder, const std::wstring& name, const std::wstring& args = L"") {
    std::wstring command = L"\"" + folder + name + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, FFolder.c_str(), &si, &pi))
        << GetLastError();
    CloseHandle(pi.hThread);
    FStarted.push_back(pi.hProcess);
    return pi.hProcess;
  }

  static DWORD ExitCodeAfterEnd(HANDLE process) {
    EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
    DWORD code = 12345;
    GetExitCodeProcess(process, &code);
    return code;
  }

  std::wstring FFolder;
  std::vector<HANDLE> FStarted;
};

TEST_F(ProcessTest, NamesMatchAsciiCaseOnly) {
  Start(L"TandrelProbe.exe");
  Start(L"\u041F\u0440\u043E\u0431\u0430Tandrel.exe");
  const struct {
    const wchar_t* Name;
    bool Running;
  } cases[] = {
      {L"TandrelProbe.exe", true},
      {L"TANDRELPROBE.EXE", true},
      {L"tandrelprobe.exe", true},
      {L"TandrelProbe", false},
      {L"C:\\Programs\\TandrelProbe.exe", false},
      {L"Tandrel.exe", false},
      {L"TandrelProbe.exe ", false},
      {L"\u041F\u0440\u043E\u0431\u0430Tandrel.exe", true},
      {L"\u041F\u0440\u043E\u0431\u0430TANDREL.EXE", true},
      {L"\u043F\u0440\u043E\u0431\u0430Tandrel.exe", false},  // lower-case Cyrillic pe
      {L"\u041F\u0420\u041E\u0411\u0410Tandrel.exe", false},  // upper-case Cyrillic
      {L"NoSuchProcessAnywhere.exe", false},
      {L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsProcessRunning(c.Name), c.Running) << testing::PrintToString(std::wstring(c.Name));
}

TEST_F(ProcessTest, KillStopsEveryInstance) {
  HANDLE first = Start(L"TandrelProbe.exe");
  HANDLE second = Start(L"TandrelProbe.exe");
  HANDLE other = Start(L"\u041F\u0440\u043E\u0431\u0430Tandrel.exe");
  KillProcessByName(L"tandrelprobe.EXE");
  EXPECT_EQ(ExitCodeAfterEnd(first), 0u);
  EXPECT_EQ(ExitCodeAfterEnd(second), 0u);
  EXPECT_EQ(WaitForSingleObject(other, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // another name
  EXPECT_TRUE(IsProcessRunning(L"\u041F\u0440\u043E\u0431\u0430Tandrel.exe"));
}

TEST_F(ProcessTest, KillWithoutMatchChangesNothing) {
  HANDLE probe = Start(L"TandrelProbe.exe");
  KillProcessByName(L"NoSuchProcessAnywhere.exe");
  KillProcessByName(L"TandrelProbe");
  EXPECT_EQ(WaitForSingleObject(probe, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(ProcessTest, KillExceptSparesTheGivenProcess) {
  HANDLE spared = Start(L"TandrelProbe.exe");
  HANDLE stopped = Start(L"TandrelProbe.exe");
  KillProcessByNameExcept(L"TandrelProbe.exe", GetProcessId(spared));
  EXPECT_EQ(ExitCodeAfterEnd(stopped), 0u);
  EXPECT_EQ(WaitForSingleObject(spared, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(ProcessTest, KillingOwnNameEndsTheCallerWithCodeZero) {
  HANDLE self = Start(L"SelfStopper.exe", L"kill-self");
  EXPECT_EQ(ExitCodeAfterEnd(self), 0u);  // 7 would mean it survived its own walk
}

// The product's processes are stopped only where the product lives: a program of the same name
// in another folder keeps running, whatever the letter case of the folder as given.
TEST_F(ProcessTest, StopInFolderComparesTheWholePath) {
  const std::wstring product = FFolder + L"\u041F\u0440\u043E\u0434\u0443\u043A\u0442\\";  // "Продукт"
  const std::wstring elsewhere = FFolder + L"elsewhere\\";
  for (const std::wstring& folder : {product, elsewhere}) {
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((HereFolder() + L"process_probe.exe").c_str(), (folder + L"Tandrel.exe").c_str(), FALSE));
  }
  const struct {
    const char* What;
    std::wstring Folder;
    bool Stops;
  } cases[] = {
      {"the folder as it is", product, true},
      {"upper-case Cyrillic and Latin", CharUpperCopy(product), true},
      {"without the final backslash", product.substr(0, product.size() - 1), true},
      {"another folder", FFolder + L"other\\", false},
      {"the parent folder", FFolder, false},
  };
  for (const auto& c : cases) {
    HANDLE inProduct = StartIn(product, L"Tandrel.exe");
    HANDLE other = StartIn(elsewhere, L"Tandrel.exe");
    StopProcessesInFolder(L"TANDREL.exe", c.Folder);
    if (c.Stops) {
      // Waited for: it has ended when the call returns.
      EXPECT_EQ(WaitForSingleObject(inProduct, 0), WAIT_OBJECT_0) << c.What;
    } else {
      EXPECT_EQ(WaitForSingleObject(inProduct, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << c.What;
    }
    EXPECT_EQ(WaitForSingleObject(other, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << c.What;
    TerminateProcess(inProduct, 1);
    TerminateProcess(other, 1);
    WaitForSingleObject(inProduct, 10000);
    WaitForSingleObject(other, 10000);
  }
}

TEST_F(ProcessTest, StopInFolderSparesTheCaller) {
  HANDLE self = Start(L"TandrelProbe.exe", L"stop-own");
  EXPECT_EQ(ExitCodeAfterEnd(self), 8u);
}

TEST(IsWindows64, TrueOnX64) { EXPECT_TRUE(IsWindows64()); }
}  // namespace
