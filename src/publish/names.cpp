#include "publish/names.h"

#include <algorithm>

#include "system/errors.h"
#include "system/text.h"
#include "system/uninstaller_name.h"
#include "system/zip_judge.h"

namespace {
// "C:\Users\" and "\AppData\Local\Tandrel\" around the user's folder name.
constexpr int kInstallFolderLength = 9 + 23;

std::vector<std::wstring> Segments(const std::wstring& name) {
  std::vector<std::wstring> segments;
  size_t start = 0;
  for (;;) {
    const size_t stop = name.find(L'\\', start);
    segments.push_back(name.substr(start, stop == std::wstring::npos ? std::wstring::npos : stop - start));
    if (stop == std::wstring::npos) return segments;
    start = stop + 1;
  }
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring CharacterText(wchar_t c) {
  if (c < 0x20) {
    std::wstring hex = L"U+00";
    hex += L"0123456789ABCDEF"[c >> 4];
    hex += L"0123456789ABCDEF"[c & 15];
    return L"the control character " + hex;
  }
  return Quoted(std::wstring(1, c));
}

// Why Windows cannot write a name the judge refused on its own, in the publisher's words.
std::optional<std::wstring> Explain(const std::wstring& name) {
  const auto bad = std::find_if(name.begin(), name.end(), [](wchar_t c) {
    return c < 0x20 || c == L'"' || c == L'<' || c == L'>' || c == L'|' || c == L'?' || c == L'*';
  });
  if (bad != name.end()) return L"it holds " + CharacterText(*bad) + L", which Windows does not allow in a file name";
  if (name.empty()) return std::wstring(L"the name is empty");
  if (HasUnpairedSurrogate(name))
    return std::wstring(L"it holds half of a UTF-16 surrogate pair, which no UTF-8 text can keep");
  if (name.front() == L'\\') return std::wstring(L"it begins with \"\\\": it would be written outside the product folder");
  if (name.find(L':') != std::wstring::npos)
    return std::wstring(L"it holds \":\", which Windows reads as a drive or a hidden data stream");
  std::vector<std::wstring> segments = Segments(name);
  const bool folder = segments.size() > 1 && segments.back().empty();
  if (folder) segments.pop_back();
  if (!folder && segments.back() == L".") return std::wstring(L"it is a file named \".\", which names the folder it is in");
  for (const std::wstring& segment : segments) {
    if (segment == L".") continue;  // the folder it is in, as tools write "./name"
    if (segment.empty()) return std::wstring(L"it has an empty folder part (two \"\\\" in a row)");
    if (segment.find_first_not_of(L". ") == std::wstring::npos && std::count(segment.begin(), segment.end(), L'.') >= 2)
      return L"its part " + Quoted(segment) + L" climbs out of the product folder";
    if (segment.back() == L'.' || segment.back() == L' ')
      return L"its part " + Quoted(segment) + L" ends with a dot or a blank, which Windows drops from names";
    if (ZipNameIsUnsafe(segment))
      return L"its part " + Quoted(segment) + L" is a device name on Windows (CON, NUL, COM1...): no file can have it";
    if (segment.size() > 255) return L"its part " + Quoted(segment.substr(0, 20) + L"...") + L" is longer than 255 characters";
  }
  const int room = UserNameRoom(name);
  if (room < kUsualUserNameRoom)
    return L"the path is " + IntToStr(static_cast<int64_t>(name.size())) + L" characters long: installed below "
           L"C:\\Users\\<user>\\AppData\\Local\\Tandrel\\ it passes Windows' path limit " +
           (room < 0 ? std::wstring(L"for every user")
                     : L"for user folder names longer than " + IntToStr(room) + L" characters");
  return std::nullopt;
}

// What every user's launcher knows of the place it installs to: its own names, and a product
// folder below a user folder of the longest name Windows makes.
TZipJudgeContext EveryUser() {
  TZipJudgeContext context;
  // Its work folder, the downloaded archive and the uninstaller it keeps beside the product.
  context.Reserved = {L"morvane-install", L"Update.zip", kUninstallerExe};
  context.ProductFolderLength = kInstallFolderLength + kUsualUserNameRoom;
  return context;
}
}  // namespace

int UserNameRoom(const std::wstring& name) {
  const bool folder = !name.empty() && name.back() == L'\\';
  const int length = static_cast<int>(name.size()) - (folder ? 1 : 0);
  const size_t cut = name.find_last_of(L'\\', folder ? name.size() - 2 : std::wstring::npos);
  int room = static_cast<int>(folder ? kMaxFolderPath : kMaxFilePath) - kInstallFolderLength - length;
  // Every folder above it is a folder path; a file is first written under a short temporary
  // name in its folder.
  if (cut != std::wstring::npos) room = std::min(room, static_cast<int>(kMaxFolderPath) - kInstallFolderLength - static_cast<int>(cut));
  return room;
}

std::optional<TNameRefusal> JudgeForEveryUser(const std::vector<TZipItem>& items) {
  const TZipJudgeContext context = EveryUser();
  for (size_t i = 0; i < items.size(); ++i) {
    try {
      JudgeZipNames({items[i]}, context);
    } catch (const Exception& e) {
      const std::optional<std::wstring> why = Explain(items[i].Name);
      return TNameRefusal{i, why ? *why + L" (the launcher: \"" + e.Message() + L"\")"
                                 : L"the launcher refuses it: \"" + e.Message() + L"\""};
    }
  }
  try {
    JudgeZipNames(items, context);
  } catch (const Exception& e) {
    // A clash: the entry that makes it is the end of the shortest refused run from the start
    // (a refused run stays refused when it grows).
    size_t low = 0, high = items.size() - 1;  // the run up to high is refused
    while (low < high) {
      const size_t middle = low + (high - low) / 2;
      try {
        JudgeZipNames(std::vector<TZipItem>(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(middle) + 1),
                      context);
        low = middle + 1;
      } catch (const Exception&) {
        high = middle;
      }
    }
    const size_t index = high;
    return TNameRefusal{index, L"the launcher refuses it: \"" + e.Message() + L"\""};
  }
  return std::nullopt;
}
