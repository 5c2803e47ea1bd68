#include "publish/release_check.h"

#include <zlib.h>

#include <algorithm>

#include "publish/entry_list.h"
#include "publish/files.h"
#include "publish/names.h"
#include "system/changes_page.h"
#include "system/errors.h"
#include "system/pe_version.h"
#include "system/text.h"
#include "system/version_compare.h"
#include "system/zip_core.h"

namespace fs = std::filesystem;

namespace {
const wchar_t kProgram[] = L"Tandrel.exe";

// "." segments name the folder they are in: ".\\Tandrel.exe" lands where "Tandrel.exe" does.
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
  std::string Program;  // the bytes of "Tandrel.exe" at the root
  bool HasProgram = false;
  bool ProgramLast = false;
  size_t Done = 0;        // entries extracted whole, so the index of the one that failed
  uint64_t Written = 0;   // bytes of the current file so far
  uint32_t Crc = 0;       // and their CRC-32

  void MakeFolder(const TZipItem& item) override {
    FInProgram = !item.IsFolder() && SameTextAscii(WithoutDotSegments(item.Name), kProgram);
    ProgramLast = FInProgram;
    if (item.IsFolder()) ++Done;
  }
  void BeginFile(const TZipItem&) override {
    Written = 0;
    Crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    if (FInProgram) Program.clear();
  }
  void Write(const void* data, size_t count) override {
    Written += count;
    Crc = static_cast<uint32_t>(crc32(Crc, static_cast<const Bytef*>(data), static_cast<uInt>(count)));
    if (FInProgram) Program.append(static_cast<const char*>(data), count);
  }
  void CloseFile() override {}
  void FinishFile(const TZipItem&) override {
    HasProgram = HasProgram || FInProgram;
    ++Done;
  }

 private:
  bool FInProgram = false;
};

// A component the comparison reads as a number only by accident (empty, "2b", "rc1") counts as 0.
bool IsPlainNumber(const std::wstring& component) {
  return !component.empty() && component.size() <= 5 &&
         std::all_of(component.begin(), component.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }) &&
         VersionComponentValue(component) <= 65535;
}

