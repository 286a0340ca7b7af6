// The window on the fake platform, in a temporary working directory.
#pragma once

#include "serial/platform_fake.h"
#include "tests/support/temp_directory.h"
#include "tests/ui/window_fixture.h"

class FormTest : public WindowTest {
 protected:
  fake::TempWorkingDirectory dir;
  fake::FakePlatform os;
  fake::ScopedPlatform use{os};
};
