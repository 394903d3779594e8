#include "tools/sim/UsbIpProtocol.h"

namespace usbip {

namespace {

uint32_t Be32(const uint8_t* P) {
    return (uint32_t{P[0]} << 24) | (uint32_t{P[1]} << 16) | (uint32_t{P[2]} << 8) | P[3];
}

void PutBe32(uint8_t* P, uint32_t V) {
    P[0] = static_cast<uint8_t>(V >> 24);
    P[1] = static_cast<uint8_t>(V >> 16);
    P[2] = static_cast<uint8_t>(V >> 8);
    P[3] = static_cast<uint8_t>(V);
}

uint16_t Le16(const uint8_t* P) {
    return static_cast<uint16_t>(P[0] | (P[1] << 8));
}

void PutBasic(HeaderBytes& B, uint32_t Command, uint32_t SeqNum) {
    B.fill(0);
    PutBe32(&B[0x00], Command);
    PutBe32(&B[0x04], SeqNum);
}

} // namespace

SetupPacket SetupPacket::Decode(const uint8_t* Bytes) {
    SetupPacket s;
    s.RequestType = Bytes[0];
    s.Request = Bytes[1];
    s.Value = Le16(Bytes + 2);
    s.Index = Le16(Bytes + 4);
    s.Length = Le16(Bytes + 6);
    return s;
}

BasicHeader DecodeBasic(const HeaderBytes& B) {
    BasicHeader h;
    h.Command = Be32(&B[0x00]);
    h.SeqNum = Be32(&B[0x04]);
    h.DevId = Be32(&B[0x08]);
    h.Direction = Be32(&B[0x0C]);
    h.Endpoint = Be32(&B[0x10]);
    return h;
}

SubmitCommand DecodeSubmit(const HeaderBytes& B) {
    SubmitCommand c;
    c.Basic = DecodeBasic(B);
    c.TransferFlags = Be32(&B[0x14]);
    c.TransferBufferLength = static_cast<int32_t>(Be32(&B[0x18]));
    c.StartFrame = static_cast<int32_t>(Be32(&B[0x1C]));
    c.NumberOfPackets = static_cast<int32_t>(Be32(&B[0x20]));
    c.Interval = static_cast<int32_t>(Be32(&B[0x24]));
    c.Setup = SetupPacket::Decode(&B[0x28]);
    return c;
}

UnlinkCommand DecodeUnlink(const HeaderBytes& B) {
    UnlinkCommand c;
    c.Basic = DecodeBasic(B);
    c.UnlinkSeqNum = Be32(&B[0x14]);
    return c;
}

HeaderBytes Encode(const SubmitReply& R) {
    HeaderBytes b;
    PutBasic(b, RetSubmit, R.SeqNum);
    PutBe32(&b[0x14], static_cast<uint32_t>(R.Status));
    PutBe32(&b[0x18], static_cast<uint32_t>(R.ActualLength));
    PutBe32(&b[0x1C], static_cast<uint32_t>(R.StartFrame));
    PutBe32(&b[0x20], static_cast<uint32_t>(R.NumberOfPackets));
    PutBe32(&b[0x24], static_cast<uint32_t>(R.ErrorCount));
    return b;
}

HeaderBytes Encode(const UnlinkReply& R) {
    HeaderBytes b;
    PutBasic(b, RetUnlink, R.SeqNum);
    PutBe32(&b[0x14], static_cast<uint32_t>(R.Status));
    return b;
}

} // namespace usbip
