// DLLs that are no KnownDLLs, loaded from the system folder alone, and their functions looked
// up at run time. pavo.exe is meant to be started where it lands, often a Downloads folder,
// and Windows looks for other DLLs in the program's own folder first: a DLL of the same name
// that a web page once dropped there would run inside the program. For the Windows backend
// (the multimedia timer) and the Win32 front end (visual styles, accessibility).
#pragma once

#include <windows.h>

// The DLL from the system folder; null where it is missing.
HMODULE LoadSystemLibrary(const wchar_t* name);

// A function of a module loaded at run time, typed as its declaration; null where the
// module or the function is missing.
#define PAVO_SYSTEM_FUNCTION(module, name)                    \
  ((module) == nullptr ? nullptr                              \
                       : reinterpret_cast<decltype(&::name)>( \
                             reinterpret_cast<void (*)()>(GetProcAddress((module), #name))))
