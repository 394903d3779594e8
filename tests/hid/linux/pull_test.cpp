// A pulled device, seen through the Linux entries and through the simulated platform: both must
// answer as Windows does, or the reader behaves differently on each.
#include "Descriptors.h"
#include "LinuxHidInternal.h"
#include "LinuxHidPlatform.h"
#include "SimHidPlatform.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

thread_local int tCalls = 0;
thread_local DWORD tError = 0;
void WINAPI Record(DWORD Error, DWORD, OVERLAPPED*) {
    ++tCalls;
    tError = Error;
}

// One device on one platform, with a read handle open on it.
struct Target {
    virtual ~Target() = default;
    virtual const HidPlatform& P() = 0;
    virtual void Pull() = 0;
    HANDLE Handle = INVALID_HANDLE_VALUE;
};

// A socket stands in for the hidraw node; closing its far end is the pull.
struct LinuxTarget : Target {
    LinuxTarget() {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return;
        Far = pair[1];
        Handle = hidlinux::AdoptDescriptor(pair[0], GENERIC_READ, 0x03, descriptors::kMouse);
    }
    ~LinuxTarget() override {
        P().CloseHandle(Handle);
        if (Far >= 0) ::close(Far);
    }
    const HidPlatform& P() override { return *LinuxHidPlatform(); }
    void Pull() override {
        ::close(Far);
        Far = -1;
    }
    int Far = -1;
};

struct SimTarget : Target {
    SimTarget() {
        hidsim::SimDeviceSpec desc;
        desc.Path = "/dev/pulled";
        desc.InputReportByteLength = 4;
        Sim.Plug(desc);
        Handle = P().CreateFileA("/dev/pulled", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    ~SimTarget() override { P().CloseHandle(Handle); }
    const HidPlatform& P() override { return *Sim.Platform(); }
    void Pull() override { Sim.Unplug("/dev/pulled"); }
    hidsim::SimHidPlatform Sim;
};

struct PullCase {
    const char* Name;
    std::function<std::unique_ptr<Target>()> Make;
};
const PullCase kPullCases[] = {
    {"Linux", [] { return std::make_unique<LinuxTarget>(); }},
    {"Simulated", [] { return std::make_unique<SimTarget>(); }},
};

class PulledDevice : public testing::TestWithParam<PullCase> {};

TEST_P(PulledDevice, EndsThePendingReadAndRefusesTheNext) {
    std::unique_ptr<Target> t = GetParam().Make();
    ASSERT_NE(t->Handle, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> buffer(4);
    OVERLAPPED block{};
    tCalls = 0;
    ASSERT_TRUE(t->P().ReadFileEx(t->Handle, buffer.data(), 4, &block, Record));
    t->Pull();
    EXPECT_EQ(t->P().SleepEx(2000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(tCalls, 1);
    EXPECT_NE(tError, 0u);
    DWORD count = 7;
    EXPECT_FALSE(t->P().GetOverlappedResult(t->Handle, &block, &count, FALSE));
    EXPECT_EQ(count, 0u);
    // Refused at the start, so the reader reports it instead of spinning on reads that fail.
    EXPECT_FALSE(t->P().ReadFileEx(t->Handle, buffer.data(), 4, &block, Record));
    EXPECT_EQ(t->P().GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

INSTANTIATE_TEST_SUITE_P(Platforms, PulledDevice, testing::ValuesIn(kPullCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
