#include "app/launcher_window.h"

#include "system/version_compare.h"

TRemoteFile TLauncherWindow::GetFileLink(const std::wstring& folderLink, const std::wstring& fileName) {
  return FindRemoteFile(folderLink, fileName);
}

std::wstring TLauncherWindow::GetRemoteVersion(const std::wstring& folderLink, const std::wstring& fileName) {
  return GetRemoteVersionText(folderLink, fileName);
}

int TLauncherWindow::CompareVersions(const std::wstring& first, const std::wstring& second) {
  return CompareVersionTexts(first, second);
}
