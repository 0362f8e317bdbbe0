// Process look-ups and termination on Windows. Nothing is cached: every call takes a fresh look
// at the system's process list. They run on any thread and handle no window messages.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/process_rules.h"

namespace proc {

// Id of the first process in snapshot order with that executable name, else 0.
DWORD find_by_name(std::string_view name, bool case_sensitive);

// The full path of the process's executable file; nothing when it cannot be read.
std::optional<std::string> image_path(DWORD pid);
// The same through a handle opened with at least PROCESS_QUERY_LIMITED_INFORMATION.
std::optional<std::string> image_path_of(HANDLE process);

// Id of the first process that is the executable at path (see id_by_path), else 0. The path is
// compared in the form the file system lists it.
DWORD find_by_path(const std::string& path);

// Every process of one Toolhelp snapshot, in snapshot order; empty when no snapshot is taken.
std::vector<ProcessRecord> process_list();

// Parent id of the first process whose image name or decimal id matches, else -1.
long parent_of(std::string_view name_or_decimal_id);

// UTF-16LE bytes (an odd last byte is ignored) as GBK text, up to the first NUL.
std::string wide_name_to_gbk(const void* utf16, std::size_t bytes);

// True when the process was terminated (exit code 0). The process is not waited for.
bool terminate(DWORD pid);

// Parent id of the first process in the list with that name, else 0; case_flag 1 compares
// case-sensitively.
DWORD parent_id_by_name(std::string_view name, int case_flag);

// Whether this process was started by explorer.exe, i.e. from the desktop shell.
bool started_by_explorer();

// Whether the system is 64-bit Windows.
bool is_64bit_windows();

}  // namespace proc
