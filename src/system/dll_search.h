// Where the loader may take DLLs from: the system folder, never the folder the program was
// started from (a Downloads folder may hold anything) nor the current folder.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace Sys {

// The system folder, without a trailing backslash, however long; empty when the system names none.
std::wstring SystemFolder();

// Loads a DLL of the system folder by its full path. A DLL loaded to run (flags 0) has its own
// imports searched from the system folder on, never from the program's folder. flags may ask
// for a data-only mapping (LOAD_LIBRARY_AS_DATAFILE). Null, with the error set, for a name that
// is not a plain file name or a DLL the system folder does not hold.
HMODULE LoadSystemLibrary(std::wstring_view name, DWORD flags = 0);

// How the search was limited.
enum class TDllSearch {
  SystemFolderOnly,  // SetDefaultDllDirectories: every later load searches the system folder only
  Preloaded,         // a system without it: the current folder taken out of the search, and the
                     // DLLs that could be taken from the program's folder loaded from the system
                     // folder beforehand
};

// Limits the DLL search for the rest of the process. Call first thing in the entry, before
// anything loads a DLL by name.
//
// Vista, and 7 without its loader update, lack SetDefaultDllDirectories. There the program's
// folder stays first in every search by bare name, so a DLL of a system name that lies there is
// taken. The loader takes a DLL that is already loaded under the same name instead of searching,
// so the system's copies are loaded by full path first: those that the shell, COM, the common
// controls and the web browser control load by name, and the system DLL of every name that a
// DLL in the program's folder bears.
TDllSearch LimitDllSearch();

}  // namespace Sys
