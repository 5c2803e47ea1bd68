#include "system/install_transaction.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "system/errors.h"
#include "system/file_stream.h"
#include "system/handles.h"
#include "system/install_lock.h"
#include "system/text.h"
#include "system/win_error.h"

namespace {
constexpr wchar_t kRecordName[] = L"record.txt";
constexpr wchar_t kDoneName[] = L"done.txt";
// The record while it is written: renamed to kRecordName, complete and flushed, before the
// first change, so a record under its own name is never a torn one.
constexpr wchar_t kNewRecordName[] = L"record.new";
constexpr char kRecordHeader[] = "morvane install record 1";
constexpr char kRecordEnd[] = "end";
// A file held open by a scanner, an indexer or a sync client is asked again for about 2 s.
constexpr int kAttempts = 20;
constexpr DWORD kPauseMs = 100;

// One change the installation makes, as the record keeps it.
struct TChange {
  bool IsFolder = false;
  std::wstring Name;       // relative to the product folder
  // A file that replaces one: the name it is written under first, relative. Empty for a file
  // whose name is new to the product folder: it is written under its own name straight away.
  std::wstring Temporary;
  std::wstring Aside;      // a file that replaces one: the old file's name in the work folder
  DWORD Attributes = 0;    // the replaced file's attributes
  std::wstring Original;   // the replaced file's name as it was spelt, relative
};

std::wstring WorkFolder(const std::wstring& productFolder) {
  return JoinZipPath(productFolder, kInstallWorkFolder) + L"\\";
}

bool HeldOpen(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
}

// Runs op until it succeeds or fails for another reason than a file held open; returns 0 or
// the last error code.
template <typename Op>
DWORD Retrying(const std::wstring& path, const TInstallOptions& options, Op op) {
  for (int attempt = 1;; ++attempt) {
    if (op()) return 0;
    const DWORD code = GetLastError();
    if (!HeldOpen(code) || attempt >= kAttempts) return code;
    if (options.OnRetry) options.OnRetry(path);
    Sleep(kPauseMs);
  }
}

bool PathPresent(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Deletes a file whatever its attributes; 0 or the error code. A missing file is no error.
DWORD DeleteAnyFile(const std::wstring& path, const TInstallOptions& options) {
  if (!PathPresent(path)) return 0;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return Retrying(path, options, [&] { return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; });
}

DWORD MoveFileRetrying(const std::wstring& from, const std::wstring& to, const std::wstring& shown,
                       const TInstallOptions& options) {
  return Retrying(shown, options, [&] { return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0; });
}

// The name as Windows writes it: without "." segments and without a final "\".
std::wstring WrittenName(const std::wstring& name) {
  std::wstring out;
  size_t start = 0;
  while (start < name.size()) {
    const size_t stop = std::min(name.find(L'\\', start), name.size());
    const std::wstring segment = name.substr(start, stop - start);
    if (!segment.empty() && segment != L".") out += (out.empty() ? L"" : L"\\") + segment;
    start = stop + 1;
  }
  return out;
}

std::wstring TemporaryName(size_t number) {
  static const wchar_t kDigits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
  std::wstring digits(4, L'0');
  for (size_t i = 4; i-- > 0; number /= 36) digits[i] = kDigits[number % 36];
  return L"~mv" + digits + L".tmp";
}

std::string RecordText(const std::vector<TChange>& changes) {
  std::string text = std::string(kRecordHeader) + "\n";
  for (const TChange& c : changes) {
    if (c.IsFolder)
      text += "D\t" + EncodeUtf8(c.Name) + "\n";
    else
      text += "F\t" + EncodeUtf8(c.Name) + "\t" + EncodeUtf8(c.Temporary) + "\t" + EncodeUtf8(c.Aside) + "\t" +
              std::to_string(c.Attributes) + "\t" + EncodeUtf8(c.Original) + "\n";
  }
  return text + kRecordEnd + "\n";
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t stop = text.find(separator, start);
    parts.push_back(text.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    if (stop == std::string::npos) return parts;
    start = stop + 1;
  }
}

[[noreturn]] void RecordDamaged(const std::wstring& record, const std::wstring& why) {
  throw Exception(L"The installation's record \"" + record + L"\" cannot be used (" + why +
                  L"); nothing was undone and every file it keeps stays in its folder");
}

std::wstring RecordName(const std::string& field, const std::wstring& record) {
  std::optional<std::wstring> name = DecodeUtf8Strict(field);
  if (!name) RecordDamaged(record, L"a name that is not UTF-8");
  return std::move(*name);
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
}

// The changes of a record as the installation wrote it. Anything else (a torn or appended
// line, a field too many, a name that is not UTF-8) raises: such a record may belong to an
// installation that had already changed files.
std::vector<TChange> ParseRecord(const std::string& text, const std::wstring& record) {
  std::vector<std::string> lines = SplitOn(text, '\n');
  if (lines.empty() || !lines.back().empty()) RecordDamaged(record, L"it does not end with a line");
  lines.pop_back();
  if (lines.size() < 2 || lines.front() != kRecordHeader || lines.back() != kRecordEnd)
    RecordDamaged(record, L"it does not begin and end as a record does");
  std::vector<TChange> changes;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::vector<std::string> f = SplitOn(lines[i], '\t');
    TChange c;
    c.IsFolder = f[0] == "D";
    if ((c.IsFolder && f.size() != 2) || (!c.IsFolder && (f[0] != "F" || f.size() != 6)))
      RecordDamaged(record, L"line " + std::to_wstring(i + 1) + L" is not a change");
    c.Name = RecordName(f[1], record);
    if (!c.IsFolder) {
      c.Temporary = RecordName(f[2], record);
      c.Aside = RecordName(f[3], record);
      if (!AllDigits(f[4])) RecordDamaged(record, L"line " + std::to_wstring(i + 1) + L" is not a change");
      c.Attributes = static_cast<DWORD>(std::strtoul(f[4].c_str(), nullptr, 10));
      c.Original = RecordName(f[5], record);
    }
    changes.push_back(std::move(c));
  }
  return changes;
}

// The short (8.3) name of the work folder where the volume makes them, else empty.
std::wstring ShortWorkName(const std::wstring& work) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD n = GetShortPathNameW(work.c_str(), buffer, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return {};
  std::wstring path(buffer, n);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
  return FoldFileName(name) == FoldFileName(kInstallWorkFolder) ? std::wstring() : name;
}

// The names no change may begin with: the work folder, also by its short name.
TZipJudgeContext ReservedContext(const std::wstring& work) {
  TZipJudgeContext context;
  context.Reserved = {kInstallWorkFolder};
  const std::wstring shortName = ShortWorkName(work);
  if (!shortName.empty()) context.Reserved.push_back(shortName);
  return context;
}

// A name relative to the product folder as the judge of the archive's entries takes it; "" when
// it passes, else the reason.
std::wstring JudgedName(const std::wstring& name, const TZipJudgeContext& context) {
  if (name.find(L'/') != std::wstring::npos) return L"Unsafe path: " + name;
  TZipItem item;
  item.Name = name;
  try {
    JudgeZipNames({item}, context);
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  return FoldFileName(ExtractFilePath(a)) == FoldFileName(ExtractFilePath(b));
}

bool TemporaryShape(const std::wstring& name) {
  const std::wstring file = name.substr(ExtractFilePath(name).size());
  if (file.size() != 11 || file.compare(0, 3, L"~mv") != 0 || file.compare(7, 4, L".tmp") != 0) return false;
  for (size_t i = 3; i < 7; ++i)
    if (!((file[i] >= L'0' && file[i] <= L'9') || (file[i] >= L'a' && file[i] <= L'z'))) return false;
  return true;
}

// Every name of the record lies inside the product folder, out of the work folder, as the
// installation makes them: a temporary and a replaced file's spelling in the entry's own
// folder, a saved file named by its change's number alone.
void CheckRecordNames(const std::vector<TChange>& changes, const std::wstring& work, const std::wstring& record) {
  const TZipJudgeContext context = ReservedContext(work);
  for (size_t i = 0; i < changes.size(); ++i) {
    const TChange& c = changes[i];
    std::wstring why = JudgedName(c.Name, context);
    if (why.empty() && !c.IsFolder && c.Temporary.empty()) {
      // Written under its own name: only a file that replaced nothing is.
      if (!c.Aside.empty() || !c.Original.empty() || c.Attributes != 0)
        why = L"a replaced file without a temporary name: " + c.Name;
    } else if (why.empty() && !c.IsFolder) {
      why = JudgedName(c.Temporary, context);
      if (why.empty() && (!SameFolder(c.Temporary, c.Name) || !TemporaryShape(c.Temporary)))
        why = L"not a temporary name of the installation: " + c.Temporary;
      if (why.empty() && !c.Aside.empty() && c.Aside != std::to_wstring(i))
        why = L"not the number of its change: " + c.Aside;
      if (why.empty() && !c.Original.empty()) {
        why = JudgedName(c.Original, context);
        if (why.empty() && !SameFolder(c.Original, c.Name)) why = L"not in the folder of its entry: " + c.Original;
      }
    }
    if (!why.empty()) RecordDamaged(record, why);
  }
}

// Refuses a work folder that is a link to another place (a junction, a symbolic link).
void RefuseLinkedWorkFolder(const std::wstring& work) {
  const DWORD attributes = GetFileAttributesW(work.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    throw Exception(L"The installation's folder \"" + work +
                    L"\" is a link to another place; nothing was undone and nothing in it was touched");
}

// Refuses a work folder that the undo must not act in: a link, or one that holds anything but
// the given names (folded as Windows compares names).
void CheckWorkFolder(const std::wstring& work, const std::set<std::wstring>& explained) {
  RefuseLinkedWorkFolder(work);
  WIN32_FIND_DATAW data{};
  const Sys::TFindHandle find(FindFirstFileW((work + L"*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !explained.count(FoldFileName(name)))
      throw Exception(L"The installation's folder \"" + work + L"\" holds \"" + name +
                      L"\", which its record does not explain; nothing was undone and every file in it stays");
  } while (FindNextFileW(find.Get(), &data));
}

std::string ReadRecordFile(const std::wstring& path) {
  std::string text;
  try {
    TFileStream file = TFileStream::Open(path, FILE_SHARE_READ);
    text.resize(static_cast<size_t>(file.Size()));
    text.resize(file.Read(text.data(), text.size()));
  } catch (const Exception& e) {
    RecordDamaged(path, L"it cannot be read: " + e.Message());
  }
  return text;
}

void WriteRecordFile(const std::wstring& path, const std::string& text) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (handle == INVALID_HANDLE_VALUE) RaiseFileError(L"create", path, GetLastError());
  const Sys::TFileHandle file(handle);
  DWORD written = 0;
  if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size() || !FlushFileBuffers(file.Get()))
    RaiseFileError(L"write", path, GetLastError());
}

// Deletes the work folder with what it holds (the record, files moved aside): the saved files
// first and the record last, so that a file that cannot be deleted now stays explained by the
// record for the next start. Raises the first failure.
void RemoveWorkFolder(const std::wstring& work, const TInstallOptions& options) {
  std::vector<std::wstring> records, files;
  WIN32_FIND_DATAW data{};
  {
    const Sys::TFindHandle find(FindFirstFileW((work + L"*").c_str(), &data));
    if (find) {
      do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring folded = FoldFileName(data.cFileName);
        const bool record = folded == FoldFileName(kRecordName) || folded == FoldFileName(kDoneName) ||
                            folded == FoldFileName(kNewRecordName);
        (record ? records : files).push_back(work + data.cFileName);
      } while (FindNextFileW(find.Get(), &data));
    }
  }
  files.insert(files.end(), records.begin(), records.end());
  for (const std::wstring& file : files)
    if (const DWORD code = DeleteAnyFile(file, options)) RaiseFileError(L"delete", file, code);
  if (!RemoveDirectoryW(work.c_str()) && PathPresent(work)) {
    const DWORD code = GetLastError();
    throw Exception(L"Cannot delete folder \"" + work + L"\". " + SysErrorMessage(code));
  }
}

// Puts every recorded change back, the last first. Each step looks at what is on disk, so the
// changes a killed run never made are passed over, and an undo cut short can run again.
void UndoChanges(const std::wstring& productFolder, const std::vector<TChange>& changes,
                 const TInstallOptions& options) {
  const std::wstring work = WorkFolder(productFolder);
  std::wstring firstFailure;
  auto note = [&](DWORD code, const std::wstring& verb, const std::wstring& path) {
    if (code != 0 && firstFailure.empty())
      firstFailure = L"Cannot " + verb + L" file \"" + path + L"\". " + SysErrorMessage(code);
  };
  for (auto c = changes.rbegin(); c != changes.rend(); ++c) {
    const std::wstring target = JoinZipPath(productFolder, c->Name);
    if (c->IsFolder) {
      RemoveDirectoryW(target.c_str());  // stays when something else was put in it
      continue;
    }
    if (!c->Temporary.empty()) {
      const std::wstring temporary = JoinZipPath(productFolder, c->Temporary);
      note(DeleteAnyFile(temporary, options), L"delete", temporary);
    }
    if (c->Aside.empty()) {
      note(DeleteAnyFile(target, options), L"delete", target);
      continue;
    }
    const std::wstring aside = work + c->Aside;
    if (!PathPresent(aside)) {
      // Never moved: the old file is still in its place, its read-only attribute perhaps
      // already cleared.
      if (PathPresent(target)) SetFileAttributesW(target.c_str(), c->Attributes);
      continue;
    }
    const DWORD deleted = DeleteAnyFile(target, options);
    note(deleted, L"delete", target);
    if (deleted != 0) continue;
    // Back under its own spelling, which may differ from the archive's in letter case.
    const std::wstring original = JoinZipPath(productFolder, c->Original.empty() ? c->Name : c->Original);
    const DWORD moved = MoveFileRetrying(aside, original, original, options);
    note(moved, L"restore", original);
    if (moved == 0) SetFileAttributesW(original.c_str(), c->Attributes);
  }
  if (!firstFailure.empty()) throw Exception(firstFailure);
}

// Makes written files durable on a few threads of their own while the installation writes the
// next ones: each takes an open file, flushes it to the disk and closes it. A flush mostly waits
// for the disk, so several at once cost little more than one, and none of them holds up the
// writing. At most kMaxPending files wait, so the open handles do not grow with the archive.
class TFlusher {
 public:
  explicit TFlusher(const TInstallOptions& options) : FOptions(options) {}
  ~TFlusher() {
    try {
      Wait();
    } catch (...) {
    }
    {
      std::lock_guard<std::mutex> lock(FLock);
      FStopping = true;
    }
    FWork.notify_all();
    for (std::thread& thread : FThreads) thread.join();
  }
  TFlusher(const TFlusher&) = delete;
  TFlusher& operator=(const TFlusher&) = delete;

  // Takes over the open file; path is the file's full path, shown is how a failure names it.
  void Add(Sys::TFileHandle file, std::wstring path, std::wstring shown) {
    std::unique_lock<std::mutex> lock(FLock);
    FRoom.wait(lock, [&] { return FQueue.size() < kMaxPending; });
    FQueue.push_back({std::move(file), std::move(path), std::move(shown)});
    ++FUnfinished;
    // A thread more while there is more waiting than the threads take.
    if (FThreads.size() < kThreads && FIdle == 0) {
      try {
        FThreads.emplace_back([this] { Run(); });
      } catch (...) {
        if (FThreads.empty()) {
          // No thread at all: this one flushes.
          TItem item = std::move(FQueue.front());
          FQueue.pop_front();
          lock.unlock();
          Flush(item);
          return;
        }
      }
    }
    lock.unlock();
    FWork.notify_one();
  }

  // Returns when every file added so far is durable and closed; raises the first failure.
  void Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    FDone.wait(lock, [&] { return FUnfinished == 0; });
    if (!FFailure.empty()) {
      const std::wstring shown = std::exchange(FFailure, std::wstring());
      RaiseFileError(L"write", shown, std::exchange(FFailureCode, 0));
    }
  }

 private:
  struct TItem {
    Sys::TFileHandle File;
    std::wstring Path, Shown;
  };
  static constexpr size_t kThreads = 4;
  static constexpr size_t kMaxPending = 64;

  void Run() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
      ++FIdle;
      FWork.wait(lock, [&] { return FStopping || !FQueue.empty(); });
      --FIdle;
      if (FQueue.empty()) return;
      TItem item = std::move(FQueue.front());
      FQueue.pop_front();
      FRoom.notify_one();
      lock.unlock();
      Flush(item);
      lock.lock();
    }
  }

  void Flush(TItem& item) {
    const bool flushed = FlushFileBuffers(item.File.Get()) != 0;
    const DWORD code = flushed ? 0 : GetLastError();
    item.File.Reset();
    if (flushed && FOptions.OnDurable) FOptions.OnDurable(item.Path);
    std::lock_guard<std::mutex> lock(FLock);
    if (!flushed && FFailure.empty()) {
      FFailure = item.Shown;
      FFailureCode = code;
    }
    if (--FUnfinished == 0) FDone.notify_all();
  }

  const TInstallOptions& FOptions;
  std::mutex FLock;
  std::condition_variable FWork, FRoom, FDone;
  std::deque<TItem> FQueue;
  std::vector<std::thread> FThreads;
  size_t FIdle = 0;
  size_t FUnfinished = 0;
  bool FStopping = false;
  std::wstring FFailure;
  DWORD FFailureCode = 0;
};

