// Version texts as they come from "version.txt" and version resources: arbitrary bytes split in
// two texts, compared both ways. The order must be consistent whatever the texts hold.
#include <cstddef>
#include <cstdint>
#include <string>

#include "system/text.h"
#include "system/version_compare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const size_t cut = bytes.find('\n');
  const std::wstring first = Widen(bytes.substr(0, cut));
  const std::wstring second = cut == std::string::npos ? std::wstring(L"1.0.0.0") : Widen(bytes.substr(cut + 1));
  for (const std::wstring& text : {first, second})
    for (const std::wstring& part : SplitVersionText(text)) (void)VersionComponentValue(part);
  const int forward = CompareVersionTexts(first, second);
  const int backward = CompareVersionTexts(second, first);
  if (forward < -1 || forward > 1 || forward != -backward) __builtin_trap();
  if (CompareVersionTexts(first, first) != 0) __builtin_trap();
  return 0;
}
