#include "ui/unit1_layout.h"

// Pixels at 96 dpi; controls relative to the client area, the window to the screen.
// Components in creation order; tab order in its own column. The boxes carry no caption,
// so each has a name of its own for screen readers; the buttons are known by their captions.
const TFormDesc& Form1Layout() {
  static const TFormDesc layout = {
      "Form1",
      "TForm1",
      "Form1",
      147,
      286,
      353,
      257,
      clBtnFace,
      {"MS Sans Serif", -11, clWindowText},
      {
          // name, class, left, top, width, height, text, tab order, own font, items, on click,
          // accessible name
          {"Button1", "TButton", 256, 24, 83, 57, "UID", 0, {}, {}, "Button1Click", ""},
          {"Button4", "TButton", 184, 160, 145, 33, "exit", 1, {}, {}, "Button4Click", ""},
          {"Edit1", "TEdit", 32, 40, 209, 21, "Edit1", 2, {}, {}, "", "Tag"},
          {"ComboBox1", "TComboBox", 56, 8, 57, 21, "01", 3, {}, {"01", "02"}, "", "Port"},
          {"Edit2", "TEdit", 32, 72, 121, 21, "Edit2", 4, {}, {}, "", "Date"},
          {"Edit3", "TEdit", 32, 96, 121, 21, "Edit3", 5, {}, {}, "", "Time"},
          {"Button2",
           "TButton",
           248,
           96,
           75,
           25,
           "Start",
           6,
           TFont{"MS Sans Serif", -13, clWindowText},
           {},
           "Button2Click",
           ""},
          {"Label1", "TLabel", 192, 104, 29, 13, "Single", -1, {}, {}, "", ""},
      }};
  return layout;
}
