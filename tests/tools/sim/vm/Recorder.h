// Keeps every record the USB device handed out and took in; filled on the serving thread, read
// on the checking one.
#pragma once

#include "tools/sim/UsbHidInstrument.h"

#include <mutex>
#include <vector>

class Recorder {
public:
    using Record = VirtualInstrument::Record;

    void Watch(UsbHidInstrument& Device) {
        Device.OnFetched = [this](const Record& R) {
            std::lock_guard lock(mutex_);
            fetched_.push_back(R);
        };
        Device.OnReceived = [this](const Record& R) {
            std::lock_guard lock(mutex_);
            received_.push_back(R);
        };
    }
    std::vector<Record> Fetched() const {
        std::lock_guard lock(mutex_);
        return fetched_;
    }
    std::vector<Record> Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Record> fetched_, received_;
};
