// Zip archive reading, independent of where the bytes come from and where the entries go.
// Portable: the archive is untrusted input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Random-access bytes of an archive.
class TZipSource {
 public:
  virtual ~TZipSource() = default;
  virtual int64_t Size() = 0;
  // Reads up to count bytes at offset; returns how many were read (fewer at the end).
  virtual size_t ReadAt(int64_t offset, void* data, size_t count) = 0;
};

// An archive held in memory.
class TMemoryZipSource final : public TZipSource {
 public:
  explicit TMemoryZipSource(std::string_view bytes) : FBytes(bytes) {}
  int64_t Size() override { return static_cast<int64_t>(FBytes.size()); }
  size_t ReadAt(int64_t offset, void* data, size_t count) override;

 private:
  std::string_view FBytes;
};

struct TZipItem {
  std::wstring Name;  // decoded, with "\" between folders
  uint16_t MadeBy = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint16_t DosTime = 0;  // from the local header
  uint16_t DosDate = 0;
  uint32_t Crc = 0;
  uint32_t ExternalAttributes = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint64_t LocalHeaderOffset = 0;
  uint64_t DataOffset = 0;     // where the entry's data begins, past its local header
  std::string RawName;         // the central header's name bytes
  bool IsFolder() const { return !Name.empty() && Name.back() == L'\\'; }
};

// Receives the entries in central-directory order.
class TZipOutput {
 public:
  virtual ~TZipOutput() = default;
  // Makes sure the folder part of the entry's local path exists (every level).
  virtual void MakeFolder(const TZipItem& item) = 0;
  // Creates the entry's file (which replaces an existing one once complete); then Write, then
  // CloseFile.
  virtual void BeginFile(const TZipItem& item) = 0;
  virtual void Write(const void* data, size_t count) = 0;
  virtual void CloseFile() = 0;
  // After a complete, verified file: date, time and attributes.
  virtual void FinishFile(const TZipItem& item) = 0;
};

// The entries of the central directory, in its order, with their names not yet decoded; raises
// Exception as extraction would when the directory cannot be read. directoryOffset, when given,
// receives where the directory begins.
std::vector<TZipItem> ReadZipDirectory(TZipSource& source, uint64_t* directoryOffset = nullptr);
// Reads an entry's local header and decides from it and the central header whether the entry can
// be written at all: its signature, its method and its name. Fills the name, the local date and
// time and the data offset; raises Exception as extraction would.
void JudgeZipEntry(TZipSource& source, TZipItem& item);

// Extracts every entry of the archive into the output; raises Exception on the first failure
// and leaves what was written so far. Entries that cannot be written at all (a damaged header,
// an unsupported method, a name Windows cannot write, an encrypted entry) fail before the first
// entry is written (JudgeZipArchive, zip_judge.h); damaged data shows only while writing.
void ExtractZip(TZipSource& source, TZipOutput& output);
// The same for entries already judged, in their order.
void ExtractZipItems(TZipSource& source, const std::vector<TZipItem>& items, TZipOutput& output);

// The name bytes of an entry decoded by the archive's rules, with "/" turned into "\".
std::wstring DecodeZipName(std::string_view rawName, uint16_t flags, std::string_view localExtra);
std::wstring DecodeCp437(std::string_view bytes);
// A character that paths may not hold: U+0000..U+001F, '"', '<', '>', '|', '?', '*'.
bool ZipNameHasInvalidChars(const std::wstring& name);
// A name that would leave the destination folder or name no ordinary file there: rooted, with a
// drive or stream colon, with ".." segments, or with a device name (CON, NUL, COM1...) in it.
bool ZipNameIsUnsafe(const std::wstring& name);
// destination + "\" (unless it ends with "\", "/" or ":") + name.
std::wstring JoinZipPath(const std::wstring& destination, const std::wstring& name);
// The folder part of a path: up to and including its last "\" or ":"; empty when none.
std::wstring ExtractFilePath(const std::wstring& path);
// Whether an MS-DOS date and time form a real date and time.
bool DosDateTimeValid(uint16_t date, uint16_t time);
