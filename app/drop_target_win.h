// Files dropped on the main window, through OLE drag and drop.
#pragma once

#include <windows.h>

#include <ole2.h>

#include <functional>
#include <string>

class DropTarget final : public IDropTarget {
 public:
  // Receives the dropped text: one path, or every path followed by CR LF when several.
  using Handler = std::function<void(const std::string&)>;

  explicit DropTarget(Handler handler) : handler_(std::move(handler)) {}

  // Registers the window once; a second call does nothing.
  void register_window(HWND hwnd);
  void revoke();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL pt,
                                      DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL pt, DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragLeave() override;
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) override;

 private:
  Handler handler_;
  HWND hwnd_ = nullptr;
  LONG refs_ = 1;  // the owner's reference: the object lives as long as the program
  bool accepts_ = false;
};
