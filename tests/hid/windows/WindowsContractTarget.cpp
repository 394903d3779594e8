// The contract against the Windows entries under Wine. Wine serves no HID device that a test
// can plug, feed or pull, so the device cases do not run here; the read cases run on a message
// pipe standing in for the device's input reports, which exercises the system's own overlapped
// read, alertable wait, cancel and close through the platform table. A pipe has no report
// length and cannot be pulled like a device, so those two cases do not run either.
#include "hid/windows/WindowsHidPlatform.h"
#include "tests/hid/contract/PlatformContract.h"

#include <atomic>
#include <string>

namespace {

class WindowsTarget : public ContractTarget {
public:
    WindowsTarget() {
        static std::atomic<int> serial{0};
        Pipe = "\\\\.\\pipe\\ormelix-contract-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(++serial);
        Server = CreateNamedPipeA(Pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_MESSAGE | PIPE_WAIT,
                                  1, 4096, 4096, 0, nullptr);
    }
    ~WindowsTarget() override {
        if (Server != INVALID_HANDLE_VALUE) CloseHandle(Server);
    }
    const HidPlatform& Platform() override { return *WindowsHidPlatform(); }
    std::string NoDevice() override { return "Wine has no HID device the test can plug or pull"; }
    std::string NoFeatureReports() override { return NoDevice(); }
    std::string NoReads() override {
        return Server == INVALID_HANDLE_VALUE ? "no pipe to stand in for the device" : "";
    }
    std::string NoPull() override { return "a pipe is not pulled like a device"; }
    std::string NoReportLength() override { return "a pipe has no input report length"; }
    // The pipe ends a read whose handle is closed as broken, where a device's is aborted.
    DWORD ClosedReadError() override { return ERROR_BROKEN_PIPE; }
    std::string MissingPath() override {
        char dir[MAX_PATH];
        const DWORD n = GetTempPathA(MAX_PATH, dir);
        return std::string(dir, n) + "ormelix-no-such-device";
    }
    HANDLE OpenReadHandle() override {
        return Platform().CreateFileA(Pipe.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    }
    void SendInput(const std::vector<uint8_t>& Data) override {
        std::vector<uint8_t> report{0}; // as the HID class driver hands it: report ID 0 first
        report.insert(report.end(), Data.begin(), Data.end());
        DWORD written = 0;
        ASSERT_TRUE(
            WriteFile(Server, report.data(), static_cast<DWORD>(report.size()), &written, nullptr));
    }

private:
    std::string Pipe;
    HANDLE Server = INVALID_HANDLE_VALUE;
};

const ContractPlatform kPlatforms[] = {
    {"Simulated", MakeSimulatedTarget},
    {"Windows", [] { return std::unique_ptr<ContractTarget>(std::make_unique<WindowsTarget>()); }},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Platforms, PlatformContract, testing::ValuesIn(kPlatforms), ContractName);
