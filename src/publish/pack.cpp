#include "publish/pack.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>

#include "publish/entry_list.h"
#include "publish/files.h"
#include "publish/names.h"
#include "publish/sha256.h"
#include "system/errors.h"
#include "system/pe_version.h"
#include "system/text.h"

namespace fs = std::filesystem;

namespace {
const char kProgram[] = "Tandrel.exe";
constexpr uint64_t kZipLimit = 0xFFFFFFFFull;  // sizes and offsets of an archive without Zip64
constexpr size_t kMaxEntries = 0xFFFE;         // 0xFFFF in the count means "see the Zip64 record"
constexpr size_t kPiece = 1 << 20;

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

[[noreturn]] void Refuse(const std::string& name, const std::wstring& reason) {
  throw Exception(L"\"" + DecodeUtf8Lenient(name) + L"\": " + reason);
}

void SetDosTime(const fs::path& path, TPackEntry& entry) {
  std::error_code code;
  const fs::file_time_type written = fs::last_write_time(path, code);
  if (code) throw Exception(FileErrorText(L"Cannot read the date of", path, ReasonText(code)));
  const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  const int year = std::clamp(local.tm_year + 1900, 1980, 2107);
  entry.DosDate = static_cast<uint16_t>((year - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  entry.DosTime = static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | std::min(local.tm_sec, 59) / 2);
}

// A link (or on Windows any reparse point, junctions included) by its own name, not followed.
bool IsLink(const fs::directory_entry& item) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(item.path().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
#endif
  std::error_code code;
  return item.is_symlink(code);
}

std::string LinkTarget(const fs::path& path) {
  std::error_code code;
  const fs::path target = fs::read_symlink(path, code);
  return code ? std::string() : std::string(reinterpret_cast<const char*>(target.generic_u8string().c_str()));
}

// The limits of an archive without Zip64 that show before anything is compressed. Whether the
// whole archive stays below 4 GiB shows only while compressing; the writer stops there.
void CheckLimits(const std::vector<TPackEntry>& entries) {
  if (entries.size() > kMaxEntries)
    throw Exception(L"The product holds " + CountText(entries.size()) + L" files and folders; an archive without Zip64 "
                    L"holds at most " + CountText(kMaxEntries) + L" entries, and older launchers may not read Zip64");
  for (const TPackEntry& entry : entries)
    if (entry.Size >= kZipLimit)
      Refuse(entry.Name, L"it is " + CountText(entry.Size) + L" bytes; a file in an archive without Zip64 holds at most " +
                             CountText(kZipLimit - 1) + L" bytes, and older launchers may not read Zip64");
}

// One deflate stream and its buffers, reset for every file: a product of thousands of small
// files costs no set-up per file.
class TDeflater {
 public:
  TDeflater() : FInput(new char[kPiece]), FOutput(new char[kPiece]) {
    if (deflateInit2(&FStream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw Exception(L"insufficient memory");
  }
  ~TDeflater() { deflateEnd(&FStream); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  // Compresses one file into the archive; returns its CRC-32 and its compressed size.
  std::pair<uint32_t, uint64_t> File(const TPackEntry& entry, TOutFile& out) {
    TInFile file(entry.Source);
    deflateReset(&FStream);
    uint32_t crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    uint64_t read = 0, packed = 0;
    int flush = Z_NO_FLUSH;
    do {
      const size_t got = file.Read(FInput.get(), kPiece);
      read += got;
      crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(FInput.get()), static_cast<uInt>(got)));
      flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
      FStream.next_in = reinterpret_cast<Bytef*>(FInput.get());
      FStream.avail_in = static_cast<uInt>(got);
      int result = Z_OK;
      do {
        FStream.next_out = reinterpret_cast<Bytef*>(FOutput.get());
        FStream.avail_out = static_cast<uInt>(kPiece);
        result = deflate(&FStream, flush);
        if (result == Z_STREAM_ERROR) throw Exception(L"deflate failed");
        const size_t have = kPiece - FStream.avail_out;
        out.Write(FOutput.get(), have);
        packed += have;
      } while (FStream.avail_out == 0);
      if (flush == Z_FINISH && result != Z_STREAM_END) throw Exception(L"deflate failed");
    } while (flush != Z_FINISH);
    if (read != entry.Size)
      throw Exception(FileErrorText(L"Cannot read file", entry.Source, L"It changed while it was being packed."));
    return {crc, packed};
  }

 private:
  z_stream FStream{};
  std::unique_ptr<char[]> FInput, FOutput;
};

std::string Header(const TPackEntry& entry, uint32_t signature, uint16_t method, uint32_t crc, uint64_t packed) {
  std::string out;
  Put32(out, signature);
  if (signature == 0x02014b50) Put16(out, 20);  // made by: MS-DOS attributes, 2.0
  Put16(out, 20);       // version needed: 2.0
  Put16(out, 0x0800);   // names in UTF-8
  Put16(out, method);
  Put16(out, entry.DosTime);
  Put16(out, entry.DosDate);
  Put32(out, crc);
  Put32(out, static_cast<uint32_t>(packed));
  Put32(out, static_cast<uint32_t>(entry.Size));
  Put16(out, static_cast<uint32_t>(entry.Name.size()));
  Put16(out, 0);  // extra
  return out;
}

// Removes the staging folder on every path out of a pack.
struct TStagingFolder {
  fs::path Path;
  explicit TStagingFolder(fs::path path) : Path(std::move(path)) {
    std::error_code code;
    fs::remove_all(Path, code);  // left by an interrupted pack
    if (code || !fs::create_directory(Path, code))
      throw Exception(FileErrorText(L"Cannot create folder", Path, code ? ReasonText(code) : L"It exists."));
  }
  ~TStagingFolder() {
    std::error_code ignored;
    fs::remove_all(Path, ignored);
  }
};

bool Inside(const fs::path& inner, const fs::path& outer) {
  const auto [end, at] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return end == outer.end();
}

fs::path Canonical(const fs::path& path) {
  std::error_code code;
  fs::path full = fs::weakly_canonical(fs::absolute(path), code);
  if (code) throw Exception(FileErrorText(L"Cannot open folder", path, ReasonText(code)));
  if (!full.has_filename()) full = full.parent_path();  // "out/" names the folder "out"
  return full;
}
}  // namespace

std::wstring CountText(uint64_t value) {
  std::wstring digits = IntToStr(static_cast<int64_t>(value));
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), L",");
  return digits;
}

