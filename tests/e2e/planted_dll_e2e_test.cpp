// The launcher started from a folder that holds DLLs of a stranger.
#include <algorithm>
#include <string>
#include <vector>

#include "launcher_fixture.h"

namespace {

using namespace e2e;

// The DLLs a loaded system module imports, as its import table names them (lower case).
std::vector<std::string> ImportsOf(const wchar_t* module) {
  const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(module));
  if (!base) return {};
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<std::string> names;
  if (!dir.VirtualAddress) return names;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    std::string name = reinterpret_cast<const char*>(base + d->Name);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    names.push_back(name);
  }
  return names;
}

// DLLs named like system DLLs that are not known DLLs, planted beside the launcher (a Downloads
// folder): a whole update runs, and none of them is loaded for the program. Wine searches for
// these names as Windows does only under WINEDLLOVERRIDES="version,winhttp,...=n,b", and
// takes the setting from the environment this test program was started with
// (MORVANE_DLL_OVERRIDES, set by CMake, adds it), not from the block handed to CreateProcess.
// The launcher says which way it limited the search in the file MORVANE_DLL_SEARCH_REPORT names.
// WinHTTP's proxy detection loads jsproxy.dll by name as it runs.
constexpr const wchar_t* kPlanted[] = {L"version.dll", L"winhttp.dll", L"msimg32.dll", L"jsproxy.dll"};

class PlantedDlls : public Launcher {
 protected:
  void UpdateBesidePlantedDlls(std::vector<std::pair<std::wstring, std::wstring>> env, const std::string& search) {
    const std::wstring bin = FRoot + L"\\bin\\";
    for (const wchar_t* dll : kPlanted)
      ASSERT_TRUE(CopyFileW((kBuild + L"\\planted\\" + dll).c_str(), (bin + dll).c_str(), FALSE)) << EncodeUtf8(dll);
    const std::wstring report = FRoot + L"\\dll-search.txt";
    env.push_back({L"MORVANE_DLL_SEARCH_REPORT", report});
    FLauncher = Run(L"Morvane.exe", L"", L"", env);
    TWindowView view;
    ASSERT_TRUE(WaitUntil([&] { return (view = TWindowView::Find(FLauncher.Id())).Found() && view.WindowVisible(); }));
    EXPECT_EQ(ReadFileBytes(report), search);
    view.Press();
    ASSERT_TRUE(FLauncher.WaitExit(120000));
    EXPECT_TRUE(PathExists(ProductDir() + L"Tandrel.exe"));
    EXPECT_FALSE(PathExists(ProductDir() + L"Update.zip"));

    // Wine's own user32 imports version.dll, so there the planted one is loaded before the
    // program runs a line (it hands the calls on, and the update still runs); Windows' user32
    // does not, and there it must stay untouched as well.
    const auto user32 = ImportsOf(L"user32.dll");
    const bool systemTakesVersion = std::find(user32.begin(), user32.end(), "version.dll") != user32.end();
    for (const wchar_t* dll : kPlanted) {
      if (std::wstring(dll) == L"version.dll" && systemTakesVersion) continue;
      EXPECT_FALSE(PathExists(bin + dll + L".loaded")) << EncodeUtf8(dll);
    }
  }
};

TEST_F(PlantedDlls, PlantedDllsBesideTheLauncherAreNeverLoaded) {
  UpdateBesidePlantedDlls({}, "system folder only");
}

// Vista, and 7 without its loader update, have no SetDefaultDllDirectories: the test hook hides
// it, and the launcher loads the system's copies before anything asks for them by name.
TEST_F(PlantedDlls, NeverLoadedWhereTheSystemLacksSetDefaultDllDirectories) {
  UpdateBesidePlantedDlls({{L"MORVANE_HIDE_SET_DEFAULT_DLL_DIRECTORIES", L"1"}}, "preloaded");
}

}  // namespace
