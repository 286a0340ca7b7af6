// Reads and drives the window of a running pavo.exe from outside, through Win32 alone, so
// that the same commands serve on Windows and under Wine: where its controls are, what they
// show (WM_GETTEXT), real input (SendInput: the pointer moved and clicked, keys typed),
// pictures of what the screen shows (BitBlt) and the message box it puts up. One command
// per run; output on stdout, coordinates in screen pixels.
//   pavo-probe wait MS                       the main window is up: its client area x y w h,
//                                            then its window x y w h
//   pavo-probe where NAME                    screen point in the middle of control NAME
//   pavo-probe text NAME                     its text, then the first visible character's
//                                            index (edit boxes) and enabled 1/0
//   pavo-probe until NAME OP TEXT MS         waits until the text OP (is, starts, has, not)
//                                            TEXT
//   pavo-probe box MS                        the message box's caption, its buttons' captions,
//                                            then its text (one or more lines)
//   pavo-probe click NAME [COUNT]            COUNT (1, or 2: a double click) mouse clicks in
//                                            the middle of control NAME, or of the message
//                                            box's button box:CAPTION (box:OK, box:Retry);
//                                            the pointer is then left in the screen's corner
//   pavo-probe type NAME TEXT                a click into edit box NAME (a combo box's edit
//                                            part), End and Backspace until it is empty, then
//                                            TEXT typed on the keyboard
//   pavo-probe colours X Y W H               the colours on the screen in that rectangle, one
//                                            "count #RRGGBB" a line, the most frequent first
//   pavo-probe picture X Y W H FILE          that rectangle of the screen as a 24-bit BMP;
//                                            W and H 0: all of the screen from X, Y on
//   pavo-probe hold FILE MS                  holds FILE open (made if missing) without letting
//                                            others read or write it, as a spreadsheet might;
//                                            says so by making FILE.held, and lets go when
//                                            FILE.held is removed (fails after MS)
//   pavo-probe process                       the main window's program file, then the folder
//                                            it runs in (its current directory)
//   pavo-probe close                         asks the main window to close (WM_CLOSE)
//   pavo-probe link FILE.lnk                 a shortcut as the shell reads it: its target,
//                                            working folder and icon, a line each
//   pavo-probe taskbar                       texts of the process's windows on the task bar
//   pavo-probe read COMn                     one read the system fails while the port answers
//                                            its status calls: the backend's verdict
//   pavo-probe layout                        the window and each control where the stored
//                                            layout puts them, the controls with their
//                                            texts; prints what differs
//   pavo-probe name NAME                     control NAME's accessible name, as a screen
//                                            reader gets it (AccessibleObjectFromWindow)
//   pavo-probe exit MS                       holds the main window's process, clicks its exit
//                                            button and prints its exit status once it ended
//   pavo-probe load DLL...                   loads each DLL by its bare name, searched for as
//                                            Windows does (planted_dll_test.sh's control)
#include <windows.h>
// windows.h first: the shell's headers rely on its types.
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

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

// A caption as shown: without the ampersand that marks its access key.
std::string Shown(std::string caption) {
  caption.erase(std::remove(caption.begin(), caption.end(), '&'), caption.end());
  return caption;
}

bool Matches(const std::string& text, const std::string& op, const std::string& wanted) {
  if (op == "is") {
    return text == wanted;
  }
  if (op == "starts") {
    return text.compare(0, wanted.size(), wanted) == 0;
  }
  if (op == "has") {
    return text.find(wanted) != std::string::npos;
  }
  return text != wanted;  // "not"
}

POINT Centre(HWND hwnd) {
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

DWORD FormProcess() {
  DWORD process = 0;
  GetWindowThreadProcessId(Form(), &process);
  return process;
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

// The program's message box, waited for up to ms.
HWND Box(int ms) {
  BoxSearch search = {FormProcess(), nullptr};
  for (int waited = 0; search.box == nullptr && waited <= ms; waited += 50) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.box == nullptr) {
      Sleep(50);
    }
  }
  return search.box;
}

