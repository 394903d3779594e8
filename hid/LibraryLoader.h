// Run-time loading of the platform libraries and binding of their entries by name, through the
// installed platform.
#pragma once

#include "hid/HidPlatform.h"

// Loads FileName into Module unless Module already holds a library; the platform's error box for
// a missing file is suppressed during the load. True when Module holds a library afterwards.
bool OpenLibrary(HMODULE& Module, const char* FileName);
// Frees Module if set and clears it.
void CloseLibrary(HMODULE& Module);
// Looks Name up in Library. Ok is cleared when the lookup fails and never set again, so one flag
// can follow a whole table.
void* BindEntry(HMODULE Library, const char* Name, bool& Ok);

// Binds one table slot, casting the looked-up address to the slot's own type.
template <class Fn> void BindSlot(Fn& Slot, HMODULE Library, const char* Name, bool& Ok) {
    Slot = reinterpret_cast<Fn>(BindEntry(Library, Name, Ok));
}
