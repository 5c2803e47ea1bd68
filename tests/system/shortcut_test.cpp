#include "system/shortcut.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <fstream>
#include <string>

#include "system/file_stream.h"
#include "system/text.h"

#include "support/here.h"
#include "support/shell_link.h"

namespace {
// Writes the links on the desktop, reads them back, and leaves copies with what they should
// hold in links\ for the lnkinfo check that runs after this program.
TEST(CreateDesktopShortcut, WritesReadsBackAndReplaces) {
  const std::wstring desktop = GetDesktopFolder();
  ASSERT_FALSE(desktop.empty());
  ASSERT_TRUE(DirectoryExists(desktop)) << EncodeUtf8(desktop);
  const std::wstring sep = desktop.back() == L'\\' ? L"" : L"\\";

  const std::wstring install = HereFolder() + L"shortcut-install\\";
  ForceDirectories(install);
  const std::wstring exe = install + L"Tandrel.exe";
  const std::wstring other = install + L"Other.exe";
  for (const std::wstring& p : {exe, other}) CopyFileW((HereFolder() + L"system_shortcut_tests.exe").c_str(), p.c_str(), FALSE);

  const std::wstring links = HereFolder() + L"links\\";
  ForceDirectories(links);
  std::wofstream expected((links + L"expected.txt").c_str());

  const struct {
    const wchar_t* Link;
    std::wstring Target, WorkDir, Icon;
  } cases[] = {
      {L"MorvaneTestFull.lnk", exe, install, exe},
      {L"MorvaneTestNoIcon.lnk", exe, install, L""},
      // Written twice: the second call replaces the first.
      {L"MorvaneTestTwice.lnk", exe, install, exe},
      {L"MorvaneTestTwice.lnk", other, HereFolder(), other},
  };
  for (const auto& c : cases) {
    CreateDesktopShortcut(c.Target, c.Link, c.WorkDir, c.Icon);
    const std::wstring path = desktop + sep + c.Link;
    const TLinkFields f = ReadLink(path);
    ASSERT_TRUE(f.Loaded) << EncodeUtf8(path);
    EXPECT_EQ(f.Target, c.Target);
    EXPECT_EQ(f.WorkDir, c.WorkDir);
    EXPECT_EQ(f.Icon, c.Icon);
    if (!c.Icon.empty()) {
      EXPECT_EQ(f.IconIndex, 0);
    }
    ASSERT_TRUE(CopyFileW(path.c_str(), (links + c.Link).c_str(), FALSE));
  }
  // One line per link as it stands now: file, target, working folder, icon.
  for (int i : {0, 1, 3})
    expected << cases[i].Link << L"|" << cases[i].Target << L"|" << cases[i].WorkDir << L"|" << cases[i].Icon << L"\n";
  for (const auto& c : cases) DeleteFileW((desktop + sep + c.Link).c_str());
}
}  // namespace

namespace {
// The Start-menu link holds what the desktop one holds, and the target read back from a link is
// what it was written with; a file that is no link gives nothing.
TEST(ProgramsShortcut, WritesAndReadsTheTargetBack) {
  const std::wstring programs = GetProgramsFolder();
  ASSERT_FALSE(programs.empty());
  ASSERT_TRUE(DirectoryExists(programs)) << EncodeUtf8(programs);
  const std::wstring install = HereFolder() + L"shortcut-install\\";
  ForceDirectories(install);
  const std::wstring exe = install + L"Tandrel.exe";
  CopyFileW((HereFolder() + L"system_shortcut_tests.exe").c_str(), exe.c_str(), FALSE);

  CreateProgramsShortcut(exe, L"MorvaneTestStart.lnk", install, exe);
  const std::wstring link = programs + (programs.back() == L'\\' ? L"" : L"\\") + L"MorvaneTestStart.lnk";
  const TLinkFields f = ReadLink(link);
  ASSERT_TRUE(f.Loaded) << EncodeUtf8(link);
  EXPECT_EQ(f.Target, exe);
  EXPECT_EQ(f.WorkDir, install);
  EXPECT_EQ(f.Icon, exe);
  EXPECT_EQ(f.IconIndex, 0);
  EXPECT_EQ(ReadShortcutTarget(link), exe);
  DeleteFileW(link.c_str());

  const std::wstring notALink = install + L"not-a-link.lnk";
  std::ofstream(notALink.c_str()) << "text";
  EXPECT_EQ(ReadShortcutTarget(notALink), std::nullopt);
  EXPECT_EQ(ReadShortcutTarget(install + L"missing.lnk"), std::nullopt);
}
}  // namespace