std::vector<TPackEntry> ListProduct(const fs::path& productDir) {
  std::error_code code;
  if (!fs::is_directory(productDir, code))
    throw Exception(FileErrorText(L"Cannot open folder", productDir, code ? ReasonText(code) : L"It is not a folder."));
  std::vector<TPackEntry> entries;
  fs::recursive_directory_iterator it(productDir, fs::directory_options::none, code);
  fs::path reading = productDir;  // the folder the iterator opens next, for its error
  for (; !code && it != fs::recursive_directory_iterator(); it.increment(code)) {
    const fs::directory_entry& item = *it;
    const std::string raw(reinterpret_cast<const char*>(item.path().lexically_relative(productDir).generic_u8string().c_str()));
    reading = item.path().parent_path();
    if (IsLink(item)) {
      const std::string target = LinkTarget(item.path());
      Refuse(raw, L"a link" + (target.empty() ? std::wstring() : L" to \"" + DecodeUtf8Lenient(target) + L"\"") +
                      L"; the archive would hold its target's content under another name; put the file itself here");
    }
    const bool folder = item.is_directory(code);
    if (!code && !folder && !item.is_regular_file(code)) Refuse(raw, L"neither a file nor a folder");
    if (code) throw Exception(FileErrorText(L"Cannot read", item.path(), ReasonText(code)));
    if (folder) reading = item.path();
    const std::optional<std::wstring> name = DecodeUtf8Strict(raw);
    if (!name)
      Refuse(raw, L"the name is not UTF-8 (written in another code page?); Windows users cannot get it: rename it");
    if (raw.find('\\') != std::string::npos)
      Refuse(raw, L"it holds \"\\\", which Windows reads as a folder separator");
    TPackEntry entry{raw + (folder ? "/" : ""), folder ? fs::path() : item.path()};
    if (!folder) {
      entry.Size = item.file_size(code);
      if (code) throw Exception(FileErrorText(L"Cannot read", item.path(), ReasonText(code)));
    }
    SetDosTime(item.path(), entry);
    entries.push_back(std::move(entry));
  }
  if (code) throw Exception(FileErrorText(L"Cannot read folder", reading, ReasonText(code)));

  CheckLimits(entries);
  std::error_code ignored;
  if (!fs::is_regular_file(fs::symlink_status(productDir / kProgram, ignored)))
    throw Exception(L"No Tandrel.exe in " + PathText(productDir) + L": the launcher starts it after installing");
  // Byte order of the names puts every folder before what it holds; the program goes last, so
  // that an interrupted extraction never leaves a new Tandrel.exe beside old files.
  std::sort(entries.begin(), entries.end(), [](const TPackEntry& a, const TPackEntry& b) {
    const bool aLast = a.Name == kProgram, bLast = b.Name == kProgram;
    return aLast != bLast ? bLast : a.Name < b.Name;
  });
  // The names as the launcher will read them from the archive.
  std::vector<TZipItem> items(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    items[i].Name = DecodeUtf8Lenient(entries[i].Name);
    std::replace(items[i].Name.begin(), items[i].Name.end(), L'/', L'\\');
    items[i].Flags = 0x0800;
  }
  if (const std::optional<TNameRefusal> refusal = JudgeForEveryUser(items))
    Refuse(entries[refusal->Index].Name, refusal->Reason);
  return entries;
}

