#include "tools/sim/UsbIpServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string Format(const char* Fmt, auto... Args) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, Fmt, Args...);
    return buffer;
}

std::string Describe(const usbip::SubmitCommand& C) {
    std::string s =
        Format("submit #%u ep%u %s len %d", C.Basic.SeqNum, C.Basic.Endpoint,
               C.Basic.Direction == usbip::DirIn ? "in" : "out", C.TransferBufferLength);
    if (C.Basic.Endpoint == 0) {
        const usbip::SetupPacket& p = C.Setup;
        s += Format(" setup %02x %02x %04x %04x %04x", p.RequestType, p.Request, p.Value, p.Index,
                    p.Length);
    }
    return s;
}

} // namespace

UsbIpServer::UsbIpServer(UsbDevice& Device, int Fd)
    : device_(Device), fd_(Fd), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

UsbIpServer::~UsbIpServer() {
    if (fd_ >= 0) ::close(fd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void UsbIpServer::Stop() {
    stopped_.store(true);
    const uint64_t one = 1;
    if (wakeFd_ >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

std::string UsbIpServer::Error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::vector<uint32_t> UsbIpServer::Held() const {
    std::lock_guard lock(mutex_);
    return held_;
}

UsbIpServer::End UsbIpServer::Fail(End Kind, std::string Message) {
    if (Log) Log(Message);
    std::lock_guard lock(mutex_);
    error_ = std::move(Message);
    return Kind;
}

UsbIpServer::Read UsbIpServer::ReadExact(uint8_t* Buffer, size_t Length, size_t* Got) {
    size_t got = 0;
    Read result = Read::Ok;
    while (got < Length) {
        if (stopped_.load()) {
            result = Read::Stopped;
            break;
        }
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = ::poll(fds, wakeFd_ >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            result = Read::Failed;
            break;
        }
        if (fds[1].revents & POLLIN) {
            result = Read::Stopped;
            break;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::read(fd_, Buffer + got, Length - got);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            // A connection the host reset is as good as closed.
            result = errno == ECONNRESET ? Read::Eof : Read::Failed;
            break;
        }
        if (n == 0) {
            result = Read::Eof;
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (Got) *Got = got;
    return result;
}

bool UsbIpServer::WriteAll(const uint8_t* Buffer, size_t Length) {
    size_t done = 0;
    while (done < Length) {
        ssize_t n = ::send(fd_, Buffer + done, Length - done, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = ::write(fd_, Buffer + done, Length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool UsbIpServer::Reply(const usbip::SubmitReply& R, const std::vector<uint8_t>& Data) {
    const usbip::HeaderBytes header = usbip::Encode(R);
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), Data.begin(), Data.end());
    if (Log) {
        Log(Format("  reply #%u status %d length %d", R.SeqNum, R.Status, R.ActualLength));
    }
    return WriteAll(bytes.data(), bytes.size());
}

UsbIpServer::End UsbIpServer::Serve() {
    for (;;) {
        usbip::HeaderBytes header;
        size_t got = 0;
        switch (ReadExact(header.data(), header.size(), &got)) {
        case Read::Ok:
            break;
        case Read::Eof:
            if (got == 0) return End::Closed;
            return Fail(End::ProtocolError,
                        Format("connection closed inside a request header (%zu of %zu bytes)", got,
                               header.size()));
        case Read::Stopped:
            return End::Stopped;
        case Read::Failed:
            return Fail(End::IoError, Format("reading the connection failed: %s", strerror(errno)));
        }
        const usbip::BasicHeader basic = usbip::DecodeBasic(header);
        std::optional<End> end;
        if (basic.Command == usbip::CmdSubmit) {
            end = HandleSubmit(header);
        } else if (basic.Command == usbip::CmdUnlink) {
            end = HandleUnlink(header);
        } else {
            // Nothing tells how long an unknown request is: the stream cannot be followed.
            return Fail(End::ProtocolError, Format("unknown command 0x%08x", basic.Command));
        }
        if (end) return *end;
    }
}

std::optional<UsbIpServer::End> UsbIpServer::HandleSubmit(const usbip::HeaderBytes& Header) {
    const usbip::SubmitCommand c = usbip::DecodeSubmit(Header);
    if (Log) Log(Describe(c));
    if (c.Basic.Direction != usbip::DirIn && c.Basic.Direction != usbip::DirOut) {
        return Fail(End::ProtocolError,
                    Format("submit #%u with direction %u", c.Basic.SeqNum, c.Basic.Direction));
    }
    if (c.TransferBufferLength < 0 || c.TransferBufferLength > MaxTransferLength) {
        return Fail(End::ProtocolError, Format("submit #%u with transfer length %d", c.Basic.SeqNum,
                                               c.TransferBufferLength));
    }
    if (c.HasIsoPackets() && (c.NumberOfPackets < 0 || c.NumberOfPackets > MaxIsoPackets)) {
        return Fail(End::ProtocolError, Format("submit #%u with %d isochronous packets",
                                               c.Basic.SeqNum, c.NumberOfPackets));
    }

    // Everything that follows the header is read before answering, so the stream stays in step
    // whatever the answer is.
    std::vector<uint8_t> out;
    if (c.Basic.Direction == usbip::DirOut) out.resize(static_cast<size_t>(c.TransferBufferLength));
    std::vector<uint8_t> iso(
        c.HasIsoPackets() ? static_cast<size_t>(c.NumberOfPackets) * usbip::IsoDescriptorSize : 0);
    for (std::vector<uint8_t>* part : {&out, &iso}) {
        if (part->empty()) continue;
        switch (ReadExact(part->data(), part->size(), nullptr)) {
        case Read::Ok:
            break;
        case Read::Eof:
            return Fail(End::ProtocolError,
                        Format("connection closed inside the data of submit #%u", c.Basic.SeqNum));
        case Read::Stopped:
            return End::Stopped;
        case Read::Failed:
            return Fail(End::IoError, Format("reading the connection failed: %s", strerror(errno)));
        }
    }

    usbip::SubmitReply reply;
    reply.SeqNum = c.Basic.SeqNum;
    std::vector<uint8_t> data;
    const bool in = c.Basic.Direction == usbip::DirIn;
    if (c.HasIsoPackets() || c.Basic.Endpoint > 15) {
        reply.Status = usbip::StatusStall;
    } else if (c.Basic.Endpoint == 0) {
        if (c.Setup.DeviceToHost() != in) {
            reply.Status = usbip::StatusStall;
        } else {
            ControlResult r = device_.Control(c.Setup, out);
            reply.Status = r.Status;
            if (r.Status == usbip::StatusOk) {
                if (in) {
                    // The host takes no more than it asked for.
                    if (r.Data.size() > static_cast<size_t>(c.TransferBufferLength))
                        r.Data.resize(static_cast<size_t>(c.TransferBufferLength));
                    data = std::move(r.Data);
                    reply.ActualLength = static_cast<int32_t>(data.size());
                } else {
                    reply.ActualLength = std::min(r.AcceptedLength, c.TransferBufferLength);
                }
            }
        }
    } else if (in && device_.HasInterruptIn(static_cast<uint8_t>(0x80 | c.Basic.Endpoint))) {
        // The instrument has no input reports: the request waits until the host takes it back.
        std::lock_guard lock(mutex_);
        held_.push_back(c.Basic.SeqNum);
        return std::nullopt;
    } else {
        reply.Status = usbip::StatusStall;
    }
    if (!Reply(reply, data)) {
        return Fail(End::IoError, Format("writing the connection failed: %s", strerror(errno)));
    }
    return std::nullopt;
}

std::optional<UsbIpServer::End> UsbIpServer::HandleUnlink(const usbip::HeaderBytes& Header) {
    const usbip::UnlinkCommand c = usbip::DecodeUnlink(Header);
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find(held_.begin(), held_.end(), c.UnlinkSeqNum);
        if (it != held_.end()) {
            held_.erase(it);
            found = true;
        }
    }
    if (Log) {
        Log(Format("unlink #%u of #%u: %s", c.Basic.SeqNum, c.UnlinkSeqNum,
                   found ? "taken back" : "already answered"));
    }
    // A request already answered cannot be taken back: status 0 says so.
    const usbip::HeaderBytes reply =
        usbip::Encode(usbip::UnlinkReply{c.Basic.SeqNum, found ? usbip::StatusUnlinked : 0});
    if (!WriteAll(reply.data(), reply.size())) {
        return Fail(End::IoError, Format("writing the connection failed: %s", strerror(errno)));
    }
    return std::nullopt;
}
