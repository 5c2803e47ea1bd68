// Builds small zip archives in memory, entry by entry, with every header field under control.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/deflate.h"

struct TZipBuildEntry {
  std::string Name;  // raw name bytes
  std::string Data;  // uncompressed content
  uint16_t Method = 0;
  uint16_t Flags = 0;
  uint16_t MadeBy = 0x031E;  // Unix host
  uint32_t ExternalAttributes = 0;
  uint16_t DosTime = 0x6000;  // 12:00:00
  uint16_t DosDate = 0x5A21;  // 2025-01-01
  std::string LocalExtra;
  bool BadCrc = false;
  bool BadLocalSignature = false;
  bool BadCentralSignature = false;
};

inline void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8 & 0xFF);
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

inline uint32_t Crc32Of(const std::string& bytes) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

inline std::string RawDeflate(const std::string& data) { return DeflateBytes(data, kRawDeflate, 6); }

// An Info-ZIP Unicode Path extra field for the given raw name.
inline std::string UnicodePathField(const std::string& rawName, const std::string& utf8Name, uint32_t crcDelta = 0) {
  std::string f;
  Put16(f, 0x7075);
  Put16(f, static_cast<uint32_t>(5 + utf8Name.size()));
  f += '\x01';
  Put32(f, Crc32Of(rawName) + crcDelta);
  return f + utf8Name;
}

inline std::string BuildZip(const std::vector<TZipBuildEntry>& entries, const std::string& comment = "") {
  std::string out, central;
  for (const TZipBuildEntry& e : entries) {
    const std::string packed = e.Method == 8 ? RawDeflate(e.Data) : e.Data;
    const uint32_t crc = Crc32Of(e.Data) ^ (e.BadCrc ? 0x5A5A5A5Au : 0u);
    const uint32_t offset = static_cast<uint32_t>(out.size());
    Put32(out, e.BadLocalSignature ? 0x04034b51u : 0x04034b50u);
    Put16(out, 20);
    Put16(out, e.Flags);
    Put16(out, e.Method);
    Put16(out, e.DosTime);
    Put16(out, e.DosDate);
    Put32(out, crc);
    Put32(out, static_cast<uint32_t>(packed.size()));
    Put32(out, static_cast<uint32_t>(e.Data.size()));
    Put16(out, static_cast<uint32_t>(e.Name.size()));
    Put16(out, static_cast<uint32_t>(e.LocalExtra.size()));
    out += e.Name + e.LocalExtra + packed;

    Put32(central, e.BadCentralSignature ? 0x02014b51u : 0x02014b50u);
    Put16(central, e.MadeBy);
    Put16(central, 20);
    Put16(central, e.Flags);
    Put16(central, e.Method);
    Put16(central, e.DosTime);
    Put16(central, e.DosDate);
    Put32(central, crc);
    Put32(central, static_cast<uint32_t>(packed.size()));
    Put32(central, static_cast<uint32_t>(e.Data.size()));
    Put16(central, static_cast<uint32_t>(e.Name.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, e.ExternalAttributes);
    Put32(central, offset);
    central += e.Name;
  }
  const uint32_t centralOffset = static_cast<uint32_t>(out.size());
  out += central;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, static_cast<uint32_t>(comment.size()));
  return out + comment;
}
