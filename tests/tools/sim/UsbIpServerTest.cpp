// The USB/IP server and the instrument's USB device model, driven through a socketpair with
// requests written out by hand, replies checked byte for byte.
#include "tools/sim/UsbIpServer.h"
#include "tools/sim/UsbHidInstrument.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using VI = VirtualInstrument;

void PutBe32(Bytes& B, uint32_t V) {
    for (int shift = 24; shift >= 0; shift -= 8) B.push_back(static_cast<uint8_t>(V >> shift));
}

Bytes SetupPacketBytes(uint8_t Type, uint8_t Request, uint16_t Value, uint16_t Index,
                       uint16_t Length) {
    return {Type,
            Request,
            uint8_t(Value & 0xFF),
            uint8_t(Value >> 8),
            uint8_t(Index & 0xFF),
            uint8_t(Index >> 8),
            uint8_t(Length & 0xFF),
            uint8_t(Length >> 8)};
}

// CMD_SUBMIT as vhci-hcd writes it: devid 0x00010002, no isochronous packets.
Bytes Submit(uint32_t Seq, uint32_t Direction, uint32_t Endpoint, int32_t Length,
             const Bytes& SetupBytes = Bytes(8, 0), int32_t Packets = 0) {
    Bytes b;
    PutBe32(b, 1);
    PutBe32(b, Seq);
    PutBe32(b, 0x00010002);
    PutBe32(b, Direction);
    PutBe32(b, Endpoint);
    PutBe32(b, 0); // transfer flags
    PutBe32(b, uint32_t(Length));
    PutBe32(b, 0); // start frame
    PutBe32(b, uint32_t(Packets));
    PutBe32(b, 0); // interval
    b.insert(b.end(), SetupBytes.begin(), SetupBytes.end());
    return b;
}

Bytes ControlIn(uint32_t Seq, const Bytes& SetupBytes) {
    const uint16_t length = uint16_t(SetupBytes[6] | (SetupBytes[7] << 8));
    return Submit(Seq, 1, 0, length, SetupBytes);
}

Bytes Unlink(uint32_t Seq, uint32_t Victim) {
    Bytes b;
    PutBe32(b, 2);
    PutBe32(b, Seq);
    PutBe32(b, 0x00010002);
    PutBe32(b, 0);
    PutBe32(b, 0);
    PutBe32(b, Victim);
    b.resize(48, 0);
    return b;
}

Bytes RetSubmit(uint32_t Seq, int32_t Status, int32_t Actual, const Bytes& Data = {}) {
    Bytes b;
    PutBe32(b, 3);
    PutBe32(b, Seq);
    b.resize(20, 0); // devid, direction, endpoint
    PutBe32(b, uint32_t(Status));
    PutBe32(b, uint32_t(Actual));
    b.resize(48, 0); // start frame, packets, errors, padding
    b.insert(b.end(), Data.begin(), Data.end());
    return b;
}

Bytes RetUnlink(uint32_t Seq, int32_t Status) {
    Bytes b;
    PutBe32(b, 4);
    PutBe32(b, Seq);
    b.resize(20, 0);
    PutBe32(b, uint32_t(Status));
    b.resize(48, 0);
    return b;
}

Bytes Utf16(const std::string& Ascii) {
    Bytes b{uint8_t(2 + 2 * Ascii.size()), 0x03};
    for (char c : Ascii) {
        b.push_back(uint8_t(c));
        b.push_back(0);
    }
    return b;
}

