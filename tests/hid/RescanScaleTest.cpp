// The controller's rescan among hundreds of interfaces: the events of one rescan come in the
// order the rescan defines (for each vanished device from the end of the list its unplug and
// removal, then the arrivals in scan order, then one change), the devices still present keep
// their objects and positions, and a held device that was pulled is reported again at every
// later rescan.
#include "hid/JvHidControllerClass.h"
#include "hid/sim/SimHidPlatform.h"

#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

hidsim::SimDeviceSpec Interface(const std::string& Path) {
    hidsim::SimDeviceSpec desc;
    desc.Path = Path;
    desc.VendorID = 0x1000;
    desc.Manufacturer = u"Bench";
    desc.Product = u"Interface";
    desc.FeatureReportByteLength = 8;
    return desc;
}

std::string PathName(int N) {
    return "/dev/hidraw" + std::to_string(N);
}

struct Recorder {
    std::vector<std::string> events;
    void Unplug(TJvHidDevice* D) { events.push_back("unplug " + D->PnPInfo().DevicePath); }
    void Removal(TJvHidDevice* D) { events.push_back("removal " + D->PnPInfo().DevicePath); }
    void Arrival(TJvHidDevice* D) { events.push_back("arrival " + D->PnPInfo().DevicePath); }
    void Change(void*) { events.push_back("change"); }
};

class RescanScaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < kCount; ++i) ASSERT_NE(sim.Plug(Interface(PathName(i))), 0u);
        SetHidPlatform(sim.Platform());
        controller = std::make_unique<TJvHidDeviceController>(nullptr);
        controller->DeviceChange();
        ASSERT_EQ(controller->Count(), kCount);
        controller->SetOnDeviceUnplug(TJvHidPlugEvent(&rec, &Recorder::Unplug));
        controller->SetOnRemoval(TJvHidPlugEvent(&rec, &Recorder::Removal));
        controller->SetOnArrival(TJvHidPlugEvent(&rec, &Recorder::Arrival));
        controller->SetOnDeviceChange(TJvNotifyEvent(&rec, &Recorder::Change)); // rescans once
        rec.events.clear();
    }
    void TearDown() override {
        controller.reset();
        for (TJvHidDevice* d : held) delete d;
        EXPECT_EQ(sim.OpenHandleCount(), 0);
        SetHidPlatform(nullptr);
    }

    static constexpr int kCount = 300;
    hidsim::SimHidPlatform sim;
    std::unique_ptr<TJvHidDeviceController> controller;
    Recorder rec;
    std::vector<TJvHidDevice*> held;
};

TEST_F(RescanScaleTest, EventsAndListFollowTheRescanOrder) {
    const std::vector<TJvHidDevice*> before = controller->DeviceList();
    std::vector<std::string> beforePaths; // the pulled objects are gone after the rescan
    for (const TJvHidDevice* d : before) beforePaths.push_back(d->PnPInfo().DevicePath);
    std::set<std::string> pulled = {PathName(0), PathName(kCount - 1)};
    for (int i = 5; i < kCount; i += 7) pulled.insert(PathName(i));
    for (const std::string& p : pulled) ASSERT_TRUE(sim.Unplug(p));
    const std::vector<std::string> added = {"/dev/hidraw-new-b", "/dev/hidraw-new-a",
                                            PathName(5)}; // a path used before, a new instance
    for (const std::string& p : added) ASSERT_NE(sim.Plug(Interface(p)), 0u);

    controller->DeviceChange();

    std::vector<std::string> expected;
    for (size_t i = beforePaths.size(); i-- > 0;) {
        const std::string& p = beforePaths[i];
        if (pulled.count(p)) {
            expected.push_back("unplug " + p);
            expected.push_back("removal " + p);
        }
    }
    for (const std::string& p : added) expected.push_back("arrival " + p);
    expected.push_back("change");
    EXPECT_EQ(rec.events, expected);

    // Survivors keep their objects and order; the arrivals follow in scan order.
    std::vector<TJvHidDevice*> survivors;
    for (size_t i = 0; i < before.size(); ++i)
        if (!pulled.count(beforePaths[i])) survivors.push_back(before[i]);
    ASSERT_EQ(controller->Count(), static_cast<int>(survivors.size() + added.size()));
    for (size_t i = 0; i < survivors.size(); ++i)
        EXPECT_EQ(controller->Items(int(i)), survivors[i]);
    for (size_t i = 0; i < added.size(); ++i)
        EXPECT_EQ(controller->Items(int(survivors.size() + i))->PnPInfo().DevicePath, added[i]);

    // Nothing changed since: no event at all.
    rec.events.clear();
    controller->DeviceChange();
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(controller->UnpluggedCount(), 0);
}

TEST_F(RescanScaleTest, PulledHeldDeviceStaysListedAndIsReportedAtEveryRescan) {
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(controller->CheckOutByIndex(d, 150));
    held.push_back(d);
    const std::string path = d->PnPInfo().DevicePath;
    ASSERT_TRUE(sim.Unplug(path));
    controller->DeviceChange();
    EXPECT_EQ(rec.events,
              (std::vector<std::string>{"unplug " + path, "removal " + path, "change"}));
    EXPECT_EQ(controller->Items(150), d);
    EXPECT_FALSE(d->IsPluggedIn());

    // Plugged in again: a new object at the end; the held one is reported gone again.
    rec.events.clear();
    ASSERT_NE(sim.Plug(Interface(path)), 0u);
    controller->DeviceChange();
    EXPECT_EQ(rec.events,
              (std::vector<std::string>{"removal " + path, "arrival " + path, "change"}));
    EXPECT_EQ(controller->Count(), kCount + 1);
    EXPECT_NE(controller->Items(kCount), d);
    EXPECT_TRUE(controller->Items(kCount)->IsPluggedIn());
    EXPECT_EQ(controller->UnpluggedCount(), 1);
    EXPECT_EQ(controller->CheckedOutCount(), 0);
}

} // namespace
