// Where the libraries that load on first use (the file dialog, the network, OLE, the shell) come
// from: the system folder alone. Loaded by name, a DLL is looked for beside the program first,
// and wininet.dll and iphlpapi.dll are not among the system's known DLLs: a file of that name
// dropped beside the program would run inside it at every login (the Run value starts it).
//
// The delay-load helper asks this hook before it loads a library. Like the terminate handler, the
// hook replaces a default of the runtime library, so it is linked into each program directly.
#include <windows.h>

#include <delayimp.h>

#include "platform/delay_load_win.h"

namespace {

HMODULE load_from_system_folder(const char* name) {
  // LOAD_LIBRARY_SEARCH_SYSTEM32 also keeps the library's own dependencies in the system folder.
  // Windows 7 without its 2011 loader update refuses the flag as an invalid parameter; there the
  // full path, whose folder is then searched first for the dependencies, does the same.
  if (HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + lstrlenA(name) >= MAX_PATH) return nullptr;
  path[length] = '\\';
  lstrcpyA(path + length + 1, name);
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC WINAPI before_delay_load(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  HMODULE module = load_from_system_folder(info->szDll);
  // A null answer would make the helper load the library by name after all, beside the program
  // first. A library the system folder cannot give is answered with one that exports none of its
  // functions, so the call fails as it would without the library, and nothing else is loaded.
  if (module == nullptr) module = GetModuleHandleA("kernel32.dll");
  return reinterpret_cast<FARPROC>(module);
}

}  // namespace

void platform::search_system_folder_only() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  const auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = before_delay_load;
}
