// Saves the main window as the platform shows it into a PNG file.
// Usage: pavo-screenshot [--start | --uid] FILE (run with QT_QPA_PLATFORM=offscreen on a
// machine without a display).
//   --start  first clicks "Start" with the window's port (COM1 in the current directory,
//            e.g. reader-sim's link), so the picture shows a real single read; without a
//            reading shown nothing is written.
//   --uid    first clicks "UID" there and stops the reading once Edit1 shows an
//            identifier; without one within 30 s nothing is written.
#include <QApplication>
#include <QLineEdit>
#include <QMetaObject>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "framework/application.h"
#include "framework/qt/native.h"
#include "ui/unit1.h"

namespace {

// Runs the UID loop until it has shown an identifier or the time is up; true when shown.
bool ReadOneIdentifier() {
  bool shown = false;
  bool stopPosted = false;
  auto stop = [&stopPosted] {
    if (!stopPosted && UidLoopRunning == 1) {
      stopPosted = true;
      QMetaObject::invokeMethod(NativeWidget(Form1->Button1), "click", Qt::QueuedConnection);
    }
  };
  const QMetaObject::Connection watch = QObject::connect(
      Native<QLineEdit>(Form1->Edit1), &QLineEdit::textChanged, [&](const QString& text) {
        if (!text.isEmpty()) {
          shown = true;
          stop();
        }
      });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, stop);
  guard.start(30000);
  Form1->Button1->Click();
  QObject::disconnect(watch);
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  const bool uid = argc == 3 && std::strcmp(argv[1], "--uid") == 0;
  const bool start = argc == 3 && std::strcmp(argv[1], "--start") == 0;
  if (argc != 2 && !uid && !start) {
    std::fprintf(stderr, "usage: %s [--start | --uid] FILE.png\n", argv[0]);
    return 2;
  }
  const char* file = argv[argc - 1];
  Application->Initialize();
  Application->SetTitle("pavo");
  Application->CreateForm(Form1);
  Form1->Show();
  Application->ProcessMessages();
  if (start) {
    Form1->Button2->Click();
  }
  if ((uid && !ReadOneIdentifier()) || (start && Form1->Edit1->Text().empty())) {
    std::fprintf(stderr, "%s: no reading was shown on port %s\n", argv[0],
                 Form1->ComboBox1->Text().c_str());
    Application->Finalize();
    return 1;
  }
  Application->ProcessMessages();
  const bool saved = NativeWidget(Form1)
                         ->screen()
                         ->grabWindow(NativeWidget(Form1)->winId())
                         .save(QString::fromLocal8Bit(file), "PNG");
  Application->Finalize();
  if (!saved) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], file);
    return 1;
  }
  return 0;
}