// The installation of one archive: TZipOutput calls in entry order, each change counted.
class TInstallOutput final : public TZipOutput {
 public:
  TInstallOutput(const std::wstring& productFolder, const std::vector<TZipItem>& items, const TInstallOptions& options)
      : FProduct(productFolder), FWork(WorkFolder(productFolder)), FOptions(options) {
    Plan(items);
  }

  const std::vector<TChange>& Changes() const { return FChanges; }
  // The entry being written, for messages that do not name it themselves.
  const std::wstring& CurrentTarget() const { return FTarget; }
  // Lets go of the file being written and of those still being flushed, so that the undo can
  // delete them.
  void CloseOpenFiles() {
    FFile.reset();
    try {
      FFlusher.Wait();
    } catch (...) {
      // The file is deleted all the same.
    }
  }

  void Begin() {
    // A folder of its own, made now: nothing left by an earlier run can count as this one's.
    if (!CreateDirectoryW(FWork.c_str(), nullptr)) {
      const DWORD code = GetLastError();
      RaiseFileError(L"create", FWork, code);
    }
    FCreated = true;
    CheckWorkFolder(FWork, {});
    // Where the volume makes short names, the work folder has one that no entry may use.
    const std::wstring shortName = FoldFileName(ShortWorkName(FWork));
    if (!shortName.empty())
      for (const TChange& c : FChanges)
        if (FoldFileName(c.Name.substr(0, c.Name.find(L'\\'))) == shortName)
          throw Exception(L"Name reserved for the installation in archive: " + c.Name);
    WriteRecordFile(FWork + kNewRecordName, RecordText(FChanges));
    const DWORD code = MoveFileRetrying(FWork + kNewRecordName, FWork + kRecordName, FWork + kRecordName, FOptions);
    if (code != 0) RaiseFileError(L"rename", FWork + kNewRecordName, code);
  }
  // Whether Begin made the work folder (and so may take it away again).
  bool CreatedWorkFolder() const { return FCreated; }

