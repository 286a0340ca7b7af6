// The Win32 side of the framework's forms and controls: the window handle behind each.
#pragma once

#include <windows.h>
// windows.h first: these rely on its types.
#include <commctrl.h>
#include <uxtheme.h>
#include <vssym32.h>

#include "framework/controls.h"
// LoadSystemLibrary and PAVO_SYSTEM_FUNCTION, shared with the Windows backend.
#include "platform/system_library_win32.h"

class TWidgetImpl {
 public:
  TWidgetImpl() = default;
  ~TWidgetImpl() {
    if (hwnd != nullptr) {
      DestroyWindow(hwnd);
    }
    if (font != nullptr) {
      DeleteObject(font);
    }
    if (brush != nullptr) {
      DeleteObject(brush);
    }
  }
  TWidgetImpl(const TWidgetImpl&) = delete;
  TWidgetImpl& operator=(const TWidgetImpl&) = delete;

  HWND hwnd = nullptr;
  // The font of the form, or of a control that has one of its own (else null).
  HFONT font = nullptr;
  // A form's background when it is not the system's button face (else null).
  HBRUSH brush = nullptr;
  // Disabled while it had the keyboard focus: it takes the focus back when enabled again.
  bool refocus = false;
};

// What the application object (application.cpp) and the forms and controls (controls.cpp)
// share is here (native.cpp); neither calls the other's functions.

// The program's icon among its resources (app/win32/pavo.rc.in).
constexpr int kProgramIconId = 1;
// The program's icon in the size of the given metric (SM_CXICON, SM_CXSMICON); Windows'
// generic one when the program carries none.
HICON ProgramIcon(int sizeMetric);
// The hidden-caption window that stands for the application on the task bar and owns
// the forms: made by the application object's Initialize, null before and after.
HWND ApplicationWindow();
void SetApplicationWindow(HWND window);
// Sent by the main form to the application window once it has closed: Run returns.
constexpr UINT kMainFormClosed = WM_APP + 1;

// Restricts the DLLs loaded from now on to the system folder; called before anything else
// runs (see native.cpp).
void RestrictDllSearch();
