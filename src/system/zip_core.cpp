#include "system/zip_core.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "system/errors.h"
#include "system/text.h"
#include "system/zip_judge.h"

namespace {
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr size_t kMaxComment = 0xFFFF;
constexpr uint64_t kPiece = 1048576;

[[noreturn]] void Fail(const wchar_t* message) { throw Exception(message); }

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint64_t Get64(const unsigned char* p) { return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32; }

// Offsets past INT64_MAX cannot be read; they read as nothing.
size_t ReadSome(TZipSource& source, uint64_t offset, void* data, size_t count) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  return source.ReadAt(static_cast<int64_t>(offset), data, count);
}

void ReadExact(TZipSource& source, uint64_t offset, void* data, size_t count) {
  if (ReadSome(source, offset, data, count) != count) Fail(L"Stream read error");
}

std::string ReadBytes(TZipSource& source, uint64_t offset, size_t count) {
  std::string bytes(count, '\0');
  if (count > 0) ReadExact(source, offset, bytes.data(), count);
  return bytes;
}

const char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Fills the sizes and the offset that a Zip64 extended information field (0x0001) supplies.
void ApplyZip64Extra(std::string_view extra, uint32_t usize32, uint32_t csize32, uint32_t offset32, TZipItem& item) {
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data() + at);
    const uint16_t id = Get16(p), size = Get16(p + 2);
    const size_t end = std::min(extra.size(), at + 4 + size);
    if (id == 0x0001) {
      size_t field = at + 4;
      auto take = [&](uint64_t& value) {
        if (field + 8 <= end) {
          value = Get64(reinterpret_cast<const unsigned char*>(extra.data() + field));
          field += 8;
        }
      };
      if (usize32 == 0xFFFFFFFF) take(item.UncompressedSize);
      if (csize32 == 0xFFFFFFFF) take(item.CompressedSize);
      if (offset32 == 0xFFFFFFFF) take(item.LocalHeaderOffset);
      return;
    }
    at = end;
  }
}

std::vector<TZipItem> ReadCentralDirectory(TZipSource& source, uint64_t* directoryStart) {
  const int64_t size = source.Size();
  if (size <= 0) Fail(L"Stream read error");
  const uint64_t fileSize = static_cast<uint64_t>(size);
  if (fileSize < kEndSize) Fail(L"Error reading zip file");

  // The end record sits at the very end, or before a comment of at most 64 KiB.
  const uint64_t tailSize = std::min<uint64_t>(fileSize, kEndSize + kMaxComment);
  const uint64_t tailStart = fileSize - tailSize;
  std::vector<unsigned char> tail(static_cast<size_t>(tailSize));
  ReadExact(source, tailStart, tail.data(), tail.size());
  int64_t found = -1, loose = -1;
  for (int64_t at = static_cast<int64_t>(tail.size() - kEndSize); at >= 0; --at) {
    const unsigned char* p = tail.data() + at;
    if (Get32(p) != kEndSignature) continue;
    const uint64_t commentEnd = static_cast<uint64_t>(at) + kEndSize + Get16(p + 20);
    if (commentEnd == tail.size()) {
      found = at;
      break;
    }
    if (loose < 0 && commentEnd <= tail.size()) loose = at;
  }
  if (found < 0) found = loose;
  if (found < 0) Fail(L"Error reading zip file");
  const unsigned char* end = tail.data() + found;
  const uint64_t endOffset = tailStart + static_cast<uint64_t>(found);

  uint64_t count = Get16(end + 10);
  uint64_t directoryOffset = Get32(end + 16);
  const bool zip64 = directoryOffset == 0xFFFFFFFF || count == 0xFFFF || Get32(end + 12) == 0xFFFFFFFF;
  if (zip64) {
    unsigned char locator[20];
    const bool hasLocator = endOffset >= sizeof(locator) &&
                            ReadSome(source, endOffset - sizeof(locator), locator, sizeof(locator)) == sizeof(locator) &&
                            Get32(locator) == kZip64LocatorSignature;
    if (hasLocator) {
      unsigned char record[56];
      const uint64_t recordOffset = Get64(locator + 8);
      if (ReadSome(source, recordOffset, record, sizeof(record)) != sizeof(record) ||
          Get32(record) != kZip64EndSignature)
        Fail(L"Error reading zip file");
      count = Get64(record + 32);
      directoryOffset = Get64(record + 48);
    } else if (directoryOffset == 0xFFFFFFFF) {
      Fail(L"Error reading zip file");
    }
  }

  if (directoryStart) *directoryStart = directoryOffset;
  std::vector<TZipItem> items;
  uint64_t at = directoryOffset;
  for (uint64_t i = 0; i < count; ++i) {
    unsigned char h[kCentralSize];
    ReadExact(source, at, h, 4);
    if (Get32(h) != kCentralSignature) Fail(L"Invalid Zip Central Header signature");
    ReadExact(source, at, h, sizeof(h));
    TZipItem item;
    item.MadeBy = Get16(h + 4);
    item.Flags = Get16(h + 8);
    item.Method = Get16(h + 10);
    item.Crc = Get32(h + 16);
    const uint32_t csize32 = Get32(h + 20), usize32 = Get32(h + 24), offset32 = Get32(h + 42);
    item.CompressedSize = csize32;
    item.UncompressedSize = usize32;
    item.LocalHeaderOffset = offset32;
    item.ExternalAttributes = Get32(h + 38);
    const uint16_t nameLength = Get16(h + 28), extraLength = Get16(h + 30), commentLength = Get16(h + 32);
    item.RawName = ReadBytes(source, at + kCentralSize, nameLength);
    const std::string extra = ReadBytes(source, at + kCentralSize + nameLength, extraLength);
    ApplyZip64Extra(extra, usize32, csize32, offset32, item);
    items.push_back(std::move(item));
    at += kCentralSize + nameLength + extraLength + commentLength;
  }
  return items;
}

