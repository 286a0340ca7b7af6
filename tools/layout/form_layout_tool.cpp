// form-layout: prints where the main window's stored layout puts a control, for scripts
// that click the Linux window from outside (the Windows probe reads the same table).
//   form-layout            every control: name left top width height, client coordinates
//   form-layout NAME       the middle of control NAME: x y
//   form-layout --form     the window's place and client size: left top width height
#include <cstdio>
#include <string>

#include "ui/unit1_layout.h"

int main(int argc, char** argv) {
  const TFormDesc& layout = Form1Layout();
  if (argc > 2) {
    std::fputs("usage: form-layout [NAME | --form]\n", stderr);
    return 2;
  }
  if (argc == 2 && std::string(argv[1]) == "--form") {
    std::printf("%d %d %d %d\n", layout.left, layout.top, layout.width, layout.height);
    return 0;
  }
  for (const TComponentDesc& c : layout.components) {
    if (argc == 1) {
      std::printf("%s %d %d %d %d\n", c.name.c_str(), c.left, c.top, c.width, c.height);
    } else if (c.name == argv[1]) {
      std::printf("%d %d\n", c.left + c.width / 2, c.top + c.height / 2);
      return 0;
    }
  }
  if (argc == 2) {
    std::fprintf(stderr, "form-layout: no control '%s'\n", argv[1]);
    return 1;
  }
  return 0;
}
