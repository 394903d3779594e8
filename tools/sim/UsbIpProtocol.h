// The USB/IP wire format between vhci-hcd and a device server: 48-byte headers with big-endian
// fields, the control setup packet carried raw (little-endian, as on the bus) inside the submit
// header, and transfer buffers following OUT submits and IN replies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace usbip {

constexpr uint32_t CmdSubmit = 0x00000001;
constexpr uint32_t CmdUnlink = 0x00000002;
constexpr uint32_t RetSubmit = 0x00000003;
constexpr uint32_t RetUnlink = 0x00000004;

constexpr uint32_t DirOut = 0;
constexpr uint32_t DirIn = 1;

constexpr size_t HeaderSize = 48;
constexpr size_t IsoDescriptorSize = 16;
// A submit that does not use isochronous packets says so by 0 or by 0xFFFFFFFF.
constexpr int32_t NoIsoPackets = -1;

// Linux status codes carried in the replies.
constexpr int32_t StatusOk = 0;
constexpr int32_t StatusStall = -32;     // -EPIPE
constexpr int32_t StatusUnlinked = -104; // -ECONNRESET
constexpr int32_t StatusNoDevice = -19;  // -ENODEV

using HeaderBytes = std::array<uint8_t, HeaderSize>;

// The eight bytes of a control transfer's setup stage.
struct SetupPacket {
    uint8_t RequestType = 0;
    uint8_t Request = 0;
    uint16_t Value = 0;
    uint16_t Index = 0;
    uint16_t Length = 0;

    bool DeviceToHost() const { return (RequestType & 0x80) != 0; }
    static SetupPacket Decode(const uint8_t* Bytes);
};

struct BasicHeader {
    uint32_t Command = 0;
    uint32_t SeqNum = 0;
    uint32_t DevId = 0;
    uint32_t Direction = 0;
    uint32_t Endpoint = 0;
};

struct SubmitCommand {
    BasicHeader Basic;
    uint32_t TransferFlags = 0;
    int32_t TransferBufferLength = 0;
    int32_t StartFrame = 0;
    int32_t NumberOfPackets = 0;
    int32_t Interval = 0;
    SetupPacket Setup;

    bool HasIsoPackets() const { return NumberOfPackets != 0 && NumberOfPackets != NoIsoPackets; }
};

struct UnlinkCommand {
    BasicHeader Basic;
    uint32_t UnlinkSeqNum = 0;
};

struct SubmitReply {
    uint32_t SeqNum = 0;
    int32_t Status = 0;
    int32_t ActualLength = 0;
    int32_t StartFrame = 0;
    int32_t NumberOfPackets = 0;
    int32_t ErrorCount = 0;
};

struct UnlinkReply {
    uint32_t SeqNum = 0;
    int32_t Status = 0;
};

BasicHeader DecodeBasic(const HeaderBytes& Bytes);
SubmitCommand DecodeSubmit(const HeaderBytes& Bytes);
UnlinkCommand DecodeUnlink(const HeaderBytes& Bytes);
// Replies name no device, direction or endpoint: those fields are 0, as is the padding.
HeaderBytes Encode(const SubmitReply& Reply);
HeaderBytes Encode(const UnlinkReply& Reply);

} // namespace usbip