  void Commit() {
    // Every new file on the disk before the first old one goes aside: a lost power from here on
    // finds each new file whole, under its temporary name or its own.
    FTarget.clear();
    FFlusher.Wait();
    for (size_t index : FWritten) PutInPlace(FChanges[index]);
    FTarget.clear();
    // From here a restart finishes the clean-up instead of undoing.
    const DWORD code = MoveFileRetrying(FWork + kRecordName, FWork + kDoneName, FWork + kRecordName, FOptions);
    if (code != 0) RaiseFileError(L"rename", FWork + kRecordName, code);
    DeleteAsides();
    try {
      RemoveWorkFolder(FWork, FOptions);
    } catch (const Exception&) {
      // Installed all the same: done.txt still explains what stays, and the next start or
      // installation finishes the clean-up.
    }
  }

  void MakeFolder(const TZipItem&) override {
    const TItemPlan& plan = FItems[FItem++];
    FTarget.clear();
    for (size_t index : plan.Folders) {
      const std::wstring folder = JoinZipPath(FProduct, FChanges[index].Name);
      FTarget = folder;
      Change();
      if (!CreateDirectoryW(folder.c_str(), nullptr)) {
        // The reason of the creation itself, not of the look that follows.
        const DWORD code = GetLastError();
        if (!DirectoryExists(folder))
          throw Exception(L"Cannot create folder \"" + folder + L"\". " + SysErrorMessage(code));
      }
    }
    if (plan.File) FCurrent = &FChanges[*plan.File];
  }

