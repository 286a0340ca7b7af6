// Reads the window of a running pavo.exe from outside, as a test under Wine needs it:
// where its controls are on the screen (for real mouse clicks), what they show (through
// WM_GETTEXT), and the message box it puts up. One command per run; output on stdout.
//   pavo-probe wait MS                       the main window is up: its client area x y w h,
//                                            then its window x y w h
//   pavo-probe where NAME                    screen point in the middle of control NAME
//   pavo-probe text NAME                     its text, then the first visible character's
//                                            index (edit boxes) and enabled 1/0
//   pavo-probe until NAME OP TEXT MS         waits until the text OP (is, starts, not) TEXT
//   pavo-probe box MS                        the message box's caption, text, OK point
//   pavo-probe taskbar                       texts of the process's windows on the task bar
//   pavo-probe read COMn                     one read the system fails while the port answers
//                                            its status calls: the backend's verdict
//   pavo-probe layout                        each control where the stored layout puts it,
//                                            with its text; prints what differs
//   pavo-probe name NAME                     control NAME's accessible name, as a screen
//                                            reader gets it (AccessibleObjectFromWindow)
//   pavo-probe exit MS                       holds the main window's process, prints "held",
//                                            then its exit status once it has ended
//   pavo-probe load DLL...                   loads each DLL by its bare name, searched for as
//                                            Windows does (planted_dll_test.sh's control)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "testing/accessible_win32.h"
#include "ui/unit1_layout.h"

namespace {

HWND Form() {
  const TFormDesc& layout = Form1Layout();
  return FindWindowA(layout.className.c_str(), layout.caption.c_str());
}

// Controls have their place in the stored layout as their id, from 1.
HWND Control(const std::string& name) {
  const auto& components = Form1Layout().components;
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (components[i].name == name) {
      return GetDlgItem(Form(), static_cast<int>(i + 1));
    }
  }
  return nullptr;
}

// The text as the control gives it to another process; times out on a busy window.
bool Text(HWND hwnd, std::string& text) {
  char buffer[1024] = {};
  DWORD_PTR length = 0;
  if (SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                          SMTO_ABORTIFHUNG, 2000, &length) == 0) {
    return false;
  }
  text.assign(buffer, length);
  return true;
}

bool Matches(const std::string& text, const std::string& op, const std::string& wanted) {
  if (op == "is") {
    return text == wanted;
  }
  if (op == "starts") {
    return text.compare(0, wanted.size(), wanted) == 0;
  }
  return text != wanted;  // "not"
}

