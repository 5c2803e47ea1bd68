#include "system/pe_version.h"

#include <algorithm>
#include <vector>

#include "system/text.h"

namespace {
constexpr uint32_t kVersionType = 16;  // RT_VERSION
constexpr uint32_t kVersionName = 1;   // VS_VERSION_INFO
constexpr size_t kFixedInfoSize = 52;  // VS_FIXEDFILEINFO

class TImage {
 public:
  explicit TImage(std::string_view bytes) : FBytes(bytes) {}
  bool Has(uint64_t offset, uint64_t count) const { return offset <= FBytes.size() && count <= FBytes.size() - offset; }
  uint16_t U16(uint64_t offset) const {
    return static_cast<uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
  }
  uint32_t U32(uint64_t offset) const { return U16(offset) | static_cast<uint32_t>(U16(offset + 2)) << 16; }

 private:
  unsigned Byte(uint64_t offset) const { return static_cast<unsigned char>(FBytes[static_cast<size_t>(offset)]); }
  std::string_view FBytes;
};

struct TSection {
  uint32_t VirtualAddress, VirtualSize, RawOffset, RawSize;
};

// The file offset of a range of the loaded image, when the file holds all of it.
std::optional<uint64_t> RvaToOffset(const TImage& image, const std::vector<TSection>& sections, uint32_t rva,
                                    uint32_t size) {
  for (const TSection& s : sections) {
    const uint64_t span = std::max(s.VirtualSize, s.RawSize);
    if (rva < s.VirtualAddress || rva - s.VirtualAddress >= span) continue;
    const uint64_t inside = rva - s.VirtualAddress;
    if (inside + size > s.RawSize || !image.Has(s.RawOffset + inside, size)) return std::nullopt;
    return s.RawOffset + inside;
  }
  return std::nullopt;
}

// The entry of a resource directory with the given ID, or its first entry when id is empty;
// returns the entry's OffsetToData field.
std::optional<uint32_t> FindEntry(const TImage& image, uint64_t root, uint64_t rootSize, uint64_t directory,
                                  std::optional<uint32_t> id) {
  if (directory > rootSize || !image.Has(root + directory, 16)) return std::nullopt;
  const uint32_t named = image.U16(root + directory + 12), ids = image.U16(root + directory + 14);
  const uint64_t entries = root + directory + 16;
  for (uint32_t i = 0; i < named + ids; ++i) {
    const uint64_t entry = entries + 8ull * i;
    if (!image.Has(entry, 8)) return std::nullopt;
    const uint32_t name = image.U32(entry);
    if (!id || (!(name & 0x80000000u) && name == *id)) return image.U32(entry + 4);
  }
  return std::nullopt;
}
}  // namespace

std::optional<std::array<uint16_t, 4>> ReadPeFileVersion(std::string_view bytes) {
  const TImage image(bytes);
  if (!image.Has(0, 64) || image.U16(0) != 0x5A4D) return std::nullopt;  // "MZ"
  const uint64_t pe = image.U32(0x3C);
  if (!image.Has(pe, 24) || image.U32(pe) != 0x00004550) return std::nullopt;  // "PE\0\0"
  const uint32_t sectionCount = image.U16(pe + 6), optionalSize = image.U16(pe + 20);
  const uint64_t optional = pe + 24;
  if (!image.Has(optional, optionalSize) || optionalSize < 2) return std::nullopt;
  const uint16_t magic = image.U16(optional);
  const uint64_t countAt = magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0;
  if (countAt == 0 || optionalSize < countAt + 4) return std::nullopt;
  const uint32_t directoryCount = image.U32(optional + countAt);
  const uint64_t resourceAt = countAt + 4 + 2 * 8;  // the third data directory
  if (directoryCount < 3 || optionalSize < resourceAt + 8) return std::nullopt;
  const uint32_t resourceRva = image.U32(optional + resourceAt), resourceSize = image.U32(optional + resourceAt + 4);
  if (resourceRva == 0 || resourceSize == 0) return std::nullopt;

  std::vector<TSection> sections;
  const uint64_t table = optional + optionalSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint64_t at = table + 40ull * i;
    if (!image.Has(at, 40)) return std::nullopt;
    sections.push_back({image.U32(at + 12), image.U32(at + 8), image.U32(at + 20), image.U32(at + 16)});
  }
  const auto root = RvaToOffset(image, sections, resourceRva, 16);
  if (!root) return std::nullopt;
  // The resource data may extend beyond the size the directory claims; bound it by the section.
  uint64_t rootSize = 0;
  for (const TSection& s : sections)
    if (resourceRva >= s.VirtualAddress && resourceRva - s.VirtualAddress < s.RawSize)
      rootSize = s.RawSize - (resourceRva - s.VirtualAddress);

  // Type RT_VERSION, name VS_VERSION_INFO, then the first language: three directory levels.
  std::optional<uint32_t> entry = FindEntry(image, *root, rootSize, 0, kVersionType);
  if (!entry || !(*entry & 0x80000000u)) return std::nullopt;
  entry = FindEntry(image, *root, rootSize, *entry & 0x7FFFFFFFu, kVersionName);
  if (!entry || !(*entry & 0x80000000u)) return std::nullopt;
  entry = FindEntry(image, *root, rootSize, *entry & 0x7FFFFFFFu, std::nullopt);
  if (!entry || (*entry & 0x80000000u)) return std::nullopt;
  if (*entry > rootSize || !image.Has(*root + *entry, 16)) return std::nullopt;
  const uint32_t dataRva = image.U32(*root + *entry), dataSize = image.U32(*root + *entry + 4);
  const auto data = RvaToOffset(image, sections, dataRva, dataSize);
  if (!data || dataSize < 6) return std::nullopt;

  // VS_VERSIONINFO: wLength, wValueLength, wType, the key "VS_VERSION_INFO" and its zero, padding
  // to 32 bits, then the fixed file information as its value.
  uint64_t at = 6;
  while (true) {
    if (at + 2 > dataSize) return std::nullopt;
    const uint16_t unit = image.U16(*data + at);
    at += 2;
    if (unit == 0) break;
  }
  at = (at + 3) & ~uint64_t{3};
  if (image.U16(*data + 2) == 0 || at + kFixedInfoSize > dataSize) return std::nullopt;
  const uint32_t ms = image.U32(*data + at + 8), ls = image.U32(*data + at + 12);
  return std::array<uint16_t, 4>{static_cast<uint16_t>(ms >> 16), static_cast<uint16_t>(ms & 0xFFFF),
                                 static_cast<uint16_t>(ls >> 16), static_cast<uint16_t>(ls & 0xFFFF)};
}

std::wstring PeFileVersionString(std::string_view image) {
  const auto version = ReadPeFileVersion(image);
  if (!version) return L"0.0.0";
  return FormatMessageText(L"%d.%d.%d.%d", {IntToStr((*version)[0]), IntToStr((*version)[1]),
                                            IntToStr((*version)[2]), IntToStr((*version)[3])});
}
