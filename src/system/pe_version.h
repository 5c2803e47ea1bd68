// The file version of a Windows executable read from its bytes: the version resource found
// through the resource directory, its VS_VERSIONINFO block and the fixed file information.
// Portable: the image is untrusted input.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// major, minor, release, build from dwFileVersionMS and dwFileVersionLS; nullopt when the image
// is no PE file or holds no readable version resource with fixed file information.
std::optional<std::array<uint16_t, 4>> ReadPeFileVersion(std::string_view image);
// "major.minor.release.build", or "0.0.0" when there is none (as GetFileVersionString reads it).
std::wstring PeFileVersionString(std::string_view image);
