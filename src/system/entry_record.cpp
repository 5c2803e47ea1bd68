#include "system/entry_record.h"

#include "system/errors.h"
#include "system/release_statement.h"
#include "system/text.h"

namespace {

constexpr char kHeader[] = "morvane-files 1";
constexpr char kSignatureHead[] = "signature: ";
constexpr size_t kMaxDigits = 19;            // below 10^19, so every value fits in 64 bits
constexpr uint64_t kLocalHeaderSize = 30;    // the fixed part of a local header
constexpr uint64_t kEndRecordSize = 22;      // the end-of-central-directory record
constexpr size_t kMaxNameBytes = 0xFFFF;
constexpr size_t kSignatureSize = 64;

// A decimal number in canonical form: digits only, no leading zero, at most kMaxDigits.
std::optional<uint64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > kMaxDigits || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

// The next space-separated field of a line; what follows stays in line.
std::string_view Field(std::string_view& line) {
  const size_t space = line.find(' ');
  const std::string_view field = line.substr(0, space);
  line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
  return field;
}

// An entry name: UTF-8 without control characters, as the archive's directory may hold it.
bool IsPlainName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return DecodeUtf8Strict(name).has_value();
}

std::optional<TEntryRecord> Fail(std::string* reason, std::string text) {
  if (reason) *reason = std::move(text);
  return std::nullopt;
}

// The order and bounds that every record keeps; empty when they hold.
std::string BoundsProblem(const TEntryRecord& r) {
  if (r.DirectoryLength < kEndRecordSize) return "the directory is shorter than its end record";
  if (r.DirectoryOffset > r.ArchiveSize || r.ArchiveSize - r.DirectoryOffset != r.DirectoryLength)
    return "the directory does not end the archive";
  uint64_t next = 0;
  for (size_t i = 0; i < r.Entries.size(); ++i) {
    const TRecordedEntry& e = r.Entries[i];
    const std::string which = "entry " + std::to_string(i + 1);
    if (e.Offset < next) return which + " overlaps the one before it or is out of order";
    if (e.Length < kLocalHeaderSize + e.Name.size()) return which + " is shorter than its local header";
    if (e.Offset > r.DirectoryOffset || r.DirectoryOffset - e.Offset < e.Length)
      return which + " reaches into the directory";
    if (e.IsFolder() && e.Size != 0) return which + " is a folder with a size";
    next = e.Offset + e.Length;
  }
  return {};
}

}  // namespace

std::string FormatEntryRecord(const TEntryRecord& r) {
  if (!IsSha256Hex(r.ArchiveSha256) || !IsSha256Hex(r.DirectorySha256))
    throw Exception(L"A SHA-256 to record is not 64 hex digits");
  std::string out = std::string(kHeader) + "\n";
  out += "archive: " + std::to_string(r.ArchiveSize) + " " + r.ArchiveSha256 + "\n";
  out += "directory: " + std::to_string(r.DirectoryOffset) + " " + std::to_string(r.DirectoryLength) + " " +
         r.DirectorySha256 + "\n";
  for (const TRecordedEntry& e : r.Entries) {
    if (!IsSha256Hex(e.Sha256) || !IsSha256Hex(e.ContentSha256))
      throw Exception(L"A SHA-256 to record is not 64 hex digits");
    if (!IsPlainName(e.Name)) throw Exception(L"\"" + DecodeUtf8Lenient(e.Name) + L"\": the name cannot be recorded");
    out += "entry: " + std::to_string(e.Offset) + " " + std::to_string(e.Length) + " " + e.Sha256 + " " +
           std::to_string(e.Size) + " " + e.ContentSha256 + " " + e.Name + "\n";
  }
  if (const std::string problem = BoundsProblem(r); !problem.empty())
    throw Exception(L"The entry record cannot be written: " + Widen(problem));
  return out;
}

std::string FormatEntryRecordSignature(std::string_view signature) {
  return kSignatureHead + EncodeBase64(signature) + "\n";
}