  void BeginFile(const TZipItem& item) override {
    FTarget = JoinZipPath(FProduct, FCurrent->Name);
    FCurrentItem = &item;
    Change();
    FFile.emplace(TFileStream::CreateNew(WrittenPath(*FCurrent), FTarget));
  }

  void Write(const void* data, size_t count) override {
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
      const DWORD chunk = static_cast<DWORD>(count > 0x40000000 ? 0x40000000 : count);
      DWORD written = 0;
      if (!WriteFile(FFile->Handle(), p, chunk, &written, nullptr) || written == 0)
        RaiseFileError(L"write", FTarget, written == 0 && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError());
      p += written;
      count -= written;
    }
  }

  void CloseFile() override {
    SetTimesAndAttributes(FFile->Handle(), *FCurrentItem);
    // Made durable on the flusher's threads while the next files are written; Commit waits for
    // all of them before it replaces anything.
    FFlusher.Add(FFile->TakeHandle(), WrittenPath(*FCurrent), FTarget);
    FFile.reset();
  }

  void FinishFile(const TZipItem&) override { FWritten.push_back(static_cast<size_t>(FCurrent - FChanges.data())); }

 private:
  struct TItemPlan {
    std::vector<size_t> Folders;  // folders the entry needs that do not exist yet
    std::optional<size_t> File;
  };

  void Plan(const std::vector<TZipItem>& items) {
    std::set<std::wstring> plannedFolders;
    size_t temporaryNumber = 0;
    for (const TZipItem& item : items) {
      TItemPlan plan;
      const std::wstring name = WrittenName(item.Name);
      const bool isFolder = item.IsFolder();
      size_t cut = 0;
      while (!name.empty()) {
        cut = name.find(L'\\', cut);
        if (cut == std::wstring::npos && !isFolder) break;
        const std::wstring folder = name.substr(0, cut);
        const std::wstring key = FoldFileName(folder);
        if (!plannedFolders.count(key) && !DirectoryExists(JoinZipPath(FProduct, folder))) {
          plan.Folders.push_back(FChanges.size());
          TChange created;
          created.IsFolder = true;
          created.Name = folder;
          FChanges.push_back(std::move(created));
        }
        plannedFolders.insert(key);
        if (cut == std::wstring::npos) break;
        ++cut;
      }
      if (!isFolder && !name.empty()) {
        TChange file;
        file.Name = name;
        const std::wstring folder = ExtractFilePath(name);
        const TFolderNames& present = NamesIn(folder);
        const auto existing = present.find(FoldFileName(ExtractFileName(name)));
        if (existing != present.end()) {
          // Replaces a file: written under a temporary name, so that the old one stays whole
          // in its place until the new one is durable.
          do {
            file.Temporary = folder + TemporaryName(temporaryNumber++);
          } while (present.count(FoldFileName(ExtractFileName(file.Temporary))));
          file.Aside = std::to_wstring(FChanges.size());
          file.Attributes = existing->second.Attributes;
          file.Original = folder + existing->second.Spelling;
        }
        plan.File = FChanges.size();
        FChanges.push_back(std::move(file));
      }
      FItems.push_back(std::move(plan));
    }
    FPresent.clear();
  }

  struct TPresentName {
    std::wstring Spelling;
    DWORD Attributes = 0;
  };
  // The names in one folder of the product, by their folded spelling.
  using TFolderNames = std::map<std::wstring, TPresentName>;

  // What a folder of the product (relative, "" or ending with "\") holds, read once for all of
  // its entries: one listing in place of a look-up per file.
  const TFolderNames& NamesIn(const std::wstring& folder) {
    const auto [entry, added] = FPresent.try_emplace(FoldFileName(folder));
    if (!added) return entry->second;
    WIN32_FIND_DATAW data{};
    const Sys::TFindHandle find(FindFirstFileW((JoinZipPath(FProduct, folder) + L"*").c_str(), &data));
    if (find) {
      do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") entry->second[FoldFileName(name)] = {name, data.dwFileAttributes};
      } while (FindNextFileW(find.Get(), &data));
    }
    return entry->second;
  }

  void Change() {
    ++FChangeNumber;
    if (FOptions.BeforeChange) FOptions.BeforeChange(FChangeNumber);
#ifdef MORVANE_TEST_HOOKS
    // The end-to-end tests stop the program at a chosen change, as a kill or a lost power would.
    wchar_t stopAt[16] = {};
    if (GetEnvironmentVariableW(L"MORVANE_TEST_INSTALL_STOP_AT", stopAt, 16) > 0 &&
        std::wcstol(stopAt, nullptr, 10) == FChangeNumber)
      TerminateProcess(GetCurrentProcess(), 3);
    // ... or holds it there until they let it go: "N:name" sets the event "name.held" at change
    // N and waits for the event "name.go".
    wchar_t holdAt[128] = {};
    if (GetEnvironmentVariableW(L"MORVANE_TEST_INSTALL_HOLD_AT", holdAt, 128) > 0 &&
        std::wcstol(holdAt, nullptr, 10) == FChangeNumber && std::wcschr(holdAt, L':')) {
      const std::wstring name = std::wcschr(holdAt, L':') + 1;
      const Sys::TKernelHandle held(CreateEventW(nullptr, TRUE, FALSE, (name + L".held").c_str()));
      const Sys::TKernelHandle go(CreateEventW(nullptr, TRUE, FALSE, (name + L".go").c_str()));
      if (held && go) {
        SetEvent(held.Get());
        WaitForSingleObject(go.Get(), INFINITE);
      }
    }
#endif
  }

  // The old files went aside writable: one delete each, from a few threads at once, since each
  // mostly waits for the file system. Whatever stays is left to the sweep of the work folder.
  void DeleteAsides() {
    std::vector<std::wstring> asides;
    for (size_t index : FWritten)
      if (!FChanges[index].Aside.empty()) asides.push_back(FWork + FChanges[index].Aside);
    std::atomic<size_t> next{0};
    const auto deleteSome = [&] {
      for (size_t i; (i = next++) < asides.size();) DeleteFileW(asides[i].c_str());
    };
    std::vector<std::thread> helpers;
    for (size_t n = 1; n < kDeleteThreads && n * kDeletesPerThread < asides.size(); ++n) {
      try {
        helpers.emplace_back(deleteSome);
      } catch (...) {
        break;  // fewer helpers: this thread deletes the rest
      }
    }
    deleteSome();
    for (std::thread& helper : helpers) helper.join();
  }
  static constexpr size_t kDeleteThreads = 4;
  static constexpr size_t kDeletesPerThread = 32;

  // Where a file is written: its temporary name when it replaces one, else its own.
  std::wstring WrittenPath(const TChange& change) const {
    return JoinZipPath(FProduct, change.Temporary.empty() ? change.Name : change.Temporary);
  }

  // The old file aside, then the new one from its temporary name into its place; a file new to
  // the product folder is in its place already.
  void PutInPlace(const TChange& change) {
    if (change.Temporary.empty()) return;
    FTarget = JoinZipPath(FProduct, change.Name);
    if (!change.Aside.empty()) {
      Change();
      // A read-only file may be renamed but never deleted, so the attribute goes first; the
      // record keeps it for the undo.
      if (change.Attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(FTarget.c_str(), change.Attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
      const DWORD code = MoveFileRetrying(FTarget, FWork + change.Aside, FTarget, FOptions);
      if (code != 0) RaiseFileError(L"create", FTarget, code);
    }
    Change();
    const DWORD code = MoveFileRetrying(JoinZipPath(FProduct, change.Temporary), FTarget, FTarget, FOptions);
    if (code != 0) RaiseFileError(L"create", FTarget, code);
  }

  // The entry's date and time (as local time), and its attributes when it was made on an MS-DOS
  // host, set on the open file in one call.
  static void SetTimesAndAttributes(HANDLE file, const TZipItem& item) {
    FILE_BASIC_INFO info{};
    FILETIME local{}, utc{};
    if (DosDateTimeValid(item.DosDate, item.DosTime) && DosDateTimeToFileTime(item.DosDate, item.DosTime, &local) &&
        LocalFileTimeToFileTime(&local, &utc)) {
      info.CreationTime.LowPart = info.LastWriteTime.LowPart = utc.dwLowDateTime;
      info.CreationTime.HighPart = info.LastWriteTime.HighPart = static_cast<LONG>(utc.dwHighDateTime);
    }
    if ((item.MadeBy >> 8) == 0) {
      // Read-only, hidden, system and archive; none of them is a plain file (0 leaves them).
      const DWORD attributes = item.ExternalAttributes & 0x27u;
      info.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    }
    if (info.LastWriteTime.QuadPart != 0 || info.FileAttributes != 0)
      SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info);
  }

  std::wstring FProduct, FWork;
  const TInstallOptions& FOptions;
  std::vector<TChange> FChanges;
  std::vector<TItemPlan> FItems;
  std::map<std::wstring, TFolderNames> FPresent;  // filled while planning
  size_t FItem = 0;
  TChange* FCurrent = nullptr;
  const TZipItem* FCurrentItem = nullptr;
  std::wstring FTarget;
  std::optional<TFileStream> FFile;
  // The files written so far, as indexes into FChanges, in entry order.
  std::vector<size_t> FWritten;
  TFlusher FFlusher{FOptions};
  int FChangeNumber = 0;
  bool FCreated = false;
};

