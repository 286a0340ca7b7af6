// The process entry, callable in-process: start-up, message loop, exit code.
#pragma once

// Initializes the application, titles it, creates the main window and runs until that
// window is closed. Whatever escapes is shown by the application object. The window is
// destroyed when the application ends. Returns 0, or DisplayLostExitCode when the window
// was destroyed from outside; a display that goes away ends the process from inside Run
// with that code.
int PavoMain();
