#include "publish/pack.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>

#include "publish/release_check.h"
#include "system/errors.h"
#include "system/pe_version.h"
#include "system/text.h"
#include "system/zip_core.h"

namespace fs = std::filesystem;

namespace {
const char kProgram[] = "Tandrel.exe";

std::wstring PathText(const fs::path& path) { return DecodeUtf8Lenient(reinterpret_cast<const char*>(path.u8string().c_str())); }

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void SetDosTime(const fs::path& path, TPackEntry& entry) {
  const auto system = std::chrono::file_clock::to_sys(fs::last_write_time(path));
  const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
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

std::string Deflate(const std::string& data) {
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw Exception(L"insufficient memory");
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw Exception(L"deflate failed");
  return out;
}

void WriteWholeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw Exception(L"Cannot write " + PathText(path));
}
}  // namespace

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Exception(L"Cannot read " + PathText(path));
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw Exception(L"Cannot read " + PathText(path));
  return bytes;
}

std::vector<TPackEntry> ListProduct(const fs::path& productDir) {
  if (!fs::is_regular_file(productDir / kProgram))
    throw Exception(L"No Tandrel.exe in " + PathText(productDir) + L": the launcher starts it after installing");
  std::vector<TPackEntry> entries;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(productDir)) {
    const std::string raw(reinterpret_cast<const char*>(fs::relative(item.path(), productDir).generic_u8string().c_str()));
    const std::optional<std::wstring> name = DecodeUtf8Strict(raw);
    const bool folder = item.is_directory();
    if (!folder && !item.is_regular_file()) throw Exception(L"Not a file or folder: " + PathText(item.path()));
    std::wstring windowsName = name ? *name : std::wstring();
    std::replace(windowsName.begin(), windowsName.end(), L'/', L'\\');
    if (!name || raw.find('\\') != std::string::npos || ZipNameHasInvalidChars(windowsName) ||
        ZipNameIsUnsafe(windowsName))
      throw Exception(L"The launcher refuses the file name \"" + DecodeUtf8Lenient(raw) + L"\"");
    if (!folder && item.file_size() >= 0xFFFFFFFFull) throw Exception(L"Larger than 4 GiB: " + PathText(item.path()));
    TPackEntry entry{raw + (folder ? "/" : ""), folder ? fs::path() : item.path()};
    SetDosTime(item.path(), entry);
    entries.push_back(std::move(entry));
  }
  // Byte order of the names puts every folder before what it holds; the program goes last, so
  // that an interrupted extraction never leaves a new Tandrel.exe beside old files.
  std::sort(entries.begin(), entries.end(), [](const TPackEntry& a, const TPackEntry& b) {
    const bool aLast = a.Name == kProgram, bLast = b.Name == kProgram;
    return aLast != bLast ? bLast : a.Name < b.Name;
  });
  return entries;
}

std::string BuildArchive(const std::vector<TPackEntry>& entries) {
  std::string archive, directory;
  for (const TPackEntry& entry : entries) {
    const bool folder = !entry.Name.empty() && entry.Name.back() == '/';
    const std::string data = folder ? std::string() : ReadWholeFile(entry.Source);
    const std::string packed = folder ? std::string() : Deflate(data);
    const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    const uint16_t method = folder ? 0 : 8;
    if (archive.size() + packed.size() + entry.Name.size() >= 0xFFFFFFFFull)
      throw Exception(L"The archive would need Zip64, which older launchers may not read");
    const uint32_t offset = static_cast<uint32_t>(archive.size());
    auto common = [&](std::string& out) {
      Put16(out, 20);       // version needed: 2.0
      Put16(out, 0x0800);   // names in UTF-8
      Put16(out, method);
      Put16(out, entry.DosTime);
      Put16(out, entry.DosDate);
      Put32(out, crc);
      Put32(out, static_cast<uint32_t>(packed.size()));
      Put32(out, static_cast<uint32_t>(data.size()));
      Put16(out, static_cast<uint32_t>(entry.Name.size()));
      Put16(out, 0);  // extra
    };
    Put32(archive, 0x04034b50);
    common(archive);
    archive += entry.Name;
    archive += packed;

    Put32(directory, 0x02014b50);
    Put16(directory, 20);  // made by: MS-DOS attributes, 2.0
    common(directory);
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, folder ? 0x10 : 0x20);  // FILE_ATTRIBUTE_DIRECTORY or _ARCHIVE
    Put32(directory, offset);
    directory += entry.Name;
  }
  if (entries.size() >= 0xFFFF || archive.size() + directory.size() >= 0xFFFFFFFFull)
    throw Exception(L"The archive would need Zip64, which older launchers may not read");
  const uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
  archive += directory;
  Put32(archive, 0x06054b50);
  Put16(archive, 0);
  Put16(archive, 0);
  Put16(archive, static_cast<uint32_t>(entries.size()));
  Put16(archive, static_cast<uint32_t>(entries.size()));
  Put32(archive, static_cast<uint32_t>(directory.size()));
  Put32(archive, directoryOffset);
  Put16(archive, 0);
  return archive;
}

void PackRelease(const fs::path& productDir, const fs::path& notes, const fs::path& outDir) {
  const std::vector<TPackEntry> entries = ListProduct(productDir);
  const std::wstring version = PeFileVersionString(ReadWholeFile(productDir / kProgram));
  if (version == L"0.0.0")
    throw Exception(L"Tandrel.exe has no version resource: the launcher would offer this release again and again");
  std::string notesBytes = ReadWholeFile(notes);
  if (std::optional<std::wstring> reason = NotesDecodeError(notesBytes))
    throw Exception(L"Cannot publish the notes: " + *reason + L"; save them as UTF-8");
  // With a byte-order mark the launcher decodes the notes as UTF-8 whatever they hold.
  if (notesBytes.compare(0, 3, "\xEF\xBB\xBF") != 0) notesBytes.insert(0, "\xEF\xBB\xBF");

  const std::string archive = BuildArchive(entries);
  fs::create_directories(outDir);
  WriteWholeFile(outDir / "Tandrel.zip", archive);
  WriteWholeFile(outDir / "version.txt", EncodeUtf8(version));
  WriteWholeFile(outDir / "Changes.txt", notesBytes);
}