void ListInto(const std::wstring& productFolder, const std::wstring& relative, std::vector<TExistingName>& out) {
  WIN32_FIND_DATAW data{};
  const Sys::TFindHandle find(FindFirstFileW((productFolder + relative + L"*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (relative.empty() && isFolder && FoldFileName(name) == FoldFileName(kInstallWorkFolder)) continue;
    out.push_back({relative + name, isFolder});
    if (isFolder && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      ListInto(productFolder, relative + name + L"\\", out);
  } while (FindNextFileW(find.Get(), &data));
}
}  // namespace

std::vector<TExistingName> ListProductFolder(const std::wstring& productFolder) {
  std::vector<TExistingName> names;
  ListInto(JoinZipPath(productFolder, L""), L"", names);
  return names;
}

namespace {
// The folder's installation lock for the length of one call; taken again by the thread that
// holds it already (the launcher's main thread) at no cost. Another thread or process that
// holds it means another installation of the same folder runs now.
class TInstallScope {
 public:
  explicit TInstallScope(const std::wstring& product) : FLock(product) {
    if (!FLock.TryAcquire())
      throw Exception(L"Another installation into \"" + product + L"\" is running; nothing was changed");
  }

 private:
  TInstallLock FLock;
};
}  // namespace

void InstallZipItems(TZipSource& source, const std::vector<TZipItem>& items, const std::wstring& productFolder,
                     const TInstallOptions& options) {
  const std::wstring product = JoinZipPath(productFolder, L"");
  const TInstallScope scope(product);
  TInstallOutput output(product, items, options);
  try {
    output.Begin();
  } catch (...) {
    // Nothing changed yet: only the record's own folder goes, and only when this run made it.
    if (output.CreatedWorkFolder()) {
      try {
        RemoveWorkFolder(WorkFolder(product), options);
      } catch (const Exception&) {
      }
    }
    throw;
  }
  try {
    ExtractZipItems(source, items, output);
    output.Commit();
  } catch (...) {
    // A message of the archive's data ("Error reading zip file", "data error") gets the file.
    std::wstring message = CurrentExceptionText();
    if (!output.CurrentTarget().empty() && message.find(output.CurrentTarget()) == std::wstring::npos)
      message += L": " + output.CurrentTarget();
    output.CloseOpenFiles();
    try {
      UndoChanges(product, output.Changes(), options);
      RemoveWorkFolder(WorkFolder(product), options);
    } catch (const Exception& undo) {
      message += L" (" + undo.Message() + L")";
    }
    throw Exception(message);
  }
}

void UndoInterruptedInstall(const std::wstring& productFolder) {
  const std::wstring product = JoinZipPath(productFolder, L"");
  const std::wstring work = WorkFolder(product);
  if (!DirectoryExists(work)) return;
  const TInstallScope scope(product);
  const TInstallOptions options;
  RefuseLinkedWorkFolder(work);  // before anything in it is read
  const bool done = FileExists(work + kDoneName), recorded = FileExists(work + kRecordName);
  if (!done && !recorded) {
    // Killed while it wrote its record, before the first change: only that may be there.
    CheckWorkFolder(work, {FoldFileName(kNewRecordName)});
    RemoveWorkFolder(work, options);
    return;
  }
  if (done && recorded)
    throw Exception(L"The installation's folder \"" + work +
                    L"\" holds both a record and the mark of a finished installation; nothing was undone");
  const std::wstring record = work + (done ? kDoneName : kRecordName);
  const std::vector<TChange> changes = ParseRecord(ReadRecordFile(record), record);
  CheckRecordNames(changes, work, record);
  std::set<std::wstring> explained = {FoldFileName(done ? kDoneName : kRecordName)};
  for (const TChange& c : changes)
    if (!c.Aside.empty()) explained.insert(FoldFileName(c.Aside));
  CheckWorkFolder(work, explained);
  // A finished installation only leaves its clean-up; an unfinished one is put back first.
  if (!done) UndoChanges(product, changes, options);
  RemoveWorkFolder(work, options);
}
