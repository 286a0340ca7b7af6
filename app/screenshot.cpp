// Renders the main window, as the program creates it, into a PNG file.
// Usage: pavo-screenshot FILE (run with QT_QPA_PLATFORM=offscreen on a machine without a
// display).
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "framework/application.h"
#include "ui/unit1.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE.png\n", argv[0]);
    return 2;
  }
  Application->Initialize();
  Application->SetTitle("pavo");
  Application->CreateForm(Form1);
  Form1->show();
  Application->ProcessMessages();
  const bool saved = Form1->grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
  Application->Finalize();
  if (!saved) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
