#include "app/drop_target_win.h"

#include <shellapi.h>

#include <optional>

#include "app/layout.h"
#include "config/settings.h"
#include "platform/gbk_win.h"
#include "platform/ui_task_win.h"

namespace {

FORMATETC hdrop_format() { return {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

// The paths come from the system in UTF-16 and must reach the settings in code page 936 exactly:
// one with a character that has no exact form there would name another file. Nothing when one
// of them cannot be kept.
std::optional<std::string> dropped_text(HDROP drop) {
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  std::string text;
  for (UINT i = 0; i < count; ++i) {
    std::wstring path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
    path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
    const std::optional<std::string> kept = gbk::from_wide(path);
    if (!kept) return std::nullopt;
    text += *kept;
    if (count > 1) text += "\r\n";
  }
  return text;
}

}  // namespace

void DropTarget::register_window(HWND hwnd) {
  if (hwnd_) return;
  if (SUCCEEDED(RegisterDragDrop(hwnd, this))) hwnd_ = hwnd;
}

void DropTarget::revoke() {
  if (!hwnd_) return;
  RevokeDragDrop(hwnd_);
  hwnd_ = nullptr;
}

HRESULT DropTarget::QueryInterface(REFIID riid, void** object) {
  if (riid == IID_IUnknown || riid == IID_IDropTarget) {
    *object = static_cast<IDropTarget*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG DropTarget::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG DropTarget::Release() { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }

HRESULT DropTarget::DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) {
  FORMATETC format = hdrop_format();
  accepts_ = data && data->QueryGetData(&format) == S_OK;
  *effect = accepts_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
  return S_OK;
}

HRESULT DropTarget::DragOver(DWORD, POINTL, DWORD* effect) {
  *effect = accepts_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
  return S_OK;
}

HRESULT DropTarget::DragLeave() {
  accepts_ = false;
  return S_OK;
}

HRESULT DropTarget::Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) {
  *effect = DROPEFFECT_NONE;
  FORMATETC format = hdrop_format();
  STGMEDIUM medium{};
  if (!data || data->GetData(&format, &medium) != S_OK) return S_OK;
  const std::optional<std::string> text = dropped_text(static_cast<HDROP>(medium.hGlobal));
  ReleaseStgMedium(&medium);
  *effect = DROPEFFECT_COPY;
  // The drag source waits for Drop, so anything that may show a message box is posted to the UI
  // thread (the handler posts its own work).
  if (!text) {
    HWND owner = hwnd_;
    ui_task::post(owner, [owner] {
      MessageBoxA(owner, layout::kPathNotKept, settings::kErrorCaption, MB_OK | MB_TASKMODAL);
    });
  } else if (handler_ && !text->empty()) {
    handler_(*text);
  }
  return S_OK;
}
