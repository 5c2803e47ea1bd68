// Builds a small PE image in memory: one ".rsrc" section holding a version resource.
#pragma once

#include <cstdint>
#include <string>

#include "zip_builder.h"  // Put16, Put32

struct TPeBuild {
  bool Plus = false;  // PE32+ (x86-64) instead of PE32
  uint32_t FileMS = 0x00010002, FileLS = 0x00030004;
  uint32_t ProductMS = 0x00090009, ProductLS = 0x00090009;
  uint16_t ResourceType = 16;  // RT_VERSION
  uint16_t ResourceName = 1;   // VS_VERSION_INFO
};

inline std::string BuildPe(const TPeBuild& b = {}) {
  // The resource tree at RVA 0x1000: type -> name -> language -> data entry -> VS_VERSIONINFO.
  std::string rsrc;
  auto directory = [&](uint32_t id, uint32_t target) {
    rsrc.append(12, '\0');
    Put16(rsrc, 0);  // named entries
    Put16(rsrc, 1);  // ID entries
    Put32(rsrc, id);
    Put32(rsrc, target);
  };
  directory(b.ResourceType, 0x80000018);
  directory(b.ResourceName, 0x80000030);
  directory(0x0409, 0x48);
  std::string info;
  Put16(info, 0);  // length, patched below
  Put16(info, 52);
  Put16(info, 0);
  for (const char c : std::string("VS_VERSION_INFO")) Put16(info, static_cast<unsigned char>(c));
  Put16(info, 0);
  Put16(info, 0);  // padding to 32 bits
  for (const uint32_t v : {0xFEEF04BDu, 0x00010000u, b.FileMS, b.FileLS, b.ProductMS, b.ProductLS, 0x3Fu, 0u, 4u, 1u,
                           0u, 0u, 0u})
    Put32(info, v);
  info[0] = static_cast<char>(info.size());
  Put32(rsrc, 0x1000 + 0x58);
  Put32(rsrc, static_cast<uint32_t>(info.size()));
  Put32(rsrc, 0);
  Put32(rsrc, 0);
  rsrc += info;

  std::string pe(64, '\0');
  pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 64;
  pe += std::string("PE\0\0", 4);
  const uint32_t optionalSize = b.Plus ? 240 : 224;
  Put16(pe, b.Plus ? 0x8664 : 0x014C);
  Put16(pe, 1);  // sections
  Put32(pe, 0);
  Put32(pe, 0);
  Put32(pe, 0);
  Put16(pe, optionalSize);
  Put16(pe, 0x0102);
  std::string optional;
  Put16(optional, b.Plus ? 0x20b : 0x10b);
  optional.resize(b.Plus ? 108 : 92, '\0');
  Put32(optional, 16);  // data directories
  for (int i = 0; i < 16; ++i) {
    Put32(optional, i == 2 ? 0x1000 : 0);
    Put32(optional, i == 2 ? static_cast<uint32_t>(0x58 + info.size()) : 0);
  }
  pe += optional;
  pe += std::string(".rsrc\0\0\0", 8);
  Put32(pe, static_cast<uint32_t>(rsrc.size()));
  Put32(pe, 0x1000);
  Put32(pe, static_cast<uint32_t>(rsrc.size()));
  Put32(pe, 0x200);
  pe.append(16, '\0');
  pe.resize(0x200, '\0');
  return pe + rsrc;
}
