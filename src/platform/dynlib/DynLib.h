// Loading libraries by the names the program asks for, as it always has: "Tolvlink.DLL".
//
// A name "Base.DLL" (any case of the extension, or no extension) is looked for as
// "libbase.so" (all lower case) in $KORRIN_LIBDIR when that is set (tests), then in the folder
// of the running program, then through the system's own search (dlopen's path). A name with a
// '/' is taken as a path and opened as it is. Libraries are never unloaded: a handle stays
// good for the life of the process, and loading the same library again gives the same handle.
//
// Safe from any thread.
#pragma once

#include <string>

namespace korrin::platform {

using HMODULE = void*;
using FARPROC = void (*)();

// The handle, or null (DynLibLastError says why).
HMODULE LoadLibrary(const std::string& name);
// The exported function's address, or null.
FARPROC GetProcAddress(HMODULE module, const char* name);
// The reason the last LoadLibrary or GetProcAddress of this thread failed, in words.
std::string DynLibLastError();

// The file name a library name is looked for as ("Tolvlink.DLL" -> "libtolvlink.so").
std::string LibraryFileName(const std::string& name);

}  // namespace korrin::platform
