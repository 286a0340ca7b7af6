#include "app/entry.h"

#include "framework/application.h"
#include "framework/sysutils.h"
#include "ui/unit1.h"

int PavoMain() {
  try {
    Application->Initialize();
    Application->SetOnDisplayLost(ReleaseUidLoopPort);
    Application->SetTitle("pavo");
    Application->CreateForm(Form1);
    Application->Run();
  } catch (const Exception& exception) {
    Application->ShowException(exception);
  } catch (...) {
    Application->ShowException(Exception(""));
  }
  const bool windowLost = Application->WindowLost();
  Application->Finalize();
  return windowLost ? TApplication::DisplayLostExitCode : 0;
}
