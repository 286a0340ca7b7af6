// The window on the operating system's platform, its port box naming a real
// pseudo-terminal whose other side the test plays as the reader, in a temporary working
// directory of the terminal's own.
#pragma once

#include "tests/support/pseudo_terminal.h"
#include "tests/ui/window_fixture.h"

class LineTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    form->ComboBox1->SetText("07");
  }
  void TearDown() override {
    pty.Join();
    WindowTest::TearDown();
  }

  fake::PseudoTerminal pty{7};
};