void CheckVersion(const std::optional<std::string>& version, const TArchiveWalk& walk, bool archiveRead,
                  std::vector<TFinding>& findings) {
  auto error = [&](std::wstring text) { findings.push_back({true, L"version.txt: " + std::move(text)}); };
  if (!version) return error(L"missing");
  std::string_view bytes = *version;
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

std::wstring EntryText(const TZipItem& item) {
  const std::wstring name = item.Name.empty() ? DecodeZipName(item.RawName, item.Flags, {}) : item.Name;
  return L"Tandrel.zip: \"" + name + L"\": ";
}

bool NonAscii(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Why the directory of the archive cannot be read, for a reader's failure text.
std::wstring DirectoryReason(const std::wstring& failure, int64_t size) {
  if (failure == L"Stream read error")
    return size <= 0 ? L"the file is empty" : L"the archive is cut short (" + IntToStr(size) + L" bytes)";
  if (failure == L"Error reading zip file")
    return L"no zip directory at its end: it is not a zip archive, or it is cut short (" + IntToStr(size) + L" bytes)";
  if (failure == L"Invalid Zip Central Header signature")
    return std::wstring(L"the zip directory is damaged, or the archive is cut short");
  return failure;
}

// What the launcher refuses or stumbles on before it extracts anything; true when it would stop.
bool JudgeEntries(TZipSource& source, std::vector<TZipItem>& items, std::vector<TFinding>& findings) {
  bool stops = false;
  for (TZipItem& item : items) {
    if (item.Flags & 0x0001) {
      findings.push_back({true, EntryText(item) + L"encrypted" +
                                    (item.Method == 99 ? std::wstring(L" with AES") : std::wstring()) +
                                    L": the launcher cannot decrypt it; pack the files without a password"});
      stops = true;
      continue;
    }
    if (item.Method != 0 && item.Method != 8) {
      findings.push_back({true, EntryText(item) + L"compressed with " + ZipMethodName(item.Method) +
                                    L": the launcher reads only stored and deflate entries and fails with \"Item not found\""});
      stops = true;
      continue;
    }
    try {
      JudgeZipEntry(source, item);
    } catch (const Exception& e) {
      std::wstring text = EntryText(item) + L"the launcher fails with \"" + e.Message() + L"\"";
      if (e.Message() == L"Invalid Zip Local Header signature") {
        text += L": the entry's header is not where the directory says";
      } else if (const std::optional<TNameRefusal> refusal = JudgeForEveryUser({item})) {
        text = EntryText(item) + refusal->Reason;
      }
      findings.push_back({true, text});
      stops = true;
    }
  }
  if (stops) return true;
  if (const std::optional<TNameRefusal> refusal = JudgeForEveryUser(items)) {
    findings.push_back({true, EntryText(items[refusal->Index]) + refusal->Reason});
    return true;
  }
  for (const TZipItem& item : items) {
    const int room = UserNameRoom(item.Name);
    if (room < kComfortableUserNameRoom)
      findings.push_back({false, EntryText(item) + L"the path is " + IntToStr(static_cast<int64_t>(item.Name.size())) +
                                 L" characters long: it passes Windows' path limit for user folder names longer than " +
                                 IntToStr(room) + L" characters (C:\\Users\\<user>\\AppData\\Local\\Tandrel\\)"});
  }
  return false;
}

// Risks of entries the launcher does write.
void WarnAboutEntries(const std::vector<TZipItem>& items, std::vector<TFinding>& findings) {
  for (const TZipItem& item : items) {
    if (!(item.Flags & 0x0800) && NonAscii(item.RawName) && item.Name == DecodeZipName(item.RawName, item.Flags, {})) {
      std::wstring text = EntryText(item) + L"the name is not marked as UTF-8, so users get it in code page 437 "
                                            L"as shown here";
      if (const std::optional<std::wstring> meant = DecodeUtf8Strict(item.RawName)) {
        std::wstring windows = *meant;
        std::replace(windows.begin(), windows.end(), L'/', L'\\');
        text += L", not \"" + windows + L"\"";
      }
      findings.push_back({false, text + L"; pack it with morvane-publish pack"});
    }
    if (!item.IsFolder() && (item.MadeBy >> 8) == 0 && (item.ExternalAttributes & 0x01))
      findings.push_back({false, EntryText(item) + L"read-only: installed so, it stops the next update at this file "
                                                   L"(\"Cannot create file\")"});
  }
}

void CheckArchive(TZipSource& source, TArchiveWalk& walk, bool& archiveRead, std::vector<TFinding>& findings) {
  std::vector<TZipItem> items;
  try {
    items = ReadZipDirectory(source);
  } catch (const Exception& e) {
    findings.push_back({true, L"Tandrel.zip: the launcher fails to extract it with \"" + e.Message() + L"\": " +
                                  DirectoryReason(e.Message(), source.Size())});
    return;
  }
  if (JudgeEntries(source, items, findings)) return;
  try {
    ExtractZip(source, walk);
    archiveRead = true;
  } catch (const Exception& e) {
    std::wstring text = L"Tandrel.zip: ";
    if (walk.Done < items.size()) {
      const TZipItem& item = items[walk.Done];
      text = EntryText(item) + L"the launcher fails with \"" + e.Message() + L"\"";
      if (e.Message() == L"Error reading zip file")
        text += walk.Written < item.UncompressedSize
                    ? L": its data ends after " + IntToStr(static_cast<int64_t>(walk.Written)) + L" of " +
                          IntToStr(static_cast<int64_t>(item.UncompressedSize)) + L" bytes (archive cut short or damaged)"
                    : std::wstring(L": its CRC-32 does not match its data (archive damaged)");
      else
        text += L": its compressed data is damaged";
    } else {
      text += L"the launcher fails with \"" + e.Message() + L"\"";
    }
    findings.push_back({true, text});
    return;
  }
  WarnAboutEntries(items, findings);
  if (!walk.HasProgram) {
    findings.push_back({true, L"Tandrel.zip: no Tandrel.exe at the root"});
  } else if (!walk.ProgramLast) {
    findings.push_back({false, L"Tandrel.zip: Tandrel.exe is not the last entry: an interrupted extraction leaves the "
                               L"new Tandrel.exe beside old files"});
  }
}

size_t LineOf(std::wstring_view text, size_t at) {
  return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), L'\n'));
}

// The charset a <meta> tag declares, lower-cased; empty when none does.
std::wstring DeclaredCharset(const std::wstring& lowered) {
  for (size_t at = lowered.find(L"<meta"); at != std::wstring::npos; at = lowered.find(L"<meta", at + 1)) {
    const size_t end = lowered.find(L'>', at);
    const std::wstring tag = lowered.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
    const size_t key = tag.find(L"charset=");
    if (key == std::wstring::npos) continue;
    size_t from = key + 8;
    while (from < tag.size() && (tag[from] == L'"' || tag[from] == L'\'' || tag[from] == L' ')) ++from;
    size_t to = from;
    while (to < tag.size() && tag[to] != L'"' && tag[to] != L'\'' && tag[to] != L' ' && tag[to] != L';' && tag[to] != L'/')
      ++to;
    return tag.substr(from, to - from);
  }
  return {};
}
}  // namespace