std::optional<TEntryRecord> ParseEntryRecord(std::string_view file, std::string* reason) {
  if (file.size() > kMaxEntryRecordFile)
    return Fail(reason, "larger than " + std::to_string(kMaxEntryRecordFile) + " bytes");
  if (file.empty() || file.back() != '\n') return Fail(reason, "does not end with a line end");
  TEntryRecord r;
  size_t pos = 0, lineNumber = 0;
  bool signatureSeen = false;
  while (pos < file.size()) {
    const size_t end = file.find('\n', pos);
    std::string_view line = file.substr(pos, end - pos);
    const size_t lineStart = pos;
    pos = end + 1;
    ++lineNumber;
    const std::string at = "line " + std::to_string(lineNumber);
    if (signatureSeen) return Fail(reason, "text after the signature line");
    if (lineNumber == 1) {
      if (line != kHeader) return Fail(reason, std::string("the first line is not \"") + kHeader + "\"");
      continue;
    }
    const std::string_view key = Field(line);
    if (lineNumber == 2) {
      const std::optional<uint64_t> size = Number(Field(line));
      const std::string_view sha = Field(line);
      if (key != "archive:" || !size || !IsSha256Hex(sha) || !line.empty())
        return Fail(reason, at + " is not \"archive: <size> <sha256>\"");
      r.ArchiveSize = *size;
      r.ArchiveSha256 = sha;
      continue;
    }
    if (lineNumber == 3) {
      const std::optional<uint64_t> offset = Number(Field(line)), length = Number(Field(line));
      const std::string_view sha = Field(line);
      if (key != "directory:" || !offset || !length || !IsSha256Hex(sha) || !line.empty())
        return Fail(reason, at + " is not \"directory: <offset> <length> <sha256>\"");
      r.DirectoryOffset = *offset;
      r.DirectoryLength = *length;
      r.DirectorySha256 = sha;
      continue;
    }
    if (key == "signature:") {
      std::optional<std::string> signature = DecodeBase64(line);
      if (!signature || signature->size() != kSignatureSize)
        return Fail(reason, "the signature is not 64 bytes in base64");
      r.SignedBytes = file.substr(0, lineStart);
      r.Signature = std::move(*signature);
      signatureSeen = true;
      continue;
    }
    if (key != "entry:") return Fail(reason, at + " is neither an entry nor the signature");
    TRecordedEntry e;
    const std::optional<uint64_t> offset = Number(Field(line)), length = Number(Field(line));
    const std::string_view sha = Field(line);
    const std::optional<uint64_t> size = Number(Field(line));
    const std::string_view content = Field(line);
    if (!offset || !length || !IsSha256Hex(sha) || !size || !IsSha256Hex(content))
      return Fail(reason, at + " is not \"entry: <offset> <length> <sha256> <size> <content-sha256> <name>\"");
    if (!IsPlainName(line)) return Fail(reason, at + ": the name is not plain UTF-8");
    e.Offset = *offset;
    e.Length = *length;
    e.Sha256 = sha;
    e.Size = *size;
    e.ContentSha256 = content;
    e.Name = line;
    r.Entries.push_back(std::move(e));
  }
  if (lineNumber < 3) return Fail(reason, "the archive or directory line is missing");
  if (!signatureSeen) r.SignedBytes = file;
  if (const std::string problem = BoundsProblem(r); !problem.empty()) return Fail(reason, problem);
  return r;
}

std::optional<std::string> RecordMismatch(const TEntryRecord& record, const std::vector<TZipItem>& directory) {
  if (directory.size() != record.Entries.size())
    return "the directory holds " + std::to_string(directory.size()) + " entries, the record " +
           std::to_string(record.Entries.size());
  for (size_t i = 0; i < directory.size(); ++i) {
    const TZipItem& item = directory[i];
    const TRecordedEntry& e = record.Entries[i];
    const std::string which = "entry " + std::to_string(i + 1);
    if (item.RawName != e.Name) return which + " has another name in the directory";
    if (item.LocalHeaderOffset != e.Offset) return which + " lies elsewhere in the directory";
    if (item.UncompressedSize != e.Size) return which + " has another size in the directory";
    if (item.CompressedSize > e.Length) return which + " holds more data than its recorded length";
  }
  return std::nullopt;
}
