// Feeds arbitrary bytes to the zip reader as an archive and extracts it into nothing, then
// judges it as the installation would, against a product folder of its own.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "system/errors.h"
#include "system/zip_core.h"
#include "system/zip_judge.h"

namespace {
class TNullOutput final : public TZipOutput {
 public:
  void MakeFolder(const TZipItem&) override {}
  void BeginFile(const TZipItem&) override {}
  void Write(const void*, size_t) override {}
  void CloseFile() override {}
  void FinishFile(const TZipItem&) override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryZipSource source(std::string_view(reinterpret_cast<const char*>(data), size));
  TNullOutput output;
  try {
    ExtractZip(source, output);
  } catch (const Exception&) {
  }
  TZipJudgeContext context;
  context.Existing = {{L"bin", true}, {L"bin\\Tandrel.exe", false}, {L"data", false}};
  context.Reserved = {L"Update.zip"};
  context.ProductFolderLength = size > 0 ? 3 + data[0] : 40;
  try {
    JudgeZipArchive(source, context);
  } catch (const Exception&) {
  }
  return 0;
}
