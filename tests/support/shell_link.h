// A shell link file read back through the shell's own link object.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <ostream>
#include <string>

#include "system/text.h"

struct TLinkFields {
  std::wstring Target, WorkDir, Icon;
  int IconIndex = -1;
  bool Loaded = false;
  bool operator==(const TLinkFields&) const = default;
};

inline void PrintTo(const TLinkFields& link, std::ostream* out) {
  *out << EncodeUtf8(link.Target) << " | " << EncodeUtf8(link.WorkDir) << " | " << EncodeUtf8(link.Icon) << ","
       << link.IconIndex << (link.Loaded ? "" : " (not loaded)");
}

inline TLinkFields ReadLink(const std::wstring& path) {
  TLinkFields f;
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        wchar_t buffer[MAX_PATH * 2] = {};
        link->GetPath(buffer, MAX_PATH * 2, nullptr, SLGP_RAWPATH);
        f.Target = buffer;
        buffer[0] = 0;
        link->GetWorkingDirectory(buffer, MAX_PATH * 2);
        f.WorkDir = buffer;
        buffer[0] = 0;
        link->GetIconLocation(buffer, MAX_PATH * 2, &f.IconIndex);
        f.Icon = buffer;
        f.Loaded = true;
      }
      file->Release();
    }
    link->Release();
  }
  CoUninitialize();
  return f;
}
