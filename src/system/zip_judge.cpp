#include "system/zip_judge.h"

#include <algorithm>
#include <unordered_map>

#include "system/errors.h"

namespace {
[[noreturn]] void Refuse(const std::wstring& reason, const std::wstring& name) {
  throw Exception(reason + L": " + name);
}

// An upper-case letter at even code points and its lower-case form right after it.
bool EvenPairs(uint32_t u, uint32_t first, uint32_t last) { return u >= first && u <= last; }

struct TSeenName {
  std::wstring Name;
  bool IsFolder = false;
};

class TNameJudge {
 public:
  explicit TNameJudge(const TZipJudgeContext& context) : FContext(context) {
    for (const TExistingName& e : context.Existing) {
      std::wstring name = e.Name;
      if (!name.empty() && name.back() == L'\\') name.pop_back();
      if (!name.empty()) FExisting[FoldFileName(name)] = e.IsFolder;
    }
    for (const std::wstring& r : context.Reserved) FReserved.push_back(FoldFileName(r));
  }

  void Judge(const TZipItem& item) {
    const std::wstring& name = item.Name;
    if (name.empty()) throw Exception(L"Empty name in archive");
    if (item.Flags & 0x0001) Refuse(L"Encrypted entry in archive", name);
    if (ZipNameHasInvalidChars(name)) throw Exception(L"Invalid characters in path");
    if (ZipNameIsUnsafe(name)) Refuse(L"Unsafe path in archive", name);
    // The installation's record keeps names as UTF-8, which has no form for half a pair: such a
    // name would come back as another one.
    if (HasUnpairedSurrogate(name)) Refuse(L"Name with an unpaired surrogate in archive", name);

    const bool isFolder = item.IsFolder();
    // Windows drops "." segments from a path ("./readme.txt" is "readme.txt"); the name judged
    // is the one it writes.
    std::wstring path;
    size_t start = 0;
    const size_t end = isFolder ? name.size() - 1 : name.size();
    while (start <= end) {
      const size_t stop = std::min(name.find(L'\\', start), end);
      const std::wstring segment = name.substr(start, stop - start);
      start = stop + 1;
      if (segment == L"." && (isFolder || stop < end)) continue;
      // A file named "." or ending in "\." names a folder; a final dot or blank is dropped, so
      // such a name would land under another one.
      if (segment.empty() || segment.back() == L'.' || segment.back() == L' ')
        Refuse(L"Name Windows cannot write in archive", name);
      if (segment.size() > 255) Refuse(L"Name too long in archive", name);
      if (path.empty()) {
        const std::wstring top = FoldFileName(segment);
        for (const std::wstring& r : FReserved)
          if (top == r) Refuse(L"Name reserved for the installation in archive", name);
      } else {
        CheckLength(path.size(), kMaxFolderPath, name);
        Register(path, true, name);
        path += L'\\';
      }
      path += segment;
    }
    if (path.empty()) return;  // the product folder itself ("./")
    if (isFolder) {
      CheckLength(path.size(), kMaxFolderPath, name);
    } else {
      CheckLength(path.size(), kMaxFilePath, name);
      // The new file is written under a short temporary name in its own folder first.
      CheckLength(ExtractFilePath(path).size() + kTemporaryNameLength, kMaxFilePath, name);
    }
    Register(path, isFolder, name);
  }

 private:
  void CheckLength(size_t relative, size_t limit, const std::wstring& name) const {
    if (FContext.ProductFolderLength == 0) return;
    const size_t full = FContext.ProductFolderLength + relative;
    if (full > limit)
      Refuse(L"Path too long for the product folder (" + std::to_wstring(full) + L" characters, at most " +
                 std::to_wstring(limit) + L")",
             name);
  }

