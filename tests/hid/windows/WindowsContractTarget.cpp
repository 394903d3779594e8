// The contract against the Windows entries under Wine. Wine serves no device that the test can
// plug, feed or pull, so only what needs none runs here: the libraries and their entries, the
// device-setup walk over whatever the machine has, a path that names nothing, the plain wait.
#include "../contract/PlatformContract.h"
#include "WindowsHidPlatform.h"

namespace {

class WindowsTarget : public ContractTarget {
public:
    const HidPlatform& Platform() override { return *WindowsHidPlatform(); }
    std::string NoDevice() override { return "Wine has no device the test can plug or pull"; }
    std::string NoReads() override { return "Wine has no device the test can make send reports"; }
    std::string NoFeatureReports() override { return NoDevice(); }
    std::string MissingPath() override {
        char dir[MAX_PATH];
        const DWORD n = GetTempPathA(MAX_PATH, dir);
        return std::string(dir, n) + "ormelix-no-such-device";
    }
};

const ContractPlatform kPlatforms[] = {
    {"Simulated", MakeSimulatedTarget},
    {"Windows", [] { return std::unique_ptr<ContractTarget>(std::make_unique<WindowsTarget>()); }},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Platforms, PlatformContract, testing::ValuesIn(kPlatforms), ContractName);