// The box's buttons in the order the box puts them.
std::vector<HWND> BoxButtons(HWND box) {
  std::vector<HWND> buttons;
  for (HWND child = FindWindowExA(box, nullptr, "Button", nullptr); child != nullptr;
       child = FindWindowExA(box, child, "Button", nullptr)) {
    if (IsWindowVisible(child)) {
      buttons.push_back(child);
    }
  }
  return buttons;
}

// NAME is a control of the main window, or box:CAPTION a button of its message box.
HWND Target(const std::string& name) {
  const std::string boxPrefix = "box:";
  if (name.compare(0, boxPrefix.size(), boxPrefix) != 0) {
    return Control(name);
  }
  const HWND box = Box(0);
  if (box == nullptr) {
    return nullptr;
  }
  for (HWND button : BoxButtons(box)) {
    std::string caption;
    if (Text(button, caption) && Shown(caption) == name.substr(boxPrefix.size())) {
      return button;
    }
  }
  return nullptr;
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

// The window and every control against the program's own layout table: the window's place
// on the screen and its client size, each control's place and size in the client area (all
// scaled as the program scales them) and its text. An auto-sized label keeps only its
// place, a combo box's closed height follows its font.
bool CheckLayout() {
  HWND form = Form();
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
  const TFormDesc& layout = Form1Layout();
  RECT window{};
  RECT client{};
  if (form == nullptr || !GetWindowRect(form, &window) || !GetClientRect(form, &client)) {
    std::printf("no main window\n");
    return false;
  }
  bool good = window.left == scaled(layout.left) && window.top == scaled(layout.top) &&
              client.right == scaled(layout.width) && client.bottom == scaled(layout.height);
  if (!good) {
    std::printf("window: at %ld,%ld client %ldx%ld, expected %d,%d client %dx%d\n", window.left,
                window.top, client.right, client.bottom, scaled(layout.left), scaled(layout.top),
                scaled(layout.width), scaled(layout.height));
  }
  for (const TComponentDesc& desc : layout.components) {
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

// --- Input, as the system's own devices give it ---

bool Send(std::vector<INPUT> inputs) {
  return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

// A mouse event at a screen pixel. Absolute positions are given in 65536ths of the primary
// screen, which the system maps back to pixel (value * size / 65536): rounded up, each
// pixel's value lands on that pixel.
INPUT MouseAt(POINT at, DWORD flags) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  const LONG width = GetSystemMetrics(SM_CXSCREEN);
  const LONG height = GetSystemMetrics(SM_CYSCREEN);
  input.mi.dx = static_cast<LONG>((static_cast<LONGLONG>(at.x) * 65536 + width - 1) / width);
  input.mi.dy = static_cast<LONG>((static_cast<LONGLONG>(at.y) * 65536 + height - 1) / height);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
  return input;
}

bool MovePointer(POINT to) {
  if (!Send({MouseAt(to, 0)})) {
    return false;
  }
  // The move is taken by the system's input thread; the click must not come before it.
  POINT now{};
  for (int waited = 0; waited <= 2000; waited += 10) {
    if (GetCursorPos(&now) && now.x == to.x && now.y == to.y) {
      return true;
    }
    Sleep(10);
  }
  std::fprintf(stderr, "pavo-probe: the pointer is at %ld,%ld, not at %ld,%ld\n", now.x, now.y,
               to.x, to.y);
  return false;
}

bool ClickAt(POINT at, int count) {
  if (!MovePointer(at)) {
    return false;
  }
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      Sleep(80);  // well inside the double-click time (500 ms unless set otherwise)
    }
    // Each press and release says where it is: under Wine a button event without a place
    // can take the pointer's place from before the move, which the X server still has.
    if (!Send({MouseAt(at, MOUSEEVENTF_LEFTDOWN), MouseAt(at, MOUSEEVENTF_LEFTUP)})) {
      return false;
    }
  }
  // Left in the corner, the pointer puts no control in its hover look for a later picture.
  return MovePointer({0, 0});
}

INPUT Key(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

bool Press(WORD key) {
  return Send({Key(key, false), Key(key, true)});
}

// A character typed as the keyboard layout makes it: its key, with Shift where needed.
bool TypeCharacter(char c) {
  const SHORT scan = VkKeyScanA(c);
  if (scan == -1) {
    std::fprintf(stderr, "pavo-probe: no key makes '%c'\n", c);
    return false;
  }
  const WORD key = LOBYTE(scan);
  if ((HIBYTE(scan) & 1) == 0) {
    return Press(key);
  }
  return Send({Key(VK_SHIFT, false), Key(key, false), Key(key, true), Key(VK_SHIFT, true)});
}

// Input is taken in turn: the text is there once the box shows it.
bool Shows(HWND hwnd, const std::string& wanted) {
  std::string text;
  for (int waited = 0; waited <= 5000; waited += 20) {
    if (Text(hwnd, text) && text == wanted) {
      return true;
    }
    Sleep(20);
  }
  return false;
}

bool TypeInto(HWND control, const std::string& text) {
  // A combo box takes its text in an edit box of its own.
  HWND edit = FindWindowExA(control, nullptr, "Edit", nullptr);
  if (edit == nullptr) {
    edit = control;
  }
  std::string old;
  if (!Text(edit, old) || !ClickAt(Centre(edit), 1) || !Press(VK_END)) {
    return false;
  }
  for (std::size_t i = 0; i < old.size(); ++i) {
    if (!Press(VK_BACK)) {
      return false;
    }
  }
  if (!Shows(edit, "")) {
    std::fprintf(stderr, "pavo-probe: the box was not emptied\n");
    return false;
  }
  for (char c : text) {
    if (!TypeCharacter(c)) {
      return false;
    }
  }
  return Shows(edit, text);
}

// --- Pictures of what the screen shows ---

struct Picture {
  int width = 0, height = 0;
  std::vector<unsigned char> rows;  // bottom-up, 3 bytes a pixel (B, G, R), rows of Stride()
  int Stride() const { return (width * 3 + 3) & ~3; }
};

bool Grab(int x, int y, int width, int height, Picture& picture) {
  if (width <= 0 || height <= 0) {
    return false;
  }
  picture.width = width;
  picture.height = height;
  picture.rows.assign(static_cast<std::size_t>(picture.Stride()) * height, 0);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool good = false;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    good = BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY) != 0;
    GdiFlush();
    if (good) {
      std::memcpy(picture.rows.data(), bits, picture.rows.size());
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return good;
}

template <typename Value>
void Put(std::vector<unsigned char>& out, Value value) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
  out.insert(out.end(), bytes, bytes + sizeof value);
}

// A 24-bit BMP as any picture tool reads it (the header's fields are little-endian, as
// this program's are).
bool WriteBmp(const Picture& picture, const char* path) {
  std::vector<unsigned char> out;
  const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfSize = offset + static_cast<DWORD>(picture.rows.size());
  file.bfOffBits = offset;
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = picture.width;
  header.biHeight = picture.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(picture.rows.size());
  Put(out, file);
  Put(out, header);
  out.insert(out.end(), picture.rows.begin(), picture.rows.end());
  std::FILE* stream = std::fopen(path, "wb");
  if (stream == nullptr) {
    return false;
  }
  const bool written = std::fwrite(out.data(), 1, out.size(), stream) == out.size();
  return std::fclose(stream) == 0 && written;
}

void PrintColours(const Picture& picture) {
  std::map<unsigned long, int> counts;
  for (int row = 0; row < picture.height; ++row) {
    const unsigned char* pixel = &picture.rows[static_cast<std::size_t>(row) * picture.Stride()];
    for (int column = 0; column < picture.width; ++column, pixel += 3) {
      ++counts[(static_cast<unsigned long>(pixel[2]) << 16) | (pixel[1] << 8) | pixel[0]];
    }
  }
  std::vector<std::pair<int, unsigned long>> ranked;
  for (const auto& entry : counts) {
    ranked.emplace_back(-entry.second, entry.first);
  }
  std::sort(ranked.begin(), ranked.end());
  for (const auto& entry : ranked) {
    std::printf("%d #%06lX\n", -entry.first, entry.second);
  }
}

// --- Another process's state ---

// The process's current directory, read from its process parameters as the system keeps
// them (a 32-bit process's, as this probe and pavo.exe are).
bool CurrentDirectoryOf(HANDLE process, std::wstring& folder) {
  struct BasicInformation {
    LONG exitStatus;
    void* peb;
    ULONG_PTR affinity;
    LONG priority;
    ULONG_PTR processId;
    ULONG_PTR parentProcessId;
  };
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  BasicInformation basic{};
  if (query == nullptr || query(process, 0, &basic, sizeof basic, nullptr) != 0) {
    return false;
  }
  // PEB: the process parameters at 0x10; in them, the current directory's path (a
  // UNICODE_STRING: length in bytes, maximum, buffer) at 0x24.
  std::uint32_t parameters = 0;
  struct {
    USHORT length, maximum;
    std::uint32_t buffer;
  } path{};
  auto read = [process](std::uintptr_t at, void* into, SIZE_T size) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, reinterpret_cast<const void*>(at), into, size, &got) &&
           got == size;
  };
  if (!read(reinterpret_cast<std::uintptr_t>(basic.peb) + 0x10, &parameters, sizeof parameters) ||
      !read(parameters + 0x24, &path, sizeof path)) {
    return false;
  }
  folder.assign(path.length / sizeof(wchar_t), L'\0');
  return read(path.buffer, &folder[0], path.length);
}