// A server on one end of a socketpair, the test on the other.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        client = fds[0];
        device.OnFetched = [this](const VI::Record& R) { fetched.push_back(R); };
        device.OnReceived = [this](const VI::Record& R) { received.push_back(R); };
        device.Plugged();
        server = std::make_unique<UsbIpServer>(device, fds[1]);
        thread = std::thread([this] { end = server->Serve(); });
    }
    void TearDown() override {
        if (thread.joinable()) {
            server->Stop();
            thread.join();
        }
        if (client >= 0) ::close(client);
    }

    void Send(const Bytes& B) {
        ASSERT_EQ(::send(client, B.data(), B.size(), MSG_NOSIGNAL), ssize_t(B.size()));
    }
    // Up to N bytes, fewer when the stream ends or stays silent for Ms.
    Bytes Receive(size_t N, int Ms = 2000) {
        Bytes got;
        while (got.size() < N) {
            pollfd p{client, POLLIN, 0};
            if (::poll(&p, 1, Ms) <= 0) break;
            uint8_t buffer[4096];
            const ssize_t n = ::read(client, buffer, std::min(sizeof buffer, N - got.size()));
            if (n <= 0) break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
    // The reply to one request, of the expected reply's length.
    Bytes Exchange(const Bytes& Request, size_t ReplyLength) {
        Send(Request);
        return Receive(ReplyLength);
    }
    UsbIpServer::End Finish() {
        thread.join();
        return *end;
    }

    std::shared_ptr<VI> instrument = std::make_shared<VI>();
    UsbHidInstrument device{instrument};
    std::vector<VI::Record> fetched, received;
    int client = -1;
    std::unique_ptr<UsbIpServer> server;
    std::thread thread;
    std::optional<UsbIpServer::End> end;
};

TEST_F(ServerTest, DeviceDescriptorNamesTheInstrumentAtFullSpeedPacketSize) {
    const Bytes expected = RetSubmit(7, 0, 18,
                                     {0x12, 0x01, 0x10, 0x01, 0x00, 0x00, 0x00, 0x40, 0xC0, 0x16,
                                      0xDF, 0x05, 0x00, 0x01, 0x01, 0x02, 0x00, 0x01});
    EXPECT_EQ(Exchange(ControlIn(7, SetupPacketBytes(0x80, 6, 0x0100, 0, 64)), expected.size()),
              expected);
    // The first read of a new device asks for eight bytes only.
    const Bytes first8 = RetSubmit(8, 0, 8, {0x12, 0x01, 0x10, 0x01, 0x00, 0x00, 0x00, 0x40});
    EXPECT_EQ(Exchange(ControlIn(8, SetupPacketBytes(0x80, 6, 0x0100, 0, 8)), first8.size()),
              first8);
}

TEST_F(ServerTest, ConfigurationDescriptorHasOneHidInterfaceWithInterruptIn) {
    const Bytes report = instrument::ReportDescriptor();
    const Bytes config = {0x09, 0x02, 0x22, 0x00, 0x01, 0x01, 0x00, 0x80,
                          0x32, // configuration
                          0x09, 0x04, 0x00, 0x00, 0x01, 0x03, 0x00, 0x00,
                          0x00, // interface
                          0x09, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, uint8_t(report.size()),
                          0x00,                                      // HID
                          0x07, 0x05, 0x81, 0x03, 0x08, 0x00, 0x0A}; // endpoint
    const Bytes head = RetSubmit(1, 0, 9, Bytes(config.begin(), config.begin() + 9));
    EXPECT_EQ(Exchange(ControlIn(1, SetupPacketBytes(0x80, 6, 0x0200, 0, 9)), head.size()), head);
    const Bytes whole = RetSubmit(2, 0, 34, config);
    EXPECT_EQ(Exchange(ControlIn(2, SetupPacketBytes(0x80, 6, 0x0200, 0, 255)), whole.size()),
              whole);
}

struct DescriptorCase {
    const char* Name;
    uint8_t Type;
    uint16_t Value;
    uint16_t Index;
    uint16_t Length;
    Bytes Reply; // empty: stalled
};

// Names the case in test listings.
void PrintTo(const DescriptorCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class DescriptorTest : public ServerTest, public ::testing::WithParamInterface<DescriptorCase> {};

TEST_P(DescriptorTest, AnswersOrStalls) {
    const DescriptorCase& c = GetParam();
    const Bytes expected =
        c.Reply.empty() ? RetSubmit(5, -32, 0) : RetSubmit(5, 0, int32_t(c.Reply.size()), c.Reply);
    EXPECT_EQ(Exchange(ControlIn(5, SetupPacketBytes(c.Type, 6, c.Value, c.Index, c.Length)),
                       expected.size()),
              expected);
    EXPECT_TRUE(Receive(1, 50).empty()) << "nothing more than the one reply";
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, DescriptorTest,
    ::testing::Values(DescriptorCase{"Languages", 0x80, 0x0300, 0, 255, {0x04, 0x03, 0x09, 0x04}},
                      DescriptorCase{"Manufacturer", 0x80, 0x0301, 0x0409, 255, Utf16("Bramlo-kt")},
                      DescriptorCase{"Product", 0x80, 0x0302, 0x0409, 255, Utf16("Ormelix")},
                      DescriptorCase{"ProductLengthFirst", 0x80, 0x0302, 0x0409, 2, {16, 0x03}},
                      DescriptorCase{"NoSerialNumber", 0x80, 0x0303, 0x0409, 255, {}},
                      DescriptorCase{"SecondConfiguration", 0x80, 0x0201, 0, 255, {}},
                      DescriptorCase{"DeviceQualifier", 0x80, 0x0600, 0, 10, {}},
                      DescriptorCase{"HidClass",
                                     0x81,
                                     0x2100,
                                     0,
                                     9,
                                     {0x09, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22,
                                      uint8_t(instrument::ReportDescriptor().size()), 0x00}},
                      DescriptorCase{"Report", 0x81, 0x2200, 0, 255,
                                     instrument::ReportDescriptor()},
                      DescriptorCase{"ReportOfAnotherInterface", 0x81, 0x2200, 1, 255, {}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ServerTest, ConfigurationIdleAndProtocolAreKept) {
    EXPECT_EQ(Exchange(Submit(1, 0, 0, 0, SetupPacketBytes(0x00, 9, 1, 0, 0)), 48),
              RetSubmit(1, 0, 0));
    EXPECT_EQ(Exchange(ControlIn(2, SetupPacketBytes(0x80, 8, 0, 0, 1)), 49),
              RetSubmit(2, 0, 1, {1}));
    EXPECT_EQ(Exchange(Submit(3, 0, 0, 0, SetupPacketBytes(0x00, 9, 2, 0, 0)), 48),
              RetSubmit(3, -32, 0));
    EXPECT_EQ(Exchange(Submit(4, 0, 0, 0, SetupPacketBytes(0x21, 0x0A, 0x0400, 0, 0)), 48),
              RetSubmit(4, 0, 0));
    EXPECT_EQ(Exchange(ControlIn(5, SetupPacketBytes(0xA1, 0x02, 0, 0, 1)), 49),
              RetSubmit(5, 0, 1, {4}));
    EXPECT_EQ(Exchange(Submit(6, 0, 0, 0, SetupPacketBytes(0x21, 0x0B, 0, 0, 0)), 48),
              RetSubmit(6, 0, 0));
    EXPECT_EQ(Exchange(ControlIn(7, SetupPacketBytes(0xA1, 0x03, 0, 0, 1)), 49),
              RetSubmit(7, 0, 1, {0}));
    EXPECT_EQ(Exchange(Submit(8, 0, 0, 0, SetupPacketBytes(0x21, 0x0B, 2, 0, 0)), 48),
              RetSubmit(8, -32, 0));
    EXPECT_EQ(device.Configuration(), 1);
    EXPECT_EQ(device.IdleRate(), 4);
    EXPECT_EQ(device.Protocol(), 0);
    device.Plugged();
    EXPECT_EQ(device.Configuration(), 0);
}

TEST_F(ServerTest, GetReportReturnsTheInstrumentsRecords) {
    VI twin; // same start, same sequence of records
    for (uint32_t seq = 1; seq <= 3; ++seq) {
        const VI::Record r = twin.Fetch();
        const Bytes expected = RetSubmit(seq, 0, 254, Bytes(r.begin(), r.end()));
        EXPECT_EQ(
            Exchange(ControlIn(seq, SetupPacketBytes(0xA1, 0x01, 0x0300, 0, 254)), expected.size()),
            expected);
    }
    ASSERT_EQ(fetched.size(), 3u);
    EXPECT_EQ(instrument->Snapshot().Fetches, 3u);
}

TEST_F(ServerTest, SetReportHandsTheRecordToTheInstrument) {
    Bytes record(254);
    for (size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i * 7 + 3);
    record[instrument::PollPeriod] = 77;
    record[instrument::CommandCode] = 2; // save the poll period
    Bytes request = Submit(9, 0, 0, 254, SetupPacketBytes(0x21, 0x09, 0x0300, 0, 254));
    request.insert(request.end(), record.begin(), record.end());
    EXPECT_EQ(Exchange(request, 48), RetSubmit(9, 0, 254));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(Bytes(received[0].begin(), received[0].end()), record);
    const VI::State s = instrument->Snapshot();
    EXPECT_EQ(s.Commands, 1u);
    EXPECT_EQ(s.LastCommand, 2);
    EXPECT_EQ(s.StoredPollPeriod, 77);
}

struct ReportCase {
    const char* Name;
    uint8_t Type;
    uint8_t Request;
    uint16_t Value;
    uint16_t Index;
    uint16_t Length;
};

// Names the case in test listings.
void PrintTo(const ReportCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class RefusedReportTest : public ServerTest, public ::testing::WithParamInterface<ReportCase> {};

// Reports the instrument does not have are stalled and never reach it.
TEST_P(RefusedReportTest, StallsWithoutTouchingTheInstrument) {
    const ReportCase& c = GetParam();
    const bool in = (c.Type & 0x80) != 0;
    Bytes request = Submit(3, in ? 1 : 0, 0, c.Length,
                           SetupPacketBytes(c.Type, c.Request, c.Value, c.Index, c.Length));
    if (!in) request.resize(request.size() + c.Length, 0x55);
    EXPECT_EQ(Exchange(request, 48), RetSubmit(3, -32, 0));
    EXPECT_TRUE(Receive(1, 50).empty());
    const VI::State s = instrument->Snapshot();
    EXPECT_EQ(s.Fetches, 0u);
    EXPECT_EQ(s.Commands, 0u);
    // And the stream is still in step.
    EXPECT_EQ(Exchange(ControlIn(4, SetupPacketBytes(0xA1, 0x02, 0, 0, 1)), 49),
              RetSubmit(4, 0, 1, {0}));
}

INSTANTIATE_TEST_SUITE_P(
    Reports, RefusedReportTest,
    ::testing::Values(ReportCase{"GetInput", 0xA1, 0x01, 0x0100, 0, 254},
                      ReportCase{"GetNumberedFeature", 0xA1, 0x01, 0x0301, 0, 254},
                      ReportCase{"GetOnOtherInterface", 0xA1, 0x01, 0x0300, 1, 254},
                      ReportCase{"SetShortRecord", 0x21, 0x09, 0x0300, 0, 253},
                      ReportCase{"SetLongRecord", 0x21, 0x09, 0x0300, 0, 255},
                      ReportCase{"SetOutput", 0x21, 0x09, 0x0200, 0, 254},
                      ReportCase{"VendorRequest", 0xC0, 0x01, 0, 0, 4},
                      ReportCase{"StandardOutWithData", 0x00, 0x09, 1, 0, 4}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ServerTest, InterruptInIsHeldUntilUnlinked) {
    Send(Submit(10, 1, 1, 8));
    EXPECT_TRUE(Receive(1, 100).empty()) << "an interrupt IN request waits";
    // Control requests are answered meanwhile.
    EXPECT_EQ(Exchange(ControlIn(11, SetupPacketBytes(0x80, 8, 0, 0, 1)), 49),
              RetSubmit(11, 0, 1, {0}));
    EXPECT_EQ(server->Held(), std::vector<uint32_t>{10});
    EXPECT_EQ(Exchange(Unlink(12, 10), 48), RetUnlink(12, -104));
    EXPECT_TRUE(server->Held().empty());
    // Taken back already, or answered long ago: nothing to take back.
    EXPECT_EQ(Exchange(Unlink(13, 10), 48), RetUnlink(13, 0));
    EXPECT_EQ(Exchange(Unlink(14, 11), 48), RetUnlink(14, 0));
    EXPECT_TRUE(Receive(1, 50).empty());
}

TEST_F(ServerTest, RequestsTheDeviceCannotTakeAreStalledInStep) {
    EXPECT_EQ(Exchange(Submit(1, 1, 2, 8), 48), RetSubmit(1, -32, 0)) << "no endpoint 2";
    Bytes out = Submit(2, 0, 1, 4);
    out.resize(out.size() + 4, 0xAA);
    EXPECT_EQ(Exchange(out, 48), RetSubmit(2, -32, 0)) << "no interrupt OUT";
    EXPECT_EQ(Exchange(Submit(3, 0, 0, 0, SetupPacketBytes(0x80, 6, 0x0100, 0, 0)), 48),
              RetSubmit(3, -32, 0))
        << "setup and header disagree on the direction";
    Bytes iso = Submit(4, 1, 0, 0, SetupPacketBytes(0x80, 6, 0x0100, 0, 0), 2);
    iso.resize(iso.size() + 2 * 16, 0);
    EXPECT_EQ(Exchange(iso, 48), RetSubmit(4, -32, 0)) << "no isochronous endpoint";
    // The host never takes more than its buffer holds, whatever wLength said.
    const Bytes capped = RetSubmit(5, 0, 9, {0x12, 0x01, 0x10, 0x01, 0x00, 0x00, 0x00, 0x40, 0xC0});
    EXPECT_EQ(Exchange(Submit(5, 1, 0, 9, SetupPacketBytes(0x80, 6, 0x0100, 0, 64)), capped.size()),
              capped);
    EXPECT_TRUE(Receive(1, 50).empty());
}

TEST_F(ServerTest, CleanCloseEndsServing) {
    ::shutdown(client, SHUT_WR);
    EXPECT_EQ(Finish(), UsbIpServer::End::Closed);
}

TEST_F(ServerTest, StopEndsAWaitingServer) {
    Send(Submit(1, 1, 1, 8));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    server->Stop();
    EXPECT_EQ(Finish(), UsbIpServer::End::Stopped);
}

struct MalformedCase {
    const char* Name;
    Bytes Stream; // written, then the connection is closed
};

// Names the case in test listings.
void PrintTo(const MalformedCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class MalformedTest : public ServerTest, public ::testing::WithParamInterface<MalformedCase> {};

// A stream that cannot be followed ends the connection with a reason, without any reply.
TEST_P(MalformedTest, EndsWithProtocolError) {
    Send(GetParam().Stream);
    ::shutdown(client, SHUT_WR);
    EXPECT_EQ(Finish(), UsbIpServer::End::ProtocolError);
    EXPECT_FALSE(server->Error().empty());
    server.reset(); // closes its end
    EXPECT_TRUE(Receive(1, 200).empty());
    EXPECT_EQ(instrument->Snapshot().Commands, 0u);
}

Bytes Truncated(Bytes B, size_t N) {
    B.resize(N);
    return B;
}

Bytes WithCommand(Bytes B, uint8_t Command) {
    B[3] = Command;
    return B;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, MalformedTest,
    ::testing::Values(
        MalformedCase{"ShortHeader",
                      Truncated(ControlIn(1, SetupPacketBytes(0x80, 6, 0x0100, 0, 18)), 20)},
        MalformedCase{"OneByte", {0x00}},
        MalformedCase{"UnknownCommand",
                      WithCommand(ControlIn(1, SetupPacketBytes(0x80, 6, 0x0100, 0, 18)), 9)},
        MalformedCase{"ReplyCommandFromHost", RetSubmit(1, 0, 0)},
        MalformedCase{"NegativeLength",
                      Submit(1, 1, 0, -1, SetupPacketBytes(0x80, 6, 0x0100, 0, 18))},
        MalformedCase{"HugeLength",
                      Submit(1, 0, 0, 0x7FFFFFFF, SetupPacketBytes(0x21, 9, 0x0300, 0, 254))},
        MalformedCase{"BadDirection", Submit(1, 7, 0, 0, SetupPacketBytes(0x00, 9, 1, 0, 0))},
        MalformedCase{"TooManyIsoPackets", Submit(1, 1, 1, 0, Bytes(8, 0), 100000)},
        MalformedCase{"RecordCutShort", Truncated(
                                            [] {
                                                Bytes b = Submit(
                                                    1, 0, 0, 254,
                                                    SetupPacketBytes(0x21, 9, 0x0300, 0, 254));
                                                b.resize(b.size() + 254, 2);
                                                return b;
                                            }(),
                                            48 + 100)}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
