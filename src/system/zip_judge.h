// Whether every entry of an archive can be written into the product folder as Windows will take
// it, decided before the first write. Portable: the publisher's check calls it without any
// product folder, the installation with the folder it is about to change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "system/zip_core.h"

// Something the product folder already holds, named relative to it with "\" between folders.
struct TExistingName {
  std::wstring Name;
  bool IsFolder = false;
};

// What the judge knows of the place the archive goes to. Everything is optional: an empty
// context judges the archive on its own.
struct TZipJudgeContext {
  // What the product folder holds now, every level of it; files and folders whose names the
  // archive uses for the other kind are refused.
  std::vector<TExistingName> Existing;
  // Names directly in the product folder that the archive may not use (the installation's own
  // files), compared as Windows compares names.
  std::vector<std::wstring> Reserved;
  // Length in UTF-16 code units of the product folder's full path, with its final "\"; 0 skips
  // the path-length rule.
  size_t ProductFolderLength = 0;
};

// Longest full path of a file and of a folder that programs without long-path support can
// create: MAX_PATH less its NUL, and less room for an 8.3 name inside a folder.
constexpr size_t kMaxFilePath = 259;
constexpr size_t kMaxFolderPath = 247;
// Length of the temporary names the installation writes new files under, in their own folder.
constexpr size_t kTemporaryNameLength = 11;

// The letter Windows compares a file-name character as (its upper-case form for the letters of
// the Latin, Greek, Cyrillic and Armenian blocks and full-width Latin; others as they are).
wchar_t FoldFileNameChar(wchar_t c);
std::wstring FoldFileName(const std::wstring& name);

// Whether a name holds half of a UTF-16 surrogate pair (a high one not followed by a low one,
// or a low one on its own), which UTF-8 cannot keep.
bool HasUnpairedSurrogate(const std::wstring& name);

// Judges decoded entries against the rules for names Windows cannot write, case-insensitive
// collisions, file/folder clashes (inside the archive and against context.Existing), encrypted
// entries and path lengths. Raises Exception with the reason and the entry's name.
void JudgeZipNames(const std::vector<TZipItem>& items, const TZipJudgeContext& context);

// Reads the directory and every local header of the archive (JudgeZipEntry) and judges the
// names; returns the entries with their names decoded. Raises Exception as extraction would,
// before anything is written.
std::vector<TZipItem> JudgeZipArchive(TZipSource& source, const TZipJudgeContext& context = {});
