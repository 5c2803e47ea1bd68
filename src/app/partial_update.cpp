#include "app/partial_update.h"

#include <windows.h>

#include <algorithm>

#include "app/app_state.h"
#include "app/signed_release.h"
#include "release/range_plan.h"
#include "release/release_folder.h"
#include "system/ecdsa.h"
#include "system/entry_record.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/sha256.h"
#include "system/text.h"
#include "system/win_error.h"
#include "system/zip_core.h"

namespace {

constexpr size_t kPiece = 1 << 20;
constexpr int32_t kConnections = 4;

// Why this path gave way to the full download, for the debugger's log; never shown.
class TFallBack : public Exception {
 public:
  using Exception::Exception;
};

[[noreturn]] void FallBack(const std::wstring& why) { throw TFallBack(why); }

// The record as the folder publishes it, tied to the release: signed by one of the launcher's
// keys when it holds keys, else held to the listing's SHA-256 of the file; and made for the
// very archive the download must produce.
TEntryRecord ReadTiedRecord(const TEntryUpdateSource& source) {
  const std::wstring name = source.PackageName + L".files";
  const TRemoteFile file = FindRemoteFile(source.FolderLink, name);
  const std::vector<std::string> keys = ReleaseKeyLines();
  if (keys.empty() && file.Sha256.empty()) FallBack(L"the listing publishes no SHA-256 of " + name);
  // Held to the listing's checksum when it gives one.
  const std::string bytes = GetRemoteFileBytes(file, L"Загрузка " + name);
  std::string reason;
  std::optional<TEntryRecord> record = ParseEntryRecord(bytes, &reason);
  if (!record) FallBack(name + L" is malformed: " + DecodeUtf8Lenient(reason));
  if (!keys.empty()) {
    bool signedByKey = false;
    for (const std::string& line : keys)
      if (const std::optional<std::string> point = ParsePublicKeyLine(line))
        signedByKey = signedByKey || (!record->Signature.empty() &&
                                      VerifyP256(*point, record->SignedBytes, record->Signature));
    if (!signedByKey) FallBack(name + L" is not signed by the publisher's key");
  }
  if (source.Sha256.empty() || source.Size < 0 || EncodeUtf8(source.Sha256) != record->ArchiveSha256 ||
      static_cast<uint64_t>(source.Size) != record->ArchiveSize)
    FallBack(name + L" is the record of another archive");
  return std::move(*record);
}

// The name of an entry as the product folder holds it.
std::wstring LocalName(const TRecordedEntry& entry) {
  std::wstring name = DecodeUtf8Lenient(entry.Name);
  std::replace(name.begin(), name.end(), L'/', L'\\');
  if (ZipNameHasInvalidChars(name) || ZipNameIsUnsafe(name)) FallBack(L"an entry's name cannot be installed: " + name);
  return name;
}

std::wstring FileSha256(TFileStream& file, std::vector<char>& buffer) {
  TSha256 hash;
  while (const size_t got = file.Read(buffer.data(), buffer.size())) hash.Update(buffer.data(), got);
  return hash.HexDigest();
}

// Whether the product folder holds the entry's file (or folder) byte for byte.
bool Installed(const std::wstring& installDir, const TRecordedEntry& entry, std::vector<char>& buffer) {
  const std::wstring path = JoinZipPath(installDir, LocalName(entry));
  if (entry.IsFolder()) return DirectoryExists(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size != entry.Size) return false;
  try {
    TFileStream file = TFileStream::Open(path, FILE_SHARE_READ);
    return EncodeUtf8(FileSha256(file, buffer)) == entry.ContentSha256;
  } catch (const Exception&) {
    return false;  // unreadable: fetched and replaced like a changed one
  }
}

TPartRange RangeOf(uint64_t offset, uint64_t length) {
  return {static_cast<int64_t>(offset), static_cast<int64_t>(offset + length) - 1};
}

std::string RangeSha256(TFileStream& file, uint64_t offset, uint64_t length, std::vector<char>& buffer) {
  TSha256 hash;
  file.Seek(static_cast<int64_t>(offset));
  while (length > 0) {
    const size_t got = file.Read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(length, buffer.size())));
    if (got == 0) FallBack(L"Update.zip ends early");
    hash.Update(buffer.data(), got);
    length -= got;
  }
  return EncodeUtf8(hash.HexDigest());
}

