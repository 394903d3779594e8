// The device-setup walk the controller and ormelix-hidlist share: what it visits, in which order,
// and that the set goes whatever a visit does.
#include "hid/SetupWalk.h"
#include "tests/hid/HidTestSupport.h"

#include <cctype>
#include <stdexcept>
#include <vector>

namespace {

struct WalkCase {
    const char* Name;
    std::vector<bool> DetailReadable; // one device per entry, plugged as /dev/hidraw<i>
    bool VisitThrows = false;
};

void PrintTo(const WalkCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class SetupWalkTest : public HidFixture, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(SetupWalkTest, VisitsEveryInterfaceInOrderAndDestroysTheSet) {
    const WalkCase& c = GetParam();
    std::vector<DWORD> instances;
    for (size_t i = 0; i < c.DetailReadable.size(); ++i) {
        SimDeviceSpec desc = MakeDevice("/dev/hidraw" + std::to_string(i));
        desc.DetailReadable = c.DetailReadable[i];
        instances.push_back(Sim.Plug(desc));
    }
    TJvHidDeviceController controller(nullptr); // binds the libraries, scans nothing
    std::vector<SetupWalkEntry> visited;
    const auto visit = [&](HDEVINFO Set, const SetupWalkEntry& Entry) {
        EXPECT_NE(Set, nullptr);
        visited.push_back(Entry);
        if (c.VisitThrows) throw std::runtime_error("visit");
    };
    if (c.VisitThrows && !c.DetailReadable.empty()) {
        EXPECT_THROW(WalkSetupEntries(controller.HidGuid(), visit), std::runtime_error);
        EXPECT_EQ(visited.size(), 1u);
    } else {
        EXPECT_TRUE(WalkSetupEntries(controller.HidGuid(), visit));
        ASSERT_EQ(visited.size(), c.DetailReadable.size());
        for (size_t i = 0; i < visited.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(visited[i].DetailRead, c.DetailReadable[i]);
            if (c.DetailReadable[i]) {
                EXPECT_EQ(visited[i].Path, "/dev/hidraw" + std::to_string(i));
                EXPECT_EQ(visited[i].DevInfo.DevInst, instances[i]);
            } else {
                EXPECT_TRUE(visited[i].Path.empty());
            }
        }
    }
    EXPECT_EQ(Sim.DeviceInfoSetCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SetupWalkTest,
                         ::testing::Values(WalkCase{"none", {}}, WalkCase{"one", {true}},
                                           WalkCase{"several", {true, true, true}},
                                           WalkCase{"detail unreadable between readable",
                                                    {true, false, true}},
                                           WalkCase{"no detail readable", {false, false}},
                                           WalkCase{"visit throws", {true, true}, true}),
                         [](const auto& Info) {
                             std::string name = Info.param.Name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

} // namespace
