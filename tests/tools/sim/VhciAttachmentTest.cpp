// Port choice, the errors a user sees, and what the attachment writes into the controller's
// files, on a stand-in sysfs folder (the kernel side is the system test's).
#include "tools/sim/VhciAttachment.h"
#include "tools/sim/UsbHidInstrument.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// As vhci-hcd prints it: heading, high-speed ports, then super-speed ones.
const char* const StatusText = "hub port sta spd dev      sockfd local_busid\n"
                               "hs  0000 006 002 00010002 000003 1-1\n"
                               "hs  0001 004 000 00000000 000000 0-0\n"
                               "hs  0002 004 000 00000000 000000 0-0\n"
                               "ss  0015 004 000 00000000 000000 0-0\n";

TEST(VhciStatus, ParsesEveryPortRow) {
    const auto ports = vhci::ParseStatus(StatusText);
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].Hub, "hs");
    EXPECT_EQ(ports[0].Port, 0u);
    EXPECT_EQ(ports[0].State, 6u);
    EXPECT_EQ(ports[3].Hub, "ss");
    EXPECT_EQ(ports[3].Port, 15u);
    EXPECT_EQ(ports[3].State, 4u);
}

TEST(VhciStatus, FreeFullSpeedPortsAreTheFreeHighSpeedHubOnes) {
    struct Case {
        const char* Text;
        std::vector<uint32_t> Free;
    } cases[] = {
        {StatusText, {1, 2}},
        {"hub port sta spd dev      sockfd local_busid\n", {}},
        {"", {}},
        {"ss  0015 004 000 00000000 000000 0-0\n", {}},
        {"hs  0003 002 002 00010004 000005 1-3\nhs  0004 004 000 00000000 000000 0-0", {4}},
        {"hs  xx 004\nhs 0007\nhs 0008 004 junk\n", {8}},
    };
    for (const Case& c : cases) EXPECT_EQ(vhci::FreeFullSpeedPorts(c.Text), c.Free) << c.Text;
}

class FakeVhci : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ormelix-vhci-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        Write("status", StatusText);
        Write("attach", "");
        Write("detach", "");
    }
    void TearDown() override { fs::remove_all(dir); }

    void Write(const std::string& Name, const std::string& Text) {
        std::ofstream(dir / Name) << Text;
    }
    std::string Read(const std::string& Name) {
        std::ifstream in(dir / Name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir;
    UsbHidInstrument device{std::make_shared<VirtualInstrument>()};
};

TEST_F(FakeVhci, PreconditionsNameTheFixInOneLine) {
    EXPECT_EQ(vhci::AttachPrecondition((dir / "absent").string(), 0),
              "vhci-hcd is not loaded: run 'modprobe vhci-hcd' first");
    EXPECT_EQ(vhci::AttachPrecondition(dir.string(), 1000), vhci::NotRootMessage);
    EXPECT_EQ(vhci::AttachPrecondition(dir.string(), 0), "");
    VhciAttachment a(device, (dir / "absent").string());
    std::string error;
    EXPECT_FALSE(a.Attach(error));
    EXPECT_EQ(error, vhci::NotLoadedMessage);
    EXPECT_FALSE(a.Attached());
}

TEST_F(FakeVhci, AttachWritesPortSocketDevidAndFullSpeed) {
    if (::geteuid() != 0) GTEST_SKIP() << "attaching needs root";
    VhciAttachment a(device, dir.string());
    std::string error;
    ASSERT_TRUE(a.Attach(error)) << error;
    EXPECT_EQ(a.Port(), 1u);
    EXPECT_EQ(a.DevId(), (1u << 16) | 2u);
    std::smatch m;
    const std::string line = Read("attach");
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(1 (\d+) 65538 2)"))) << line;
    // No kernel took the socket here: the other end is closed, which ends the connection.
    EXPECT_TRUE(a.WaitEnded(2000));
    EXPECT_FALSE(a.Serving());
    EXPECT_EQ(a.Ending(), UsbIpServer::End::Closed);
    // A device the kernel let go is not detached again: its port may be another's by now.
    ASSERT_TRUE(a.Detach(error)) << error;
    EXPECT_EQ(Read("detach"), "");
    EXPECT_FALSE(a.Attached());
}

TEST_F(FakeVhci, AFullControllerIsAClearError) {
    if (::geteuid() != 0) GTEST_SKIP() << "attaching needs root";
    Write("status", "hub port sta spd dev      sockfd local_busid\n"
                    "hs  0000 006 002 00010002 000003 1-1\n"
                    "ss  0015 004 000 00000000 000000 0-0\n");
    VhciAttachment a(device, dir.string());
    std::string error;
    EXPECT_FALSE(a.Attach(error));
    EXPECT_EQ(error, "vhci-hcd has no free full-speed port");
}

TEST_F(FakeVhci, PortsOfTheOtherControllersCount) {
    if (::geteuid() != 0) GTEST_SKIP() << "attaching needs root";
    Write("status", "hub port sta spd dev      sockfd local_busid\n"
                    "hs  0000 006 002 00010002 000003 1-1\n");
    Write("status.1", "hs  0030 004 000 00000000 000000 0-0\n");
    VhciAttachment a(device, dir.string());
    std::string error;
    ASSERT_TRUE(a.Attach(error)) << error;
    EXPECT_EQ(a.Port(), 30u);
}

TEST_F(FakeVhci, ARefusedAttachSaysWhy) {
    if (::geteuid() != 0) GTEST_SKIP() << "attaching needs root";
    fs::remove(dir / "attach");
    fs::create_directory(dir / "attach"); // cannot be opened for writing
    VhciAttachment a(device, dir.string());
    std::string error;
    EXPECT_FALSE(a.Attach(error));
    EXPECT_EQ(error.rfind("attaching to vhci-hcd failed: ", 0), 0u) << error;
    EXPECT_FALSE(a.Attached());
}

} // namespace
