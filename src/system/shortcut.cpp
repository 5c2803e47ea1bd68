#include "system/shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "system/errors.h"
#include "system/handles.h"
#include "system/win_error.h"

namespace {
const wchar_t kShellLinkClassText[] = L"{00021401-0000-0000-C000-000000000046}";

std::wstring ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const HRESULT hr = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (hr < 0) return std::wstring();
  return std::wstring(buffer);
}

void Write(const std::wstring& target, const std::wstring& linkName, const std::wstring& workDir,
           const std::wstring& iconFile, std::wstring (*folderOf)()) {
  Sys::TComPtr<IUnknown> object;
  const HRESULT created = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                           IID_IUnknown, object.PutVoid());
  if (FAILED(created))
    throw Exception(SysErrorMessage(static_cast<DWORD>(created)) + L", ClassID: " + kShellLinkClassText);

  Sys::TComPtr<IShellLinkW> link;
  if (FAILED(object->QueryInterface(IID_IShellLinkW, link.PutVoid())))
    throw Exception(L"Interface not supported");
  link->SetPath(target.c_str());
  link->SetWorkingDirectory(workDir.c_str());
  if (!iconFile.empty()) link->SetIconLocation(iconFile.c_str(), 0);

  Sys::TComPtr<IPersistFile> file;
  if (FAILED(object->QueryInterface(IID_IPersistFile, file.PutVoid())))
    throw Exception(L"Interface not supported");

  std::wstring folder = folderOf();
  if (folder.empty()) return;  // nowhere to put it
  if (folder.back() != L'\\') folder += L'\\';
  file->Save((folder + linkName).c_str(), TRUE);
  // The interfaces go before COM does: the destructors of file, link and object run first.
}
}  // namespace

std::wstring GetDesktopFolder() { return ShellFolder(CSIDL_DESKTOP); }

std::wstring GetProgramsFolder() { return ShellFolder(CSIDL_PROGRAMS); }

void CreateDesktopShortcut(const std::wstring& target, const std::wstring& linkName,
                           const std::wstring& workDir, const std::wstring& iconFile) {
  // COM for this call only; its result is not looked at (an apartment may already exist).
  const Sys::TComInit com;
  Write(target, linkName, workDir, iconFile, &GetDesktopFolder);
}

void CreateProgramsShortcut(const std::wstring& target, const std::wstring& linkName,
                            const std::wstring& workDir, const std::wstring& iconFile) {
  const Sys::TComInit com;
  Write(target, linkName, workDir, iconFile, &GetProgramsFolder);
}

std::optional<std::wstring> ReadShortcutTarget(const std::wstring& linkPath) {
  const Sys::TComInit com;
  Sys::TComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid())))
    return std::nullopt;
  Sys::TComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) return std::nullopt;
  if (FAILED(file->Load(linkPath.c_str(), STGM_READ))) return std::nullopt;
  wchar_t buffer[MAX_PATH * 4] = {};
  // The raw path: no search for a moved target, which could name some other file.
  if (FAILED(link->GetPath(buffer, static_cast<int>(std::size(buffer)), nullptr, SLGP_RAWPATH))) return std::nullopt;
  return std::wstring(buffer);
}
