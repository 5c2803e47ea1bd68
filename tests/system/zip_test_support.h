// Shared by the zip tests: where the archives made by the real tools lie (tools/make-zip-seeds
// runs at build time), and small file helpers.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// <build tree>/tests/system/zipdata, in the form this build's file functions take.
inline std::filesystem::path ZipDataFolder() {
  const char* build = std::getenv("MORVANE_BUILD_DIR");
  std::string folder = std::string(build ? build : ".") + "/tests/system/zipdata";
#ifdef _WIN32
  if (folder[0] == '/') {
    for (char& c : folder)
      if (c == '/') c = '\\';
    folder = "Z:" + folder;
  }
#endif
  return std::filesystem::path(folder);
}

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}
