#include "server/process_win.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/gbk.h"
#include "platform/handles_win.h"
#include "platform/program_win.h"

namespace proc {
namespace {

// The chain walk reads entries with this build's layout; the platform's header says where.
static_assert(kOwnChainLayout.pointer_size == sizeof(void*));
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, NextEntryOffset) ==
              kOwnChainLayout.next_entry_offset);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) == kOwnChainLayout.image_name_length);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) + offsetof(UNICODE_STRING, Buffer) ==
              kOwnChainLayout.image_name_buffer);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId) ==
              kOwnChainLayout.unique_process_id);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, InheritedFromUniqueProcessId) ==
              kOwnChainLayout.inherited_from_unique_process_id);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, InheritedFromUniqueProcessId) + sizeof(HANDLE) <=
              kOwnChainLayout.entry_min_size);

constexpr ULONG kSystemProcessInformation = 5;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
// Processes may start between asking for the size and filling the buffer.
constexpr int kQueryAttempts = 5;

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

QuerySystemInformation load_query() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  const FARPROC found = ::GetProcAddress(ntdll, "ZwQuerySystemInformation");
  return reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(found));
}

struct ProcessInfo {
  win::unique_hglobal memory;
  ULONG size = 0;
};

// Room for processes that start between the size query and the filling call.
ULONG with_margin(ULONG needed) { return needed + needed / 4 + 4096; }

ProcessInfo query_process_info() {
  const QuerySystemInformation query = load_query();
  if (query == nullptr) return {};
  ULONG needed = 0;
  query(kSystemProcessInformation, nullptr, 0, &needed);
  for (int attempt = 0; attempt < kQueryAttempts; ++attempt) {
    ProcessInfo info;
    info.size = with_margin(needed);
    info.memory.reset(::GlobalAlloc(GPTR, info.size));
    if (!info.memory) return {};
    ULONG returned = 0;
    const LONG status = query(kSystemProcessInformation, info.memory.get(), info.size, &returned);
    if (status == 0) return info;
    if (status != kStatusInfoLengthMismatch) return {};
    needed = returned > info.size ? returned : info.size;
  }
  return {};
}

ProcessRecord to_record(const PROCESSENTRY32& entry) {
  ProcessRecord record;
  record.id = entry.th32ProcessID;
  record.name.assign(entry.szExeFile, ::strnlen(entry.szExeFile, sizeof entry.szExeFile));
  record.module_id = entry.th32ModuleID;
  record.parent_id = entry.th32ParentProcessID;
  record.priority_base = entry.pcPriClassBase;
  record.thread_count = entry.cntThreads;
  return record;
}

}  // namespace

std::vector<ProcessRecord> process_list() {
  std::vector<ProcessRecord> list;
  const win::unique_file snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return list;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
       more = ::Process32Next(snapshot.get(), &entry)) {
    list.push_back(to_record(entry));
  }
  return list;
}

std::optional<std::string> image_path(DWORD pid) {
  // The limited right is the one a 32-bit program gets for a 64-bit process, and for processes
  // of other users where any right is granted at all.
  const win::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  return image_path_of(process.get());
}

std::optional<std::string> image_path_of(HANDLE process) {
  std::string buf(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD size = static_cast<DWORD>(buf.size());
    if (::QueryFullProcessImageNameA(process, 0, buf.data(), &size)) {
      buf.resize(size);
      return buf;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    buf.resize(buf.size() * 4);
  }
  return std::nullopt;
}

DWORD find_by_path(const std::string& path) {
  if (path.empty()) return 0;
  return id_by_path(process_list(), program::listed_path(path), image_path, program::locate);
}

DWORD find_by_name(std::string_view name, bool case_sensitive) {
  return id_by_name(process_list(), name, case_sensitive);
}

long parent_of(std::string_view name_or_decimal_id) {
  const ProcessInfo info = query_process_info();
  if (!info.memory) return -1;
  const auto* base = static_cast<const std::byte*>(static_cast<const void*>(info.memory.get()));
  const std::span<const std::byte> buffer(base, info.size);
  const std::uint64_t address = reinterpret_cast<std::uintptr_t>(base);
  const auto image_name = [&](std::size_t entry_offset) {
    const auto bytes = image_name_bytes(buffer, entry_offset, address, kOwnChainLayout);
    return bytes ? wide_name_to_gbk(bytes->data(), bytes->size()) : std::string();
  };
  return parent_in_chain(buffer, name_or_decimal_id, image_name, kOwnChainLayout);
}

std::string wide_name_to_gbk(const void* utf16, std::size_t bytes) {
  const int count = static_cast<int>(bytes / 2);
  if (utf16 == nullptr || count == 0) return {};
  // The source may sit at any byte position; copy it to aligned storage first.
  std::vector<wchar_t> wide(count);
  std::memcpy(wide.data(), utf16, count * sizeof(wchar_t));
  const int size = ::WideCharToMultiByte(936, WC_COMPOSITECHECK, wide.data(), count, nullptr, 0,
                                         nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(size, '\0');
  ::WideCharToMultiByte(936, WC_COMPOSITECHECK, wide.data(), count, text.data(), size, nullptr,
                        nullptr);
  text.resize(::strnlen(text.data(), text.size()));
  return text;
}

bool terminate(DWORD pid) {
  const win::unique_handle process(::OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (!process) return false;
  return ::TerminateProcess(process.get(), 0) != FALSE;
}

DWORD parent_id_by_name(std::string_view name, int case_flag) {
  return proc::parent_id_by_name(process_list(), name, case_flag);
}

namespace {

// PROCESS_BASIC_INFORMATION as the system fills it: the headers name the parent's id Reserved3.
struct BasicInformation {
  LONG_PTR exit_status;
  void* peb;
  ULONG_PTR affinity;
  LONG_PTR base_priority;
  ULONG_PTR id;
  ULONG_PTR parent_id;
};

// This process's parent's id, read without listing every process (one call to the system, where
// the list is a wineserver round trip with every process and thread under Wine); 0 when unknown.
DWORD own_parent_id() {
  using Query = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  constexpr ULONG kProcessBasicInformation = 0;
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return 0;
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")));
  BasicInformation info{};
  if (query == nullptr ||
      query(::GetCurrentProcess(), kProcessBasicInformation, &info, sizeof info, nullptr) < 0) {
    return 0;
  }
  return static_cast<DWORD>(info.parent_id);
}

}  // namespace

bool started_by_explorer() {
  // The process at the parent's id now, as the process list would name it.
  if (const DWORD parent = own_parent_id(); parent != 0) {
    const win::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent));
    if (const auto image = process ? image_path_of(process.get()) : std::nullopt) {
      return parent_is_explorer(gbk::name_part(*image));
    }
  }
  // A parent that cannot be looked at this way is looked up in the process list.
  return parent_is_explorer(process_list(), ::GetCurrentProcessId());
}

bool is_64bit_windows() {
#if defined(_WIN64)
  return true;  // a 64-bit process runs on 64-bit Windows only
#else
  BOOL wow64 = FALSE;
  if (!::IsWow64Process(::GetCurrentProcess(), &wow64)) return false;
  return wow64 != FALSE;
#endif
}

}  // namespace proc