// The fetched bytes are the publisher's: the directory and every fetched entry hash as the
// record says, and the directory describes exactly the recorded entries under the names that
// were compared with the product folder.
void CheckFetched(const std::wstring& packagePath, const TEntryRecord& record, const std::vector<size_t>& fetched,
                  std::vector<char>& buffer) {
  TFileStream file = TFileStream::Open(packagePath, FILE_SHARE_READ);
  if (file.Size() != static_cast<int64_t>(record.ArchiveSize)) FallBack(L"Update.zip has another size");
  if (RangeSha256(file, record.DirectoryOffset, record.DirectoryLength, buffer) != record.DirectorySha256)
    FallBack(L"the directory's bytes are not the recorded ones");
  for (size_t index : fetched) {
    const TRecordedEntry& e = record.Entries[index];
    if (RangeSha256(file, e.Offset, e.Length, buffer) != e.Sha256)
      FallBack(L"the bytes of " + DecodeUtf8Lenient(e.Name) + L" are not the recorded ones");
  }
  class TSource final : public TZipSource {
   public:
    explicit TSource(TFileStream& f) : F(f) {}
    int64_t Size() override { return F.Size(); }
    size_t ReadAt(int64_t offset, void* data, size_t count) override {
      if (offset < 0 || offset >= F.Size()) return 0;
      F.Seek(offset);
      return F.Read(data, count);
    }
    TFileStream& F;
  } source(file);
  const std::vector<TZipItem> items = ReadZipDirectory(source);
  if (const std::optional<std::string> mismatch = RecordMismatch(record, items))
    FallBack(L"the directory is not the recorded one: " + Widen(*mismatch));
  for (size_t i = 0; i < items.size(); ++i)
    if (DecodeZipName(items[i].RawName, items[i].Flags, {}) != LocalName(record.Entries[i]))
      FallBack(L"an entry's name reads otherwise in the directory");
}

std::vector<uint64_t> Fetch(const TEntryUpdateSource& source, std::unique_ptr<TParallelDownloader>& downloader,
                            size_t& partCount) {
  if (!FileExists(source.InstallDir + Names::ProductExe)) FallBack(L"no product installed");
  const TEntryRecord record = ReadTiedRecord(source);

  std::vector<char> buffer(kPiece);
  const std::vector<size_t> changed = ChangedEntries(record, source.InstallDir);
  std::vector<TPartRange> wanted = {RangeOf(record.DirectoryOffset, record.DirectoryLength)};
  for (size_t i : changed) wanted.push_back(RangeOf(record.Entries[i].Offset, record.Entries[i].Length));
  if (changed.empty()) FallBack(L"every file is installed already");
  const std::vector<TPartRange> parts = PlanRangeParts(wanted, kConnections);
  const int64_t bytes = RangeBytes(parts);
  if (static_cast<double>(bytes) > kMostChangedShare * static_cast<double>(record.ArchiveSize))
    FallBack(L"more than half of the archive changed");

  partCount = parts.size();
  downloader = std::make_unique<TParallelDownloader>(source.Url, source.PackagePath, kConnections, source.Size);
  downloader->SetRanges(parts);
  downloader->SetOnProgress(source.OnProgress);
  downloader->Start();
  CheckFetched(source.PackagePath, record, changed, buffer);

  std::vector<uint64_t> offsets;
  for (size_t index : changed) offsets.push_back(record.Entries[index].Offset);
  return offsets;
}

}  // namespace

std::vector<size_t> ChangedEntries(const TEntryRecord& record, const std::wstring& installDir) {
  std::vector<char> buffer(kPiece);
  std::vector<size_t> changed;
  for (size_t i = 0; i < record.Entries.size(); ++i)
    if (!Installed(installDir, record.Entries[i], buffer)) changed.push_back(i);
  return changed;
}

std::optional<std::vector<uint64_t>> DownloadChangedEntries(const TEntryUpdateSource& source,
                                                            std::unique_ptr<TParallelDownloader>& downloader) {
  size_t partCount = 0;
  try {
    return Fetch(source, downloader, partCount);
  } catch (...) {
    DebugReportCurrentException(L"the update of the changed entries; the whole archive follows");
    // What the ranges left must not pass for the archive, nor lie about beside it.
    DeleteFileW(source.PackagePath.c_str());
    for (size_t i = 0; i < partCount; ++i)
      DeleteFileW(PartFileName(source.PackagePath, static_cast<int32_t>(i)).c_str());
    return std::nullopt;
  }
}
