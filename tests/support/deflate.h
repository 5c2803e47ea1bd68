// Compressed test data made with zlib: raw deflate (zip entries), zlib-wrapped (HTTP "deflate")
// or gzip, chosen by the window bits as deflateInit2 takes them.
#pragma once

#include <zlib.h>

#include <string>

inline constexpr int kRawDeflate = -MAX_WBITS;
inline constexpr int kZlibDeflate = MAX_WBITS;
inline constexpr int kGzip = 16 + MAX_WBITS;

inline std::string DeflateBytes(const std::string& data, int windowBits, int level = Z_DEFAULT_COMPRESSION) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}
