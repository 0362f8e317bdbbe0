#include "app/dpi_win.h"

#include "app/dpi.h"

namespace dpi {
namespace {

template <typename F>
F user32_entry(const char* name) {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  return user32 ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForSystemFn = UINT(WINAPI*)();
using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

int screen_dpi() {
  HDC dc = GetDC(nullptr);
  if (!dc) return kDesign;
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return usable(dpi) ? dpi : kDesign;
}

}  // namespace

int system_dpi() {
  static const auto get = user32_entry<GetDpiForSystemFn>("GetDpiForSystem");
  if (get) {
    const int dpi = static_cast<int>(get());
    if (usable(dpi)) return dpi;
  }
  return screen_dpi();
}

int window_dpi(HWND window) {
  static const auto get = user32_entry<GetDpiForWindowFn>("GetDpiForWindow");
  if (get && window) {
    const int dpi = static_cast<int>(get(window));
    if (usable(dpi)) return dpi;
  }
  return system_dpi();
}

HFONT message_font(int dpi) {
  static const auto for_dpi =
      user32_entry<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (for_dpi &&
      for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi))) {
    return CreateFontIndirectW(&metrics.lfMessageFont);
  }
  // Older Windows gives the metrics at the system's DPI, the only one its windows are shown at.
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    metrics.lfMessageFont.lfHeight = scale(metrics.lfMessageFont.lfHeight, dpi, system_dpi());
    return CreateFontIndirectW(&metrics.lfMessageFont);
  }
  return nullptr;
}

}  // namespace dpi
