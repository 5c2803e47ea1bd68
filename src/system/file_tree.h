// Everything below a folder, for measuring it and for taking it apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TTreeEntry {
  std::wstring Path;  // full path
  bool IsFolder = false;
  // A junction or symbolic link: listed, never entered, so nothing outside the folder is reached.
  bool IsLink = false;
  uint64_t Size = 0;  // bytes of a file; 0 for folders and links
};

// Every file and folder below folder (not the folder itself), each folder listed after what it
// holds. Empty when the folder does not exist.
std::vector<TTreeEntry> ListTree(const std::wstring& folder);
// The bytes of all files below folder.
uint64_t TreeBytes(const std::wstring& folder);
// Whether path names folder or something below it, names compared as Windows compares them.
// Both are taken as full paths; ".." segments are resolved first.
bool PathIsInside(const std::wstring& path, const std::wstring& folder);
