// The device-setup walk: every interface of a class present now, in the system's order, with
// its device path when its detail could be read.
#pragma once

#include "hid/SetupApi.h"

#include <functional>
#include <string>

struct SetupWalkEntry {
    bool DetailRead = false; // false: the interface is there, but its path could not be had
    std::string Path;
    SP_DEVINFO_DATA DevInfo{};
};

// Calls Visit for each interface while the set is open (so that the set and DevInfo can be
// asked more). False, with nothing visited, when the set could not be had; the platform's
// GetLastError then says why.
bool WalkSetupEntries(const GUID& ClassGuid,
                      const std::function<void(HDEVINFO Set, const SetupWalkEntry& Entry)>& Visit);