  void Register(const std::wstring& path, bool isFolder, const std::wstring& entry) {
    const std::wstring key = FoldFileName(path);
    const auto existing = FExisting.find(key);
    if (existing != FExisting.end() && existing->second != isFolder)
      Refuse(existing->second ? L"A folder of the product folder has the name of a file in archive"
                              : L"A file of the product folder has the name of a folder in archive",
             entry);
    const auto [seen, added] = FSeen.emplace(key, TSeenName{path, isFolder});
    if (added) return;
    if (seen->second.IsFolder != isFolder) Refuse(L"Name is both a file and a folder in archive", entry);
    if (isFolder) return;  // folders of the same name are one folder
    if (seen->second.Name == path) Refuse(L"Duplicate name in archive", entry);
    Refuse(L"Names differ only in letter case in archive", seen->second.Name + L", " + path);
  }

  const TZipJudgeContext& FContext;
  std::unordered_map<std::wstring, bool> FExisting;
  std::vector<std::wstring> FReserved;
  std::unordered_map<std::wstring, TSeenName> FSeen;
};
}  // namespace

bool HasUnpairedSurrogate(const std::wstring& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) return true;
  }
  return false;
}

wchar_t FoldFileNameChar(wchar_t c) {
  const uint32_t u = static_cast<uint32_t>(c);
  auto out = [](uint32_t v) { return static_cast<wchar_t>(v); };
  if (u < 0x80) return u >= 'a' && u <= 'z' ? out(u - 0x20) : c;
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return out(u - 0x20);
  if (u == 0xFF) return out(0x178);
  // Latin Extended-A: pairs with the capital first, at even or at odd code points.
  if ((EvenPairs(u, 0x100, 0x12F) || EvenPairs(u, 0x132, 0x137) || EvenPairs(u, 0x14A, 0x177)) && (u & 1))
    return out(u - 1);
  if ((EvenPairs(u, 0x139, 0x148) || EvenPairs(u, 0x179, 0x17E)) && !(u & 1)) return out(u - 1);
  // Greek.
  if (u == 0x3AC) return out(0x386);
  if (u >= 0x3AD && u <= 0x3AF) return out(u - 0x25);
  if (u == 0x3C2) return out(0x3A3);
  if ((u >= 0x3B1 && u <= 0x3C1) || (u >= 0x3C3 && u <= 0x3CB)) return out(u - 0x20);
  if (u == 0x3CC) return out(0x38C);
  if (u == 0x3CD || u == 0x3CE) return out(u - 0x3F);
  // Cyrillic and its supplement.
  if (u >= 0x430 && u <= 0x44F) return out(u - 0x20);
  if (u >= 0x450 && u <= 0x45F) return out(u - 0x50);
  if ((EvenPairs(u, 0x460, 0x481) || EvenPairs(u, 0x48A, 0x4BF) || EvenPairs(u, 0x4D0, 0x52F)) && (u & 1))
    return out(u - 1);
  if (EvenPairs(u, 0x4C1, 0x4CE) && !(u & 1)) return out(u - 1);
  if (u == 0x4CF) return out(0x4C0);
  // Armenian, Latin Extended Additional, full-width Latin.
  if (u >= 0x561 && u <= 0x586) return out(u - 0x30);
  if ((EvenPairs(u, 0x1E00, 0x1E95) || EvenPairs(u, 0x1EA0, 0x1EFF)) && (u & 1)) return out(u - 1);
  if (u >= 0xFF41 && u <= 0xFF5A) return out(u - 0x20);
  return c;
}

std::wstring FoldFileName(const std::wstring& name) {
  std::wstring folded(name);
  for (wchar_t& c : folded) c = FoldFileNameChar(c);
  return folded;
}

void JudgeZipNames(const std::vector<TZipItem>& items, const TZipJudgeContext& context) {
  TNameJudge judge(context);
  for (const TZipItem& item : items) judge.Judge(item);
}

std::vector<TZipItem> JudgeZipArchive(TZipSource& source, const TZipJudgeContext& context) {
  std::vector<TZipItem> items = ReadZipDirectory(source);
  for (TZipItem& item : items) JudgeZipEntry(source, item);
  JudgeZipNames(items, context);
  return items;
}
