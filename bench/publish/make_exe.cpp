// Writes a small Tandrel.exe with a version resource (2.0.0.1) to the given path, for the
// product folder the publisher bench packs.
#include <cstdio>

#include "system/pe_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  TPeBuild build;
  build.FileMS = 0x00020000;
  build.FileLS = 0x00000001;
  const std::string image = BuildPe(build);
  FILE* file = std::fopen(argv[1], "wb");
  if (!file || std::fwrite(image.data(), 1, image.size(), file) != image.size() || std::fclose(file) != 0) return 1;
  return 0;
}
