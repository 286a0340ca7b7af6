// What the window's tests need of the front end, in the framework's terms: the operator's
// clicks, letting events through, and what the screen shows of a control. One
// implementation per front end (screen_qt.cpp, screen_win32.cpp), so that the tests
// themselves are written once.
//
// A grab is what the window shows, not a fresh rendering: a control changed but not yet
// painted shows its old look. Grabs are compared with grabs of the same box on the same
// machine, which keeps fonts and anti-aliasing out of the comparison.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "framework/controls.h"

namespace screen {

// The line end the C library writes to text files.
#ifdef _WIN32
inline const std::string LineEnd = "\r\n";
#else
inline const std::string LineEnd = "\n";
#endif
inline std::string TextLines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) {
    text += line + LineEnd;
  }
  return text;
}

// Pixels row by row, each 0xRRGGBB.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  bool operator==(const Image& other) const {
    return width == other.width && height == other.height && pixels == other.pixels;
  }
  bool operator!=(const Image& other) const { return !(*this == other); }
};

// Shows the form and waits until the screen shows all of it.
void Show(TForm* form);
// The box of a control as the screen shows it now.
Image Shown(const TControl* control);
// Dispatches the events pending now, never waits for more.
void ProcessEvents();
// Queues a click as the operator's, or a close from the window's title bar: each is
// carried out when events are dispatched.
void PostClick(TButton* button);
void PostClose(TForm* form);
// Moves the keyboard focus to the control, as the operator's Tab key would; whether it has it.
void Focus(TControl* control);
bool HasFocus(const TControl* control);
// Scrolls the box by hand to the start or the end of its text.
void ScrollEdit(TEdit* edit, bool toEnd);
// Calls changed with the new text whenever the box's text changes.
void WatchText(TEdit* edit, std::function<void(const std::string&)> changed);
// Answers every message box of the program as the operator would, once it is on screen:
// answer gets the text the box shows and, for a box that asks to retry
// (TApplication::AskRetry), says whether to choose Retry (else Cancel); an error box is
// closed with its OK. An empty answer stops answering.
void AnswerBoxes(std::function<bool(const std::string& text)> answer);
// Inside an answer: whether the box being answered belongs to form, so that it stays over
// it and the form waits for it.
bool BoxBelongsTo(const TForm* form);
// The system's colour of text in boxes, as 0xRRGGBB.
std::uint32_t WindowTextColor();
// What a screen reader is told of the control through the system's accessibility interface
// (Qt's, Microsoft Active Accessibility): its name, and its value (a box's text).
std::string AccessibleName(const TControl* control);
std::string AccessibleValue(const TControl* control);

// Whether some pixel has exactly this colour: a glyph's fully covered pixels are drawn in
// the pen's colour itself, so a channel off by one shows.
inline bool Has(const Image& image, std::uint32_t rgb) {
  return std::find(image.pixels.begin(), image.pixels.end(), rgb) != image.pixels.end();
}

}  // namespace screen