// Delivers an entry's bytes: stored or inflated.
class TDecoder {
 public:
  virtual ~TDecoder() = default;
  // Fills up to count bytes; returns how many (fewer only at the end of the data).
  virtual size_t Read(unsigned char* data, size_t count) = 0;
};

class TStoredDecoder final : public TDecoder {
 public:
  TStoredDecoder(TZipSource& source, uint64_t offset, uint64_t size) : FSource(source), FAt(offset), FLeft(size) {}
  size_t Read(unsigned char* data, size_t count) override {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(count, FLeft));
    size_t total = 0;
    while (total < want) {
      const size_t got = ReadSome(FSource, FAt, data + total, want - total);
      if (got == 0) break;
      total += got;
      FAt += got;
      FLeft -= got;
    }
    return total;
  }

 private:
  TZipSource& FSource;
  uint64_t FAt, FLeft;
};

class TInflateDecoder final : public TDecoder {
 public:
  TInflateDecoder(TZipSource& source, uint64_t offset, uint64_t size)
      : FSource(source), FAt(offset), FLeft(size), FInput(static_cast<size_t>(std::min<uint64_t>(size, 65536) + 1)) {
    if (inflateInit2(&FStream, -15) != Z_OK) Fail(L"insufficient memory");
  }
  ~TInflateDecoder() override { inflateEnd(&FStream); }
  TInflateDecoder(const TInflateDecoder&) = delete;
  TInflateDecoder& operator=(const TInflateDecoder&) = delete;

  size_t Read(unsigned char* data, size_t count) override {
    if (FDone || count == 0) return 0;
    FStream.next_out = data;
    FStream.avail_out = static_cast<uInt>(count);
    while (FStream.avail_out > 0) {
      if (FStream.avail_in == 0 && FLeft > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(FLeft, FInput.size()));
        const size_t got = ReadSome(FSource, FAt, FInput.data(), want);
        FAt += got;
        FLeft = got == want ? FLeft - got : 0;  // a short read means the archive ends here
        FStream.next_in = FInput.data();
        FStream.avail_in = static_cast<uInt>(got);
      }
      const int result = inflate(&FStream, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        FDone = true;
        break;
      }
      if (result == Z_BUF_ERROR) {
        if (FStream.avail_in == 0 && FLeft > 0) continue;
        break;  // input used up: the data ends early
      }
      if (result != Z_OK) {
        if (result == Z_NEED_DICT) Fail(L"data error");
        throw Exception(Widen(zError(result)));
      }
    }
    return count - FStream.avail_out;
  }

 private:
  TZipSource& FSource;
  uint64_t FAt, FLeft;
  std::vector<unsigned char> FInput;
  z_stream FStream{};
  bool FDone = false;
};

bool IsReservedDeviceName(const std::wstring& segment) {
  // The device part is what precedes the first dot, without trailing blanks.
  std::wstring base = segment.substr(0, segment.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  base = AsciiUpper(base);
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
      base == L"CONOUT$")
    return true;
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
    const wchar_t d = base[3];
    return (d >= L'1' && d <= L'9') || d == 0x00B9 || d == 0x00B2 || d == 0x00B3;
  }
  return false;
}
}  // namespace

size_t TMemoryZipSource::ReadAt(int64_t offset, void* data, size_t count) {
  if (offset < 0 || static_cast<uint64_t>(offset) >= FBytes.size()) return 0;
  const size_t n = std::min(count, FBytes.size() - static_cast<size_t>(offset));
  std::memcpy(data, FBytes.data() + offset, n);
  return n;
}

std::wstring DecodeCp437(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    out += b < 0x80 ? static_cast<wchar_t>(b) : static_cast<wchar_t>(kCp437High[b - 0x80]);
  }
  return out;
}

std::wstring DecodeZipName(std::string_view rawName, uint16_t flags, std::string_view localExtra) {
  std::wstring name;
  bool decoded = false;
  size_t at = 0;
  while (at + 4 <= localExtra.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(localExtra.data() + at);
    const uint16_t id = Get16(p), size = Get16(p + 2);
    if (at + 4 + size > localExtra.size()) break;
    if (id == 0x7075 && size >= 5) {
      const uint32_t nameCrc = Get32(p + 5);
      const uint32_t rawCrc = static_cast<uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(rawName.data()), static_cast<uInt>(rawName.size())));
      if (nameCrc == rawCrc) {
        name = DecodeUtf8Lenient(localExtra.substr(at + 9, size - 5));
        decoded = true;
      }
      break;
    }
    at += 4 + size;
  }
  if (!decoded) name = (flags & 0x0800) ? DecodeUtf8Lenient(rawName) : DecodeCp437(rawName);
  std::replace(name.begin(), name.end(), L'/', L'\\');
  return name;
}

