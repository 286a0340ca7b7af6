// What a screen reader hears of a window on Windows: its accessible object, asked for from
// outside as Microsoft Active Accessibility does (AccessibleObjectFromWindow), and one of
// its texts. For the window's tests and for pavo-probe.
#pragma once

#include <windows.h>
// windows.h first: oleacc.h relies on its types.
#include <oleacc.h>

#include <string>

// The name (&IAccessible::get_accName) or value (get_accValue) of the window's own object,
// in the local 8-bit encoding; "(no accessible object)" when there is none.
inline std::string AccessibleText(HWND hwnd,
                                  HRESULT (STDMETHODCALLTYPE IAccessible::*text)(VARIANT, BSTR*)) {
  static const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  static_cast<void>(com);
  IAccessible* object = nullptr;
  if (hwnd == nullptr || FAILED(AccessibleObjectFromWindow(hwnd, OBJID_CLIENT, IID_IAccessible,
                                                           reinterpret_cast<void**>(&object)))) {
    return "(no accessible object)";
  }
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR wide = nullptr;
  std::string result;
  if (SUCCEEDED((object->*text)(self, &wide)) && wide != nullptr) {
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size > 0 ? size : 1));
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &result[0], size, nullptr, nullptr);
    result.resize(result.size() - 1);
    SysFreeString(wide);
  }
  object->Release();
  return result;
}
