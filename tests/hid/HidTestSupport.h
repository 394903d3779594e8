// Shared fixture of the HID layer tests: a fresh simulated platform per test, the build's event
// loop (TestEventLoop.h), and checks that every test leaves nothing open or bound.
#pragma once

#include "hid/Hid.h"
#include "hid/JvHidControllerClass.h"
#include "hid/SetupApi.h"
#include "hid/sim/SimHidPlatform.h"
#include "tests/hid/TestEventLoop.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using hidsim::SimAccess;
using hidsim::SimDeviceSpec;
using hidsim::SimHidPlatform;

inline SimDeviceSpec MakeDevice(const std::string& Path, const std::u16string& Product = u"Widget",
                                const std::u16string& Manufacturer = u"Acme") {
    SimDeviceSpec desc;
    desc.Path = Path;
    desc.VendorID = 0x1234;
    desc.ProductID = 0x5678;
    desc.VersionNumber = 0x0100;
    desc.Product = Product;
    desc.Manufacturer = Manufacturer;
    desc.InputReportByteLength = 9;
    desc.FeatureReportByteLength = 255;
    return desc;
}

inline void Pump(int Rounds = 4) {
    for (int i = 0; i < Rounds; ++i) ProcessTestEvents();
}

// Pumps the event loop until Done() holds or Timeout passes; answers Done().
inline bool PumpUntil(const std::function<bool()>& Done,
                      std::chrono::milliseconds Timeout = std::chrono::milliseconds(3000)) {
    auto end = std::chrono::steady_clock::now() + Timeout;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        ProcessTestEvents(5);
    }
    return true;
}

class HidFixture : public ::testing::Test {
protected:
    void SetUp() override { SetHidPlatform(Sim.Platform()); }

    void TearDown() override {
        Pump();
        EXPECT_EQ(SetupApiBindCount(), 0);
        EXPECT_EQ(HidBindCount(), 0);
        EXPECT_FALSE(HidBound());
        EXPECT_FALSE(Sim.IsLoaded("SetupApi.dll"));
        EXPECT_FALSE(Sim.IsLoaded("HID.dll"));
        EXPECT_EQ(Sim.OpenHandleCount(), 0);
        EXPECT_EQ(Sim.PreparsedDataCount(), 0);
        EXPECT_EQ(Sim.DeviceInfoSetCount(), 0);
        EXPECT_EQ(Sim.MonitorCount(), 0);
        EXPECT_EQ(Sim.PendingReadCount(), 0);
        SetHidPlatform(nullptr);
    }

    // A controller on the Qt loop whose first posted change has been delivered.
    std::unique_ptr<TJvHidDeviceController> Started() {
        auto c = std::make_unique<TJvHidDeviceController>(&Loop);
        Pump();
        return c;
    }

    void PlugAll(std::initializer_list<const char*> Paths) {
        for (const char* p : Paths) ASSERT_NE(Sim.Plug(MakeDevice(p)), 0u);
    }

    SimHidPlatform Sim;
    TestEventLoop Loop;
};

// Handlers for tests: a recorder object whose member functions are bound to the events.
struct EventLog {
    std::vector<std::string> Events;
    TJvHidDeviceController* Controller = nullptr;

    static std::string Name(TJvHidDevice* D) { return D->PnPInfo().DevicePath; }
    void Arrival(TJvHidDevice* D) { Events.push_back("arrival " + Name(D)); }
    void Removal(TJvHidDevice* D) {
        Events.push_back("removal " + Name(D) + (D->IsEnumerated() ? "" : " (not enumerated)"));
    }
    void Unplug(TJvHidDevice* D) { Events.push_back("unplug " + Name(D)); }
    void Change(void*) { Events.push_back("change"); }

    void Attach(TJvHidDeviceController& C) {
        Controller = &C;
        C.SetOnArrival(TJvHidPlugEvent(this, &EventLog::Arrival));
        C.SetOnRemoval(TJvHidPlugEvent(this, &EventLog::Removal));
        C.SetOnDeviceUnplug(TJvHidPlugEvent(this, &EventLog::Unplug));
    }
    size_t Count(const std::string& E) const {
        return static_cast<size_t>(std::count(Events.begin(), Events.end(), E));
    }
};
