// Accessible names through Microsoft Active Accessibility. A screen reader asks a control's
// window for its object (WM_GETOBJECT); the standard object Windows makes for an edit box
// names it after the nearest static text before it, which this window's boxes do not have,
// and a combo box after its content. A named control answers with the standard object
// wrapped to give its own name, everything else left to the standard object.
#include <oleacc.h>

#include <string>
#include <utility>

#include "framework/win32/native.h"

namespace {

// oleacc.dll is no KnownDLL: loaded from the system folder (native.cpp), and only once a
// screen reader asks, as are the COM functions the answer needs. All null where one is missing:
// the control then answers as a standard one.
struct AccessibilityFunctions {
  decltype(&::CreateStdAccessibleObject) createStandard;
  decltype(&::LresultFromObject) lresultFromObject;
  decltype(&::SysAllocStringLen) allocString;
  decltype(&::CoInitializeEx) initializeCom;
};

const AccessibilityFunctions& Accessibility() {
  static const AccessibilityFunctions functions = [] {
    HMODULE oleacc = LoadSystemLibrary(L"oleacc.dll");
    HMODULE oleaut32 = LoadSystemLibrary(L"oleaut32.dll");
    HMODULE ole32 = LoadSystemLibrary(L"ole32.dll");
    AccessibilityFunctions f = {PAVO_SYSTEM_FUNCTION(oleacc, CreateStdAccessibleObject),
                                PAVO_SYSTEM_FUNCTION(oleacc, LresultFromObject),
                                PAVO_SYSTEM_FUNCTION(oleaut32, SysAllocStringLen),
                                PAVO_SYSTEM_FUNCTION(ole32, CoInitializeEx)};
    if (!f.createStandard || !f.lresultFromObject || !f.allocString || !f.initializeCom) {
      f = AccessibilityFunctions{};
    }
    return f;
  }();
  return functions;
}

// The standard object of a control with its own name in place of the standard one.
class NamedAccessible final : public IAccessible {
 public:
  // Takes over the caller's reference to standard.
  NamedAccessible(IAccessible* standard, std::string name)
      : standard_(standard), name_(std::move(name)) {}
  NamedAccessible(const NamedAccessible&) = delete;
  NamedAccessible& operator=(const NamedAccessible&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) {
      return E_POINTER;
    }
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
      *object = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    // The standard object's other interfaces (its children's enumeration, its window).
    return standard_->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      delete this;
    }
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) {
      return standard_->get_accName(child, name);
    }
    if (name == nullptr) {
      return E_INVALIDARG;
    }
    // Texts are in the local 8-bit encoding, COM's in UTF-16.
    const int size = static_cast<int>(name_.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, name_.data(), size, nullptr, 0);
    *name = Accessibility().allocString(nullptr, static_cast<UINT>(length));
    if (*name == nullptr) {
      return E_OUTOFMEMORY;
    }
    MultiByteToWideChar(CP_ACP, 0, name_.data(), size, *name, length);
    return S_OK;
  }

  // The rest as the standard object answers it.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return standard_->GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return standard_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return standard_->GetIDsOfNames(iid, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argument) override {
    return standard_->Invoke(id, iid, locale, flags, params, result, exception, argument);
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return standard_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    return standard_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
    return standard_->get_accChild(child, object);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return standard_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    return standard_->get_accDescription(child, description);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return standard_->get_accRole(child, role);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return standard_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return standard_->get_accHelp(child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return standard_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
    return standard_->get_accFocus(child);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    return standard_->get_accSelection(children);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return standard_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    return standard_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                        VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long left, long top, VARIANT* child) override {
    return standard_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return standard_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return standard_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return standard_->put_accValue(child, value);
  }

 private:
  ~NamedAccessible() { standard_->Release(); }

  IAccessible* standard_;
  std::string name_;
  LONG references_ = 1;
};

// The answer to WM_GETOBJECT for the control's own object; 0 where it cannot be given.
LRESULT NamedObject(HWND hwnd, WPARAM wParam, const std::string& name) {
  const AccessibilityFunctions& api = Accessibility();
  if (api.createStandard == nullptr) {
    return 0;
  }
  // The object is handed over through COM, which on Windows needs an apartment on the
  // window's thread (Wine's does not insist); the window's message loop serves it. COM
  // already set up on the thread, in whatever way, is as good.
  static const HRESULT com = api.initializeCom(nullptr, COINIT_APARTMENTTHREADED);
  (void)com;
  IAccessible* standard = nullptr;
  if (FAILED(api.createStandard(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                reinterpret_cast<void**>(&standard)))) {
    return 0;
  }
  auto* named = new NamedAccessible(standard, name);
  const LRESULT result = api.lresultFromObject(__uuidof(IAccessible), wParam, named);
  named->Release();
  return result > 0 ? result : 0;
}

// The control's own name and the window procedure of its class, for as long as the window
// lives.
struct NamedControl {
  WNDPROC standardProc;
  std::string name;
};
constexpr const char* kNamedControl = "pavo.NamedControl";

LRESULT CALLBACK NamedControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* named = static_cast<NamedControl*>(GetPropA(hwnd, kNamedControl));
  const WNDPROC standardProc = named->standardProc;
  if (message == WM_NCDESTROY) {
    RemovePropA(hwnd, kNamedControl);
    delete named;
  } else if (message == WM_GETOBJECT &&
             static_cast<LONG>(static_cast<DWORD>(lParam)) == OBJID_CLIENT) {
    if (const LRESULT object = NamedObject(hwnd, wParam, named->name)) {
      return object;
    }
  }
  return CallWindowProcA(standardProc, hwnd, message, wParam, lParam);
}

}  // namespace

void TControl::SetAccessibleName(const std::string& name) {
  HWND hwnd = impl_->hwnd;
  if (auto* named = static_cast<NamedControl*>(GetPropA(hwnd, kNamedControl))) {
    named->name = name;
    return;
  }
  // Subclassed through the window procedure itself, with user32 alone: Common Controls,
  // which has helpers for this, is not imported (application.cpp).
  auto* named = new NamedControl{nullptr, name};
  SetPropA(hwnd, kNamedControl, named);
  named->standardProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NamedControlProc)));
}
