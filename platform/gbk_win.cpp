#include "platform/gbk_win.h"

#include <windows.h>

#include <algorithm>

#include "platform/gbk.h"

namespace gbk {
namespace {

constexpr UINT kCodePage = 936;

Narrowed narrow(std::wstring_view text) {
  Narrowed n;
  if (text.empty()) return n;
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, text.data(), length,
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    n.used_default = true;  // nothing came of it: the text cannot be kept
    return n;
  }
  n.bytes.resize(static_cast<std::size_t>(size));
  BOOL used_default = FALSE;
  const int written = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, text.data(), length,
                                          n.bytes.data(), size, nullptr, &used_default);
  n.bytes.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  n.used_default = used_default != FALSE || written != size;
  return n;
}

}  // namespace

std::wstring to_wide(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(kCodePage, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  wide.resize(static_cast<std::size_t>(
      std::max(0, MultiByteToWideChar(kCodePage, 0, text.data(), length, wide.data(), size))));
  return wide;
}

std::optional<std::string> from_wide(std::wstring_view text) {
  return exactly(text, narrow, to_wide);
}

}  // namespace gbk
