// The stored layout of the main window.
#pragma once

#include "framework/form_layout.h"

const TFormDesc& Form1Layout();