uint64_t WriteArchive(const std::vector<TPackEntry>& entries, const fs::path& path) {
  TOutFile out(path);
  TDeflater deflater;
  std::string directory;
  auto beyond = [](const std::string& name) {
    Refuse(name, L"the archive passes " + CountText(kZipLimit) + L" bytes here; an archive without Zip64 holds no more, "
                 L"and older launchers may not read Zip64");
  };
  for (const TPackEntry& entry : entries) {
    const bool folder = entry.Source.empty();
    const uint64_t offset = static_cast<uint64_t>(out.Position());
    if (offset >= kZipLimit) beyond(entry.Name);
    const uint16_t method = folder ? 0 : 8;
    out.Write(Header(entry, 0x04034b50, method, 0, 0) + entry.Name);
    uint32_t crc = 0;
    uint64_t packed = 0;
    if (!folder) {
      std::tie(crc, packed) = deflater.File(entry, out);
      if (packed >= kZipLimit) beyond(entry.Name);
      std::string sizes;
      Put32(sizes, crc);
      Put32(sizes, static_cast<uint32_t>(packed));
      out.WriteAt(static_cast<int64_t>(offset + 14), sizes);
    }
    directory += Header(entry, 0x02014b50, method, crc, packed);
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, folder ? 0x10 : 0x20);  // FILE_ATTRIBUTE_DIRECTORY or _ARCHIVE
    Put32(directory, static_cast<uint32_t>(offset));
    directory += entry.Name;
  }
  const uint64_t directoryOffset = static_cast<uint64_t>(out.Position());
  if (directoryOffset + directory.size() >= kZipLimit) beyond(entries.empty() ? std::string() : entries.back().Name);
  out.Write(directory);
  std::string end;
  Put32(end, 0x06054b50);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, static_cast<uint32_t>(entries.size()));
  Put16(end, static_cast<uint32_t>(entries.size()));
  Put32(end, static_cast<uint32_t>(directory.size()));
  Put32(end, static_cast<uint32_t>(directoryOffset));
  Put16(end, 0);
  out.Write(end);
  const uint64_t size = static_cast<uint64_t>(out.Position());
  out.Close();
  return size;
}