std::string Narrow(const std::wstring& wide) {
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) {
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &narrow[0], size, nullptr, nullptr);
  }
  return narrow;
}

bool PrintProcess() {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, FormProcess());
  if (process == nullptr) {
    return false;
  }
  wchar_t image[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  std::wstring folder;
  const bool good =
      QueryFullProcessImageNameW(process, 0, image, &size) && CurrentDirectoryOf(process, folder);
  CloseHandle(process);
  if (good) {
    std::printf("%s\n%s\n", Narrow(image).c_str(), Narrow(folder).c_str());
  }
  return good;
}

std::wstring Wide(const std::string& narrow) {
  const int size = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, nullptr, 0);
  std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
  if (size > 1) {
    MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, &wide[0], size);
  }
  return wide;
}

// The shortcut through the shell's own object, as Explorer and the Start menu read it.
bool PrintLink(const char* path) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    return false;
  }
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  wchar_t target[MAX_PATH] = {};
  wchar_t folder[MAX_PATH] = {};
  wchar_t icon[MAX_PATH] = {};
  int iconIndex = 0;
  const bool read =
      SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(Wide(path).c_str(), STGM_READ)) &&
      SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, 0)) &&
      SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH)) &&
      SUCCEEDED(link->GetIconLocation(icon, MAX_PATH, &iconIndex));
  if (file != nullptr) {
    file->Release();
  }
  if (link != nullptr) {
    link->Release();
  }
  CoUninitialize();
  if (read) {
    std::printf("%s\n%s\n%s\n", Narrow(target).c_str(), Narrow(folder).c_str(),
                Narrow(icon).c_str());
  }
  return read;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int Usage() {
  std::fprintf(stderr,
               "usage: pavo-probe wait|where|text|until|box|click|type|colours|picture|hold|"
               "process|close|link|taskbar|layout|read|name|exit|load ... (see probe.cpp)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Screen pixels as they are, for the places, the pointer and the pictures alike: the
  // program itself is DPI-aware.
  SetProcessDPIAware();
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
    HWND control = Target(argv[2]);
    if (control == nullptr) {
      return 1;
    }
    const POINT centre = Centre(control);
    std::printf("%ld %ld\n", centre.x, centre.y);
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
    const HWND box = Box(std::atoi(argv[2]));
    if (box == nullptr) {
      return 1;
    }
    std::string caption;
    std::string message;
    Text(box, caption);
    Text(GetDlgItem(box, 0xFFFF), message);
    std::string buttons;
    for (HWND button : BoxButtons(box)) {
      std::string text;
      Text(button, text);
      buttons += (buttons.empty() ? "" : " ") + Shown(text);
    }
    std::printf("%s\n%s\n%s\n", caption.c_str(), buttons.c_str(), message.c_str());
    return 0;
  }
  if (command == "click" && (argc == 3 || argc == 4)) {
    HWND target = Target(argv[2]);
    const int count = argc == 4 ? std::atoi(argv[3]) : 1;
    if (target == nullptr) {
      std::fprintf(stderr, "pavo-probe: no %s to click\n", argv[2]);
      return 1;
    }
    return count >= 1 && ClickAt(Centre(target), count) ? 0 : 1;
  }
  if (command == "type" && argc == 4) {
    HWND control = Control(argv[2]);
    return control != nullptr && TypeInto(control, argv[3]) ? 0 : 1;
  }
  if ((command == "colours" && argc == 6) || (command == "picture" && argc == 7)) {
    const int x = std::atoi(argv[2]);
    const int y = std::atoi(argv[3]);
    int width = std::atoi(argv[4]);
    int height = std::atoi(argv[5]);
    if (width == 0 && height == 0) {  // the rest of the screen
      width = GetSystemMetrics(SM_CXSCREEN) - x;
      height = GetSystemMetrics(SM_CYSCREEN) - y;
    }
    Picture picture;
    if (!Grab(x, y, width, height, picture)) {
      std::fprintf(stderr, "pavo-probe: cannot copy that part of the screen\n");
      return 1;
    }
    if (command == "colours") {
      PrintColours(picture);
      return 0;
    }
    return WriteBmp(picture, argv[6]) ? 0 : 1;
  }
  if (command == "hold" && argc == 4) {
    const std::string mark = std::string(argv[2]) + ".held";
    HANDLE held = CreateFileA(argv[2], GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "pavo-probe: cannot open %s (error %lu)\n", argv[2], GetLastError());
      return 1;
    }
    HANDLE markFile =
        CreateFileA(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (markFile != INVALID_HANDLE_VALUE) {
      CloseHandle(markFile);
    }
    int waited = 0;
    while (Exists(mark) && waited <= std::atoi(argv[3])) {
      Sleep(20);
      waited += 20;
    }
    CloseHandle(held);
    return Exists(mark) ? 1 : 0;
  }
  if (command == "process" && argc == 2) {
    return PrintProcess() ? 0 : 1;
  }
  if (command == "close" && argc == 2) {
    HWND form = Form();
    return form != nullptr && PostMessageA(form, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (command == "link" && argc == 3) {
    return PrintLink(argv[2]) ? 0 : 1;
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
    EnumWindows(PrintTaskbarWindow, static_cast<LPARAM>(FormProcess()));
    return 0;
  }
  if (command == "name" && argc == 3) {
    std::printf("%s\n", AccessibleText(Control(argv[2]), &IAccessible::get_accName).c_str());
    return 0;
  }
  if (command == "exit" && argc == 3) {
    // Held before the click, the process can be asked for its status however soon it ends.
    HANDLE held =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, FormProcess());
    HWND button = Control("Button4");
    if (held == nullptr || button == nullptr || !ClickAt(Centre(button), 1)) {
      return 1;
    }
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
