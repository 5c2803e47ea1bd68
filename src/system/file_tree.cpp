#include "system/file_tree.h"

#include <windows.h>

#include "system/file_stream.h"
#include "system/handles.h"
#include "system/zip_judge.h"

namespace {
void Walk(const std::wstring& folder, std::vector<TTreeEntry>& out) {
  WIN32_FIND_DATAW data;
  Sys::TFindHandle find(FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                         nullptr, 0));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    TTreeEntry entry;
    entry.Path = folder + name;
    entry.IsFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.IsLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!entry.IsFolder && !entry.IsLink)
      entry.Size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (entry.IsFolder && !entry.IsLink) Walk(entry.Path + L"\\", out);
    out.push_back(std::move(entry));
  } while (FindNextFileW(find.Get(), &data));
}

std::wstring WithBackslash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}
}  // namespace

std::vector<TTreeEntry> ListTree(const std::wstring& folder) {
  std::vector<TTreeEntry> out;
  if (!folder.empty()) Walk(WithBackslash(folder), out);
  return out;
}

uint64_t TreeBytes(const std::wstring& folder) {
  uint64_t total = 0;
  for (const TTreeEntry& entry : ListTree(folder)) total += entry.Size;
  return total;
}

bool PathIsInside(const std::wstring& path, const std::wstring& folder) {
  if (path.empty() || folder.empty()) return false;
  const std::wstring inner = WithBackslash(FoldFileName(ExpandFileName(path)));
  const std::wstring outer = WithBackslash(FoldFileName(ExpandFileName(folder)));
  return inner.compare(0, outer.size(), outer) == 0;
}