bool ZipNameHasInvalidChars(const std::wstring& name) {
  return std::any_of(name.begin(), name.end(), [](wchar_t c) {
    return c <= 0x1F || c == L'"' || c == L'<' || c == L'>' || c == L'|' || c == L'?' || c == L'*';
  });
}

bool ZipNameIsUnsafe(const std::wstring& name) {
  if (name.empty()) return false;
  // Rooted ("\x", "\\server\share") or naming a drive or an alternate data stream.
  if (name.front() == L'\\' || name.find(L':') != std::wstring::npos) return true;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t stop = std::min(name.find(L'\\', start), name.size());
    const std::wstring segment = name.substr(start, stop - start);
    // Windows drops trailing dots and blanks, so "..", ".. " and "..." all climb.
    const bool onlyDots = !segment.empty() && segment.find_first_not_of(L". ") == std::wstring::npos;
    if (onlyDots && std::count(segment.begin(), segment.end(), L'.') >= 2) return true;
    if (IsReservedDeviceName(segment)) return true;
    start = stop + 1;
  }
  return false;
}

std::wstring JoinZipPath(const std::wstring& destination, const std::wstring& name) {
  std::wstring path = destination;
  if (path.empty() || (path.back() != L'\\' && path.back() != L'/' && path.back() != L':')) path += L'\\';
  return path + name;
}

std::wstring ExtractFilePath(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\:");
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

bool DosDateTimeValid(uint16_t date, uint16_t time) {
  const int day = date & 0x1F, month = (date >> 5) & 0x0F, year = 1980 + (date >> 9);
  const int second = (time & 0x1F) * 2, minute = (time >> 5) & 0x3F, hour = time >> 11;
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return false;
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

void JudgeZipEntry(TZipSource& source, TZipItem& item) {
  unsigned char h[kLocalSize];
  ReadExact(source, item.LocalHeaderOffset, h, 4);
  if (Get32(h) != kLocalSignature) Fail(L"Invalid Zip Local Header signature");
  ReadExact(source, item.LocalHeaderOffset, h, sizeof(h));
  item.DosTime = Get16(h + 10);
  item.DosDate = Get16(h + 12);
  const uint16_t nameLength = Get16(h + 26), extraLength = Get16(h + 28);
  item.DataOffset = item.LocalHeaderOffset + kLocalSize + nameLength + extraLength;
  if (item.Method != 0 && item.Method != 8) Fail(L"Item not found");
  const std::string localExtra = ReadBytes(source, item.LocalHeaderOffset + kLocalSize + nameLength, extraLength);
  item.Name = DecodeZipName(item.RawName, item.Flags, localExtra);
  if (ZipNameHasInvalidChars(item.Name)) Fail(L"Invalid characters in path");
  if (ZipNameIsUnsafe(item.Name)) throw Exception(L"Unsafe path in archive: " + item.Name);
}

std::vector<TZipItem> ReadZipDirectory(TZipSource& source, uint64_t* directoryOffset) {
  return ReadCentralDirectory(source, directoryOffset);
}

void ExtractZip(TZipSource& source, TZipOutput& output) {
  // The whole archive is judged before anything is written: an entry that could never be
  // written fails the extraction while the destination is still untouched.
  ExtractZipItems(source, JudgeZipArchive(source), output);
}

void ExtractZipItems(TZipSource& source, const std::vector<TZipItem>& items, TZipOutput& output) {
  for (const TZipItem& item : items) {
    std::unique_ptr<TDecoder> decoder;
    if (item.Method == 0) {
      decoder = std::make_unique<TStoredDecoder>(source, item.DataOffset, item.CompressedSize);
    } else {
      decoder = std::make_unique<TInflateDecoder>(source, item.DataOffset, item.CompressedSize);
    }

    output.MakeFolder(item);
    if (item.IsFolder()) continue;

    output.BeginFile(item);
    std::vector<unsigned char> buffer(static_cast<size_t>(std::min(item.UncompressedSize, kPiece)));
    uint32_t crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    uint64_t left = item.UncompressedSize;
    while (left > 0) {
      const size_t piece = static_cast<size_t>(std::min(left, kPiece));
      size_t got = 0;
      while (got < piece) {
        const size_t n = decoder->Read(buffer.data() + got, piece - got);
        if (n == 0) break;
        got += n;
      }
      if (got != piece) Fail(L"Error reading zip file");
      output.Write(buffer.data(), piece);
      crc = static_cast<uint32_t>(crc32(crc, buffer.data(), static_cast<uInt>(piece)));
      left -= piece;
    }
    output.CloseFile();
    if (crc != item.Crc) Fail(L"Error reading zip file");
    output.FinishFile(item);
  }
}
