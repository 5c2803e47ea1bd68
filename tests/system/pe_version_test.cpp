#include "system/pe_version.h"

#include <gtest/gtest.h>

#include <string>

#include "pe_builder.h"

#ifdef _WIN32
#include "support/files.h"
#include "support/here.h"
#include "system/version_info.h"
#endif

namespace {

TEST(PeVersion, ReadsTheFileVersionOfBothFormats) {
  struct Case {
    TPeBuild Build;
    const wchar_t* Expected;
  } cases[] = {
      {{false, 0x000A0000, 0x00020011}, L"10.0.2.17"},
      {{true, 0x000A0000, 0x00020011}, L"10.0.2.17"},
      {{false, 0xFFFFFFFF, 0xFFFFFFFF}, L"65535.65535.65535.65535"},  // never negative
      {{true, 0x00020000, 0x00000000, 0x00070000, 0x00000001}, L"2.0.0.0"},  // not the product version
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Build.Plus);
    EXPECT_EQ(PeFileVersionString(BuildPe(c.Build)), c.Expected);
  }
}

TEST(PeVersion, ImagesWithoutAVersionResourceGiveNone) {
  TPeBuild otherType, otherName;
  otherType.ResourceType = 3;  // an icon
  otherName.ResourceName = 2;
  std::string notPe = BuildPe();
  notPe[0] = 'X';
  for (const std::string& image : {std::string(), std::string("MZ"), notPe, BuildPe(otherType), BuildPe(otherName)})
    EXPECT_EQ(PeFileVersionString(image), L"0.0.0");
}

TEST(PeVersion, TruncatedImagesAreNeverReadBeyondTheirEnd) {
  const std::string image = BuildPe();
  // The section's raw data runs to the end of the file, so every cut loses part of it.
  for (size_t size = 0; size < image.size(); ++size)
    EXPECT_FALSE(ReadPeFileVersion(std::string(image.data(), size)).has_value()) << size;
}

#ifdef _WIN32
// The parser and the system agree on real executables: the version probes and the sample products.
TEST(PeVersion, AgreesWithTheSystemOnBuiltPrograms) {
  const std::wstring here = HereFolder();
  const std::wstring sample = here + L"..\\..\\sample\\";
  for (const std::wstring& path :
       {here + L"version_probe_a.exe", here + L"version_probe_max.exe", here + L"version_probe_none.exe",
        sample + L"product-1.0.0.0\\Tandrel.exe", sample + L"product-2.0.0.0\\Tandrel.exe",
        sample + L"product-ai\\TandrelAI.exe"}) {
    SCOPED_TRACE(EncodeUtf8(path));
    const std::string bytes = ReadFileBytes(path);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(PeFileVersionString(bytes), GetFileVersionString(path));
  }
}
#endif

}  // namespace
