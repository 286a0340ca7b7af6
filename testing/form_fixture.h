// The window on the fake platform, in a temporary working directory.
#pragma once

#include "testing/fake_platform.h"
#include "testing/temp_directory.h"
#include "testing/window_fixture.h"

class FormTest : public WindowTest {
 protected:
  fake::TempWorkingDirectory dir;
  fake::FakePlatform os;
  fake::ScopedPlatform use{os};
};
