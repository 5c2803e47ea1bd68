// Executables as they come out of a release archive: arbitrary bytes read as a PE image. The
// reader must stay inside the bytes and give either nothing or four words.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "system/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view image(reinterpret_cast<const char*>(data), size);
  const auto version = ReadPeFileVersion(image);
  if (version.has_value() != (PeFileVersionString(image) != L"0.0.0")) __builtin_trap();
  return 0;
}
