#include "publish/release_check.h"

#include <algorithm>
#include <set>

#include "system/changes_page.h"
#include "system/errors.h"
#include "system/pe_version.h"
#include "system/text.h"
#include "system/version_compare.h"
#include "system/zip_core.h"

namespace {
const wchar_t kProgram[] = L"Tandrel.exe";

// "." segments name the folder they are in: ".\Tandrel.exe" lands where "Tandrel.exe" does.
std::wstring WithoutDotSegments(const std::wstring& name) {
  std::wstring out;
  size_t start = 0;
  while (start < name.size()) {
    const size_t stop = std::min(name.find(L'\\', start), name.size());
    const std::wstring segment = name.substr(start, stop - start + (stop < name.size() ? 1 : 0));
    if (segment != L"." && segment != L".\\") out += segment;
    start = stop + 1;
  }
  return out;
}

// Takes in what the launcher's own extraction would write, without writing it.
class TArchiveWalk final : public TZipOutput {
 public:
  std::vector<std::wstring> Names;  // in archive order
  std::string Program;              // the bytes of "Tandrel.exe" at the root
  bool HasProgram = false;

  void MakeFolder(const TZipItem& item) override {
    Names.push_back(WithoutDotSegments(item.Name));
    if (item.IsFolder()) ++Done;
    FInProgram = !item.IsFolder() && SameTextAscii(Names.back(), kProgram);
  }
  void BeginFile(const TZipItem&) override {
    if (FInProgram) Program.clear();
  }
  void Write(const void* data, size_t count) override {
    if (FInProgram) Program.append(static_cast<const char*>(data), count);
  }
  void CloseFile() override {}
  void FinishFile(const TZipItem&) override {
    HasProgram = HasProgram || FInProgram;
    ++Done;
  }
  size_t Done = 0;  // entries extracted whole, so the index of the one that failed

 private:
  bool FInProgram = false;
};

// A component the comparison reads as a number only by accident (empty, "2b", "rc1") counts as 0.
bool IsPlainNumber(const std::wstring& component) {
  return !component.empty() && component.size() <= 5 &&
         std::all_of(component.begin(), component.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }) &&
         VersionComponentValue(component) <= 65535;
}

void CheckVersion(const TReleaseFiles& files, const TArchiveWalk& walk, bool archiveRead,
                  std::vector<TFinding>& findings) {
  auto error = [&](std::wstring text) { findings.push_back({true, L"version.txt: " + std::move(text)}); };
  if (!files.Version) return error(L"missing");
  std::string_view bytes = *files.Version;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  const std::optional<std::wstring> decoded = DecodeUtf8Strict(bytes);
  if (!decoded) return error(L"not UTF-8: the launcher fails to read it");
  const std::wstring text(TrimBlank(*decoded));
  if (text.empty()) return error(L"blank: the launcher cannot tell the published version");
  const std::vector<std::wstring> parts = SplitVersionText(text);
  if (!std::all_of(parts.begin(), parts.end(), IsPlainNumber) ||
      text.find_first_not_of(L"0123456789.") != std::wstring::npos)
    return error(L"\"" + text + L"\" is not a version the launcher reads as written; write numbers and dots only, such as 1.2.3.4");
  if (!archiveRead || !walk.HasProgram) return;
  const std::wstring resource = PeFileVersionString(walk.Program);
  if (resource == L"0.0.0") {
    findings.push_back({true, L"Tandrel.exe: no version resource; every launcher would see version 0.0.0 after "
                              L"installing it and offer the update again"});
  } else if (CompareVersionTexts(text, resource) != 0) {
    error(L"says " + text + L", but Tandrel.exe in the archive is " + resource +
          (CompareVersionTexts(text, resource) > 0 ? L": users would be offered this update at every start"
                                                   : L": users of older versions would never be offered it"));
  }
}
}  // namespace

std::optional<std::wstring> NotesDecodeError(std::string_view notes) {
  bool fellBack = false;
  try {
    DecodeNotes(notes, [&](std::string_view) {
      fellBack = true;
      return std::wstring();
    });
  } catch (const Exception& e) {
    return L"begins with a UTF-8 byte-order mark but is not UTF-8: the launcher fails with \"" + e.Message() + L"\"";
  }
  if (fellBack)
    return std::wstring(L"not UTF-8 (or holds U+FFFD): the launcher would decode it with each user's ANSI code page");
  return std::nullopt;
}

std::vector<TFinding> CheckRelease(const TReleaseFiles& files) {
  std::vector<TFinding> findings;
  TArchiveWalk walk;
  bool archiveRead = false;
  if (!files.Archive) {
    findings.push_back({true, L"Tandrel.zip: missing"});
  } else {
    TMemoryZipSource source(*files.Archive);
    std::vector<TZipItem> directory;
    size_t judged = 0;
    try {
      directory = ReadZipDirectory(source);
      // The launcher judges every entry before it writes one: the first entry judged unfit is
      // the one to name.
      for (; judged < directory.size(); ++judged) JudgeZipEntry(source, directory[judged]);
      ExtractZip(source, walk);
      archiveRead = true;
    } catch (const Exception& e) {
      std::wstring text = L"Tandrel.zip: the launcher fails to extract it: " + e.Message();
      const size_t at = judged < directory.size() ? judged : walk.Done;
      if (at < directory.size()) {
        const TZipItem& item = directory[at];
        text += L" (at the entry \"" + DecodeZipName(item.RawName, item.Flags, {}) + L"\"";
        if (item.Method != 0 && item.Method != 8)
          text += L", compressed with method " + IntToStr(item.Method) + L"; only stored and deflate are read";
        text += L")";
      }
      findings.push_back({true, text});
    }
  }
  if (archiveRead) {
    std::set<std::wstring> seen;
    for (const std::wstring& name : walk.Names) {
      std::wstring key = AsciiUpper(name);
      if (!key.empty() && key.back() == L'\\') key.pop_back();
      if (!seen.insert(key).second) findings.push_back({true, L"Tandrel.zip: the name \"" + name + L"\" appears twice"});
    }
    if (!walk.HasProgram) {
      findings.push_back({true, L"Tandrel.zip: no Tandrel.exe at the root"});
    } else if (!SameTextAscii(walk.Names.back(), kProgram)) {
      findings.push_back({false, L"Tandrel.zip: Tandrel.exe is not the last entry: an interrupted extraction leaves the "
                                 L"new Tandrel.exe beside old files"});
    }
  }
  CheckVersion(files, walk, archiveRead, findings);
  if (!files.Changes) {
    findings.push_back({false, L"Changes.txt: missing: the update window shows no notes"});
  } else if (auto reason = NotesDecodeError(*files.Changes)) {
    findings.push_back({true, L"Changes.txt: " + *reason});
  }
  return findings;
}
