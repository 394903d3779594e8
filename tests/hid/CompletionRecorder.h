// What the overlapped reads' completion routine was last called with, on this thread: the read
// tests of the platform contract and of the Linux entries hand Record to ReadFileEx.
#pragma once

#include "hid/WinTypes.h"

namespace hidtest {

struct Completion {
    int Calls = 0;
    DWORD Error = 0xFFFF;
    DWORD Count = 0xFFFF;
};
inline thread_local Completion tDone;

inline void WINAPI Record(DWORD Error, DWORD Count, OVERLAPPED*) {
    ++tDone.Calls;
    tDone.Error = Error;
    tDone.Count = Count;
}

} // namespace hidtest