TPackResult PackRelease(const fs::path& productDir, const fs::path& notes, const fs::path& outDir,
                        const TStagingStep& beforeCheck) {
  const fs::path product = Canonical(productDir), out = Canonical(outDir);
  if (Inside(out, product))
    throw Exception(L"The release folder " + PathText(outDir) + L" is inside the product folder " +
                    PathText(productDir) + L": the next pack would put this release into the product");
  const std::vector<TPackEntry> entries = ListProduct(productDir);
  TPackResult result;
  result.Version = PeFileVersionString(ReadWholeFile(productDir / kProgram));
  if (result.Version == L"0.0.0")
    throw Exception(L"Tandrel.exe has no version resource: the launcher would offer this release again and again");
  std::string notesBytes = ReadWholeFile(notes);
  if (std::optional<std::wstring> reason = NotesDecodeError(notesBytes))
    throw Exception(L"Cannot publish the notes " + PathText(notes) + L": " + *reason + L"; save them as UTF-8");
  // With a byte-order mark the launcher decodes the notes as UTF-8 whatever they hold.
  if (notesBytes.compare(0, 3, "\xEF\xBB\xBF") != 0) notesBytes.insert(0, "\xEF\xBB\xBF");

  std::error_code code;
  fs::create_directories(out.parent_path(), code);
  if (code) throw Exception(FileErrorText(L"Cannot create folder", out.parent_path(), ReasonText(code)));
  const TStagingFolder staging(out.parent_path() / (fs::path(".") += out.filename() += ".pack"));
  result.ArchiveSize = WriteArchive(entries, staging.Path / "Tandrel.zip");
  WriteWholeFile(staging.Path / "version.txt", EncodeUtf8(result.Version));
  WriteWholeFile(staging.Path / "Changes.txt", notesBytes);
  // Where every entry lies and what it holds, so that an update fetches only what differs.
  // Launchers that do not know the file never ask for it.
  WriteEntryRecordFile(staging.Path);
  result.Files = {"Tandrel.zip", kEntryRecordName, "Changes.txt", "version.txt"};
  // Every file of the release is in the staging folder from here on.
  if (beforeCheck) beforeCheck(staging.Path, result.Files);

  result.Findings = CheckReleaseFolder(staging.Path);
  if (std::any_of(result.Findings.begin(), result.Findings.end(), [](const TFinding& f) { return f.Error; }))
    return result;
  result.Entries = entries.size();
  for (const TPackEntry& entry : entries) result.FilesSize += entry.Size;
  result.Sha256 = Sha256OfFile(staging.Path / "Tandrel.zip");

  // version.txt goes last: until it changes, no launcher looks at the other files.
  std::stable_partition(result.Files.begin(), result.Files.end(), [](const std::string& f) { return f != "version.txt"; });
  fs::create_directories(out, code);
  if (code) throw Exception(FileErrorText(L"Cannot create folder", out, ReasonText(code)));
  std::wstring replaced;
  for (const std::string& file : result.Files) {
    try {
      ReplaceFileWith(staging.Path / file, out / file);
    } catch (const Exception& e) {
      throw Exception(e.Message() + L" (" + (replaced.empty() ? L"nothing was replaced" : L"replaced already:" + replaced) +
                      L"; version.txt is still the old one, so no launcher offers the new files yet)");
    }
    replaced += L" " + DecodeUtf8Lenient(file);
  }
  result.Written = true;
  for (fs::directory_iterator it(out, code), end; !code && it != end; it.increment(code))
    if (std::none_of(result.Files.begin(), result.Files.end(),
                     [&](const std::string& file) { return it->path().filename() == fs::path(file); }))
      result.Unwritten.push_back(it->path());
  std::sort(result.Unwritten.begin(), result.Unwritten.end());
  return result;
}
