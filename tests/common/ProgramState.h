// Tests that build more than one console window in a process start each from the program-wide
// state a fresh process has.
#pragma once

#include "app/Unit1.h"

#include <QCoreApplication>
#include <cstring>

inline void ResetProgramState() {
    InstrumentDevice = nullptr;
    ScaleDivisor = 0;
    std::memset(ExchangeBuffer, 0, sizeof ExchangeBuffer);
    std::memset(ReportBuffer, 0, sizeof ReportBuffer);
    SnapshotTriggerPos = 0;
    SnapshotArmed = false;
    SnapshotFolder.clear();
}

// Lets the event loop deliver what is pending: posted device changes, repaints, deferred calls.
inline void ProcessPendingEvents() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}
