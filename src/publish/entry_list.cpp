#include "publish/entry_list.h"

#include <algorithm>
#include <vector>

#include "publish/files.h"
#include "publish/sha256.h"
#include "publish/sign.h"
#include "system/errors.h"
#include "system/release_statement.h"
#include "system/text.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kPiece = 1 << 20;

std::string Hex(TSha256Stream& hash) { return EncodeUtf8(hash.HexDigest()); }

// SHA-256 of bytes of the archive where they lie, read in pieces.
std::string RangeSha256(TZipSource& archive, uint64_t offset, uint64_t length) {
  TSha256Stream hash;
  std::vector<char> piece(static_cast<size_t>(std::min<uint64_t>(length, kPiece)));
  while (length > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length, piece.size()));
    const size_t got = archive.ReadAt(static_cast<int64_t>(offset), piece.data(), want);
    if (got == 0) throw Exception(L"Stream read error");
    hash.Update(piece.data(), got);
    offset += got;
    length -= got;
  }
  return Hex(hash);
}

// Takes in what extraction would write: each file's SHA-256.
class TContentHashes final : public TZipOutput {
 public:
  std::vector<std::string> Digests;  // per entry, folders included (the empty content)

  void MakeFolder(const TZipItem& item) override {
    if (item.IsFolder()) Digests.push_back(EncodeUtf8(Sha256Hex({})));
  }
  void BeginFile(const TZipItem&) override { FHash.emplace(); }
  void Write(const void* data, size_t count) override { FHash->Update(data, count); }
  void CloseFile() override {}
  void FinishFile(const TZipItem&) override {
    Digests.push_back(Hex(*FHash));
    FHash.reset();
  }

 private:
  std::optional<TSha256Stream> FHash;
};

std::string ShortSha(const std::string& sha) { return sha.substr(0, 12); }

}  // namespace

TEntryRecord RecordArchive(TZipSource& archive, const std::string& archiveSha256) {
  TEntryRecord record;
  record.ArchiveSize = static_cast<uint64_t>(archive.Size());
  record.ArchiveSha256 = archiveSha256;
  std::vector<TZipItem> items = ReadZipDirectory(archive, &record.DirectoryOffset);
  if (record.DirectoryOffset > record.ArchiveSize) throw Exception(L"Error reading zip file");
  record.DirectoryLength = record.ArchiveSize - record.DirectoryOffset;
  record.DirectorySha256 = RangeSha256(archive, record.DirectoryOffset, record.DirectoryLength);
  for (TZipItem& item : items) JudgeZipEntry(archive, item);
  TContentHashes contents;
  ExtractZipItems(archive, items, contents);
  for (size_t i = 0; i < items.size(); ++i) {
    const TZipItem& item = items[i];
    TRecordedEntry entry;
    entry.Offset = item.LocalHeaderOffset;
    entry.Length = item.DataOffset + item.CompressedSize - item.LocalHeaderOffset;
    entry.Sha256 = RangeSha256(archive, entry.Offset, entry.Length);
    entry.Size = item.UncompressedSize;
    entry.ContentSha256 = contents.Digests.at(i);
    entry.Name = item.RawName;
    record.Entries.push_back(std::move(entry));
  }
  return record;
}

void WriteEntryRecordFile(const fs::path& dir) {
  const fs::path archive = dir / "Tandrel.zip";
  const std::string sha = EncodeUtf8(Sha256OfFile(archive));
  TInFile file(archive);
  WriteWholeFile(dir / kEntryRecordName, FormatEntryRecord(RecordArchive(file, sha)));
}

namespace {
std::wstring RecordText(const std::wstring& text) { return Widen(kEntryRecordName) + L": " + text; }
}  // namespace

std::vector<TFinding> CheckEntryRecordSignature(const fs::path& dir, const std::string& point) {
  const fs::path path = dir / kEntryRecordName;
  if (!fs::exists(fs::symlink_status(path))) return {};
  const std::optional<TEntryRecord> record = ParseEntryRecord(ReadWholeFile(path));
  if (!record) return {};  // malformed: CheckEntryRecord says so
  if (record->Signature.empty())
    return {{false, RecordText(L"not signed: launchers holding keys ignore it and download the whole archive for "
                               L"every update")}};
  if (!VerifyStatement(point, record->SignedBytes, record->Signature))
    return {{true, RecordText(L"not signed by this key: launchers holding it download the whole archive for every "
                              L"update")}};
  return {};
}

std::vector<TFinding> CheckEntryRecord(const fs::path& dir) {
  std::vector<TFinding> findings;
  const fs::path path = dir / kEntryRecordName;
  if (!fs::exists(fs::symlink_status(path))) return findings;
  auto error = [&](const std::wstring& text) {
    findings.push_back({true, RecordText(text + L"; launchers would fetch entries by it: pack the release again")});
  };
  std::string reason;
  const std::optional<TEntryRecord> record = ParseEntryRecord(ReadWholeFile(path), &reason);
  if (!record) {
    error(L"malformed: " + DecodeUtf8Lenient(reason));
    return findings;
  }
  const fs::path archivePath = dir / "Tandrel.zip";
  if (!fs::exists(fs::symlink_status(archivePath))) return findings;  // reported by the archive's check
  TEntryRecord actual;
  try {
    TInFile archive(archivePath);
    actual = RecordArchive(archive, EncodeUtf8(Sha256OfFile(archivePath)));
  } catch (const Exception&) {
    return findings;  // the archive's own check says why it cannot be read
  }
  if (record->ArchiveSize != actual.ArchiveSize || record->ArchiveSha256 != actual.ArchiveSha256) {
    error(L"made for another Tandrel.zip (" + IntToStr(static_cast<int64_t>(record->ArchiveSize)) + L" bytes, SHA-256 " +
          Widen(ShortSha(record->ArchiveSha256)) + L"...)");
    return findings;
  }
  if (record->DirectoryOffset != actual.DirectoryOffset || record->DirectorySha256 != actual.DirectorySha256)
    error(L"the zip directory is not where or what it says");
  if (record->Entries.size() != actual.Entries.size()) {
    error(L"names " + IntToStr(static_cast<int64_t>(record->Entries.size())) + L" entries, Tandrel.zip holds " +
          IntToStr(static_cast<int64_t>(actual.Entries.size())));
    return findings;
  }
  for (size_t i = 0; i < actual.Entries.size(); ++i) {
    const TRecordedEntry &said = record->Entries[i], &is = actual.Entries[i];
    const std::wstring name = L"\"" + DecodeUtf8Lenient(is.Name) + L"\": ";
    if (said.Name != is.Name)
      error(L"entry " + IntToStr(static_cast<int64_t>(i + 1)) + L" is named \"" + DecodeUtf8Lenient(said.Name) +
            L"\", in Tandrel.zip " + name.substr(0, name.size() - 2));
    else if (said.Offset != is.Offset || said.Length != is.Length || said.Sha256 != is.Sha256)
      error(name + L"its bytes in Tandrel.zip are not where or what the record says");
    else if (said.Size != is.Size || said.ContentSha256 != is.ContentSha256)
      error(name + L"its content is not what the record says");
  }
  return findings;
}