std::wstring ZipMethodName(uint16_t method) {
  const wchar_t* name = nullptr;
  switch (method) {
    case 0: name = L"stored"; break;
    case 1: name = L"Shrink"; break;
    case 2: case 3: case 4: case 5: name = L"Reduce"; break;
    case 6: name = L"Implode"; break;
    case 8: name = L"Deflate"; break;
    case 9: name = L"Deflate64"; break;
    case 10: name = L"PKWARE DCL Implode"; break;
    case 12: name = L"BZip2"; break;
    case 14: name = L"LZMA"; break;
    case 16: name = L"IBM z/OS CMPSC"; break;
    case 18: name = L"IBM TERSE"; break;
    case 19: name = L"IBM LZ77"; break;
    case 93: name = L"Zstandard"; break;
    case 94: name = L"MP3"; break;
    case 95: name = L"XZ"; break;
    case 96: name = L"JPEG"; break;
    case 97: name = L"WavPack"; break;
    case 98: name = L"PPMd"; break;
    case 99: name = L"AES encryption"; break;
    default: return L"method " + IntToStr(method);
  }
  return std::wstring(name) + L" (method " + IntToStr(method) + L")";
}

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

std::vector<std::wstring> NotesRisks(std::string_view notes) {
  if (NotesDecodeError(notes)) return {};  // reported as an error of its own
  const std::wstring text = DecodeNotes(notes, [](std::string_view) { return std::wstring(); });
  if (TrimBlank(text).empty()) return {L"empty: the update window shows a blank page"};
  const std::wstring lowered = AsciiLower(text);
  std::vector<std::wstring> risks;
  const bool html = lowered.find(L"<html") != std::wstring::npos || lowered.find(L"<!doctype") != std::wstring::npos;
  if (!html) {
    const size_t markup = text.find(L'<');
    if (markup != std::wstring::npos)
      risks.push_back(L"plain text with \"<\" on line " + IntToStr(static_cast<int64_t>(LineOf(text, markup))) +
                      L": the update window reads the notes as HTML, so it may hide or format text; write &lt; "
                      L"or make the notes a whole HTML document");
    return risks;
  }
  const std::wstring charset = DeclaredCharset(lowered);
  if (!charset.empty() && charset != L"utf-8" && charset != L"utf8")
    risks.push_back(L"HTML that declares the charset \"" + charset + L"\", but its text is UTF-8 and the launcher "
                    L"writes the page in UTF-8: letters beyond ASCII show garbled; declare utf-8");
  else if (charset.empty() && lowered.find(L"<meta") != std::wstring::npos &&
           std::any_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0x80; }))
    risks.push_back(std::wstring(L"HTML with a <meta> tag but no charset: the launcher then adds none, and the "
                                 L"update window may read the UTF-8 page in the user's code page; add <meta "
                                 L"charset=\"utf-8\">"));
  return risks;
}

std::vector<TFinding> CheckRelease(const std::optional<std::string>& version, const std::optional<std::string>& changes,
                                   TZipSource* archive) {
  std::vector<TFinding> findings;
  TArchiveWalk walk;
  bool archiveRead = false;
  if (!archive)
    findings.push_back({true, L"Tandrel.zip: missing"});
  else
    CheckArchive(*archive, walk, archiveRead, findings);
  CheckVersion(version, walk, archiveRead, findings);
  if (!changes) {
    findings.push_back({false, L"Changes.txt: missing: the update window shows no notes"});
  } else if (auto reason = NotesDecodeError(*changes)) {
    findings.push_back({true, L"Changes.txt: " + *reason});
  } else {
    for (const std::wstring& risk : NotesRisks(*changes)) findings.push_back({false, L"Changes.txt: " + risk});
  }
  return findings;
}

std::vector<TFinding> CheckRelease(const TReleaseFiles& files) {
  if (!files.Archive) return CheckRelease(files.Version, files.Changes, nullptr);
  TMemoryZipSource source(*files.Archive);
  return CheckRelease(files.Version, files.Changes, &source);
}

std::vector<TFinding> CheckReleaseFolder(const fs::path& dir) {
  auto present = [](const fs::path& path) {
    std::error_code code;
    const fs::file_status status = fs::symlink_status(path, code);
    if (code && code != std::errc::no_such_file_or_directory)
      throw Exception(FileErrorText(L"Cannot open file", path, ReasonText(code)));
    return fs::exists(status);
  };
  std::error_code code;
  if (!fs::is_directory(dir, code)) {
    throw Exception(FileErrorText(L"Cannot open folder", dir,
                                  code ? ReasonText(code) : std::wstring(L"It is a file, not a folder.")));
  }
  auto read = [&](const char* name) {
    const fs::path path = dir / name;
    return present(path) ? std::optional(ReadWholeFile(path)) : std::nullopt;
  };
  const std::optional<std::string> version = read("version.txt"), changes = read("Changes.txt");
  const fs::path archive = dir / "Tandrel.zip";
  std::vector<TFinding> findings;
  if (!present(archive)) {
    findings = CheckRelease(version, changes, nullptr);
  } else {
    TInFile file(archive);
    findings = CheckRelease(version, changes, &file);
  }
  const std::vector<TFinding> record = CheckEntryRecord(dir);
  findings.insert(findings.end(), record.begin(), record.end());
  return findings;
}
