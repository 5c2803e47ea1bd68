#include "system/file_tree.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "system/file_stream.h"
#include "system/text.h"

#include "support/here.h"

namespace {
void Write(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// Every file and folder at every depth, each folder after what it holds (the order in which
// they can be removed), and the bytes of all files.
TEST(ListTree, ListsFoldersAfterWhatTheyHold) {
  const std::wstring root = HereFolder() + L"tree\\";
  ForceDirectories(root + L"a\\b");
  ForceDirectories(root + L"empty");
  Write(root + L"top.txt", "12345");
  Write(root + L"a\\one.bin", std::string(1000, 'x'));
  Write(root + L"a\\b\\two.bin", std::string(2000, 'y'));

  const std::vector<TTreeEntry> tree = ListTree(root);
  ASSERT_EQ(tree.size(), 6u);
  auto index = [&](const std::wstring& relative) {
    for (size_t i = 0; i < tree.size(); ++i)
      if (tree[i].Path == root + relative) return static_cast<int>(i);
    return -1;
  };
  for (const wchar_t* name : {L"top.txt", L"a", L"a\\one.bin", L"a\\b", L"a\\b\\two.bin", L"empty"})
    EXPECT_GE(index(name), 0) << EncodeUtf8(name);
  EXPECT_LT(index(L"a\\b\\two.bin"), index(L"a\\b"));
  EXPECT_LT(index(L"a\\b"), index(L"a"));
  EXPECT_LT(index(L"a\\one.bin"), index(L"a"));
  EXPECT_TRUE(tree[static_cast<size_t>(index(L"a"))].IsFolder);
  EXPECT_EQ(tree[static_cast<size_t>(index(L"a\\b\\two.bin"))].Size, 2000u);
  EXPECT_EQ(TreeBytes(root), 3005u);
  EXPECT_EQ(TreeBytes(root.substr(0, root.size() - 1)), 3005u);  // without the final backslash
  EXPECT_TRUE(ListTree(root + L"missing").empty());
  EXPECT_EQ(TreeBytes(root + L"missing"), 0u);
}

TEST(PathIsInside, Table) {
  const struct {
    const wchar_t* Path;
    const wchar_t* Folder;
    bool Inside;
  } cases[] = {
      {L"C:\\Users\\u\\AppData\\Local\\Tandrel\\Tandrel.exe", L"C:\\Users\\u\\AppData\\Local\\Tandrel\\", true},
      {L"C:\\Users\\u\\AppData\\Local\\Tandrel\\bin\\x.exe", L"C:\\Users\\u\\AppData\\Local\\Tandrel", true},
      {L"c:\\users\\U\\appdata\\local\\TANDREL\\tandrel.exe", L"C:\\Users\\u\\AppData\\Local\\Tandrel\\", true},
      {L"C:\\Users\\u\\AppData\\Local\\Tandrel", L"C:\\Users\\u\\AppData\\Local\\Tandrel\\", true},
      // A folder whose name begins with the product folder's is another folder.
      {L"C:\\Users\\u\\AppData\\Local\\Tandrel2\\Tandrel.exe", L"C:\\Users\\u\\AppData\\Local\\Tandrel\\", false},
      {L"C:\\Users\\u\\AppData\\Local\\Tandrel\\..\\Other\\Tandrel.exe", L"C:\\Users\\u\\AppData\\Local\\Tandrel\\", false},
      {L"D:\\Tandrel\\Tandrel.exe", L"C:\\Users\\u\\AppData\\Local\\Tandrel\\", false},
      {L"", L"C:\\Users\\u\\AppData\\Local\\Tandrel\\", false},
      {L"C:\\x", L"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PathIsInside(c.Path, c.Folder), c.Inside) << EncodeUtf8(c.Path) << " in " << EncodeUtf8(c.Folder);
}
}  // namespace
