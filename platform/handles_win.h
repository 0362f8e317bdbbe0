// One move-only owner per kind of Windows handle. Each kind says which value means "none":
// CreateFile and CreateToolhelp32Snapshot answer INVALID_HANDLE_VALUE, most others null.
#pragma once

#include <windows.h>

#include <utility>

namespace win {

template <typename T, T Invalid, typename Close>
class unique_any {
 public:
  unique_any() = default;
  explicit unique_any(T value) : value_(value) {}
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_any() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Invalid; }
  T release() { return std::exchange(value_, Invalid); }
  void reset(T value = Invalid) {
    if (value_ != Invalid) Close{}(value_);
    value_ = value;
  }
  // For APIs that fill in a handle through a pointer.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Invalid;
};

struct close_handle {
  void operator()(HANDLE h) const { ::CloseHandle(h); }
};
struct destroy_icon {
  void operator()(HICON h) const { ::DestroyIcon(h); }
};
struct destroy_menu {
  void operator()(HMENU h) const { ::DestroyMenu(h); }
};
struct delete_object {
  void operator()(HGDIOBJ h) const { ::DeleteObject(h); }
};
struct global_free {
  void operator()(HGLOBAL h) const { ::GlobalFree(h); }
};
struct reg_close_key {
  void operator()(HKEY h) const { ::RegCloseKey(h); }
};
// Waits for a callback under way, so that what it uses may go right after.
struct unregister_wait {
  void operator()(HANDLE h) const { ::UnregisterWaitEx(h, INVALID_HANDLE_VALUE); }
};
struct local_free {
  void operator()(HLOCAL h) const { ::LocalFree(h); }
};
struct unhook {
  void operator()(HHOOK h) const { ::UnhookWindowsHookEx(h); }
};

// Null means none for these.
using unique_handle = unique_any<HANDLE, nullptr, close_handle>;
using unique_hicon = unique_any<HICON, nullptr, destroy_icon>;
using unique_hmenu = unique_any<HMENU, nullptr, destroy_menu>;
using unique_hfont = unique_any<HFONT, nullptr, delete_object>;
using unique_hbrush = unique_any<HBRUSH, nullptr, delete_object>;
using unique_hglobal = unique_any<HGLOBAL, nullptr, global_free>;
using unique_hkey = unique_any<HKEY, nullptr, reg_close_key>;
// A wait registered with RegisterWaitForSingleObject.
using unique_wait = unique_any<HANDLE, nullptr, unregister_wait>;
using unique_hhook = unique_any<HHOOK, nullptr, unhook>;
// Memory the system allocated for the caller, such as a converted security descriptor.
using unique_hlocal = unique_any<HLOCAL, nullptr, local_free>;

struct find_close {
  void operator()(HANDLE h) const { ::FindClose(h); }
};

// INVALID_HANDLE_VALUE means none for files, snapshots and file searches. It is no constant
// expression, so these cannot be unique_any; a null handle counts as none as well.
template <typename Close>
class unique_invalid {
 public:
  unique_invalid() = default;
  explicit unique_invalid(HANDLE h) : h_(h) {}
  unique_invalid(const unique_invalid&) = delete;
  unique_invalid& operator=(const unique_invalid&) = delete;
  unique_invalid(unique_invalid&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
  unique_invalid& operator=(unique_invalid&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  ~unique_invalid() { reset(); }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  void reset() {
    if (*this) Close{}(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

using unique_file = unique_invalid<close_handle>;
using unique_find = unique_invalid<find_close>;

}  // namespace win
