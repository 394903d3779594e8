// Test-only stand-in: the shared HID tests' event loop is the Windows one here.
#pragma once

#include "WinHidEventLoop.h"

using QtHidEventLoop = WinHidEventLoop;