void PrintCentre(HWND hwnd) {
  RECT rect;
  GetWindowRect(hwnd, &rect);
  std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

struct BoxSearch {
  DWORD process;
  HWND box;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM param) {
  auto& search = *reinterpret_cast<BoxSearch*>(param);
  char className[16] = {};
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  GetClassNameA(hwnd, className, sizeof className);
  if (process == search.process && std::strcmp(className, "#32770") == 0 && IsWindowVisible(hwnd)) {
    search.box = hwnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK PrintTaskbarWindow(HWND hwnd, LPARAM param) {
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  const LONG_PTR exStyle = GetWindowLongPtrA(hwnd, GWL_EXSTYLE);
  // The task bar shows visible unowned windows that are no tool windows, and owned ones
  // that ask for it.
  const bool onTaskbar = IsWindowVisible(hwnd) && (exStyle & WS_EX_TOOLWINDOW) == 0 &&
                         (GetWindow(hwnd, GW_OWNER) == nullptr || (exStyle & WS_EX_APPWINDOW));
  if (process == static_cast<DWORD>(param) && onTaskbar) {
    std::string text;
    Text(hwnd, text);
    std::printf("%s\n", text.c_str());
  }
  return TRUE;
}

// Every control against the program's own layout table: its place and size in the client
// area (scaled as the program scales them) and its text. An auto-sized label keeps only
// its place, a combo box's closed height follows its font.
bool CheckLayout() {
  HWND form = Form();
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
  bool good = form != nullptr;
  for (const TComponentDesc& desc : Form1Layout().components) {
    HWND control = Control(desc.name);
    RECT rect{};
    std::string text;
    if (control == nullptr || !GetWindowRect(control, &rect) || !Text(control, text)) {
      std::printf("%s: not found\n", desc.name.c_str());
      good = false;
      continue;
    }
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
    const bool label = desc.className == "TLabel";
    const bool combo = desc.className == "TComboBox";
    const bool placed = rect.left == scaled(desc.left) && rect.top == scaled(desc.top) &&
                        (label || rect.right - rect.left == scaled(desc.width)) &&
                        (label || combo || rect.bottom - rect.top == scaled(desc.height));
    if (!placed || text != desc.text) {
      std::printf("%s: at %ld,%ld %ldx%ld '%s', expected %d,%d %dx%d '%s'\n", desc.name.c_str(),
                  rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, text.c_str(),
                  scaled(desc.left), scaled(desc.top), scaled(desc.width), scaled(desc.height),
                  desc.text.c_str());
      good = false;
    }
  }
  return good;
}

int Usage() {
  std::fprintf(stderr,
               "usage: pavo-probe wait|where|text|until|box|taskbar|layout|read|name|"
               "exit|load ... (see probe.cpp)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    return Usage();
  }
  const std::string command = argv[1];
  if (command == "wait" && argc == 3) {
    for (int waited = 0; waited <= std::atoi(argv[2]); waited += 50) {
      HWND form = Form();
      if (form != nullptr && IsWindowVisible(form)) {
        RECT client;
        GetClientRect(form, &client);
        POINT origin = {0, 0};
        ClientToScreen(form, &origin);
        RECT window;
        GetWindowRect(form, &window);
        std::printf("%ld %ld %ld %ld\n%ld %ld %ld %ld\n", origin.x, origin.y, client.right,
                    client.bottom, window.left, window.top, window.right - window.left,
                    window.bottom - window.top);
        return 0;
      }
      Sleep(50);
    }
    return 1;
  }
  if (command == "where" && argc == 3) {
    HWND control = Control(argv[2]);
    if (control == nullptr) {
      return 1;
    }
    PrintCentre(control);
    return 0;
  }
  if (command == "text" && argc == 3) {
    HWND control = Control(argv[2]);
    std::string text;
    if (control == nullptr || !Text(control, text)) {
      return 1;
    }
    DWORD_PTR first = 0;
    SendMessageTimeoutA(control, EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_ABORTIFHUNG, 2000, &first);
    std::printf("%s\n%lu\n%d\n", text.c_str(), static_cast<unsigned long>(first),
                IsWindowEnabled(control) ? 1 : 0);
    return 0;
  }
  if (command == "until" && argc == 6) {
    std::string text;
    for (int waited = 0; waited <= std::atoi(argv[5]); waited += 50) {
      HWND control = Control(argv[2]);
      if (control != nullptr && Text(control, text) && Matches(text, argv[3], argv[4])) {
        std::printf("%s\n", text.c_str());
        return 0;
      }
      Sleep(50);
    }
    std::printf("%s\n", text.c_str());
    return 1;
  }
  if (command == "box" && argc == 3) {
    DWORD process = 0;
    GetWindowThreadProcessId(Form(), &process);
    BoxSearch search = {process, nullptr};
    for (int waited = 0; search.box == nullptr && waited <= std::atoi(argv[2]); waited += 50) {
      EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
      Sleep(50);
    }
    if (search.box == nullptr) {
      return 1;
    }
    std::string caption;
    std::string message;
    Text(search.box, caption);
    Text(GetDlgItem(search.box, 0xFFFF), message);
    std::printf("%s\n%s\n", caption.c_str(), message.c_str());
    PrintCentre(GetDlgItem(search.box, IDOK));
    return 0;
  }
  if (command == "read" && argc == 3) {
    // One read through the program's own backend that the system fails while the port's
    // status calls still answer, as some drivers do once their adapter is pulled: the port
    // is opened for overlapped reads, which a read without an OVERLAPPED record is refused
    // (invalid parameter). "lost" is the program's verdict.
    platform::Platform& os = platform::OperatingSystem();
    const platform::Handle port =
        os.CreateFile(argv[2], platform::GenericRead | platform::GenericWrite, 0,
                      platform::OpenExisting, FILE_FLAG_OVERLAPPED);
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    if (port == platform::InvalidHandle) {
      return 1;
    }
    std::printf("%s\n", os.ReadFile(port, &byte, 1, got) ? "not lost" : "lost");
    os.CloseHandle(port);
    return 0;
  }
  if (command == "layout" && argc == 2) {
    return CheckLayout() ? 0 : 1;
  }
  if (command == "taskbar" && argc == 2) {
    DWORD process = 0;
    GetWindowThreadProcessId(Form(), &process);
    EnumWindows(PrintTaskbarWindow, static_cast<LPARAM>(process));
    return 0;
  }
  if (command == "name" && argc == 3) {
    std::printf("%s\n", AccessibleText(Control(argv[2]), &IAccessible::get_accName).c_str());
    return 0;
  }
  if (command == "exit" && argc == 3) {
    DWORD id = 0;
    GetWindowThreadProcessId(Form(), &id);
    HANDLE held = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (held == nullptr) {
      return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    DWORD status = 0;
    const bool ended =
        WaitForSingleObject(held, static_cast<DWORD>(std::atoi(argv[2]))) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(held, &status);
    CloseHandle(held);
    if (!ended) {
      return 1;
    }
    std::printf("%lu\n", status);
    return 0;
  }
  if (command == "load" && argc >= 3) {
    int missing = 0;
    for (int i = 2; i < argc; ++i) {
      missing += LoadLibraryA(argv[i]) == nullptr ? 1 : 0;
    }
    return missing == 0 ? 0 : 1;
  }
  return Usage();
}
