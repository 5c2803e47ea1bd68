// The publisher's side end to end: the release folder that morvane-publish packs from the
// sample product is what the launcher installs.
#include "launcher_fixture.h"

namespace {

using namespace e2e;

TEST_F(Launcher, InstallsWhatThePublisherPacked) {
  const std::wstring product = SampleProduct();
  for (const wchar_t* file : {L"\\Tandrel.zip", L"\\version.txt", L"\\Changes.txt"}) DeleteFileW((FFolder + file).c_str());

  TProcess publish = TProcess::Start(kBuild + L"\\src\\publish\\morvane-publish.exe",
                                     L"pack \"" + product + L"\" \"" + kRelease + L"\\Changes.txt\" \"" + FFolder + L"\"", {});
  ASSERT_TRUE(publish.WaitExit(60000));
  ASSERT_EQ(publish.ExitCode(), 0u);
  EXPECT_EQ(ReadFileBytes(FFolder + L"\\version.txt"), "2.0.0.0");

  auto view = Open();
  view.Press();
  ASSERT_TRUE(FLauncher.WaitExit(120000));
  EXPECT_EQ(FLauncher.ExitCode(), 0u);
  for (const wchar_t* file : {L"Tandrel.exe", L"TandrelAI.exe", L"docs\\Changes.txt"})
    EXPECT_TRUE(PathExists(ProductDir() + file)) << EncodeUtf8(file);
  EXPECT_EQ(ReadFileBytes(ProductDir() + L"Tandrel.exe"), ReadFileBytes(product + L"\\Tandrel.exe"));
  ASSERT_TRUE(WaitStarted());
  EXPECT_EQ(StartedLog(), L"Tandrel.exe|\r\n");
}

}  // namespace
