#include "tools/sim/VhciAttachment.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vhci {

namespace {

bool IsDirectory(const std::string& Path) {
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> ReadSmallFile(const std::string& Path) {
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > (1u << 20)) break; // a status file is a few kilobytes
    }
    ::close(fd);
    return text;
}

// Every controller has a status file: "status", then "status.1", "status.2", ...
std::string AllStatus(const std::string& Dir) {
    std::string text = ReadSmallFile(Dir + "/status").value_or("");
    for (int i = 1; i < 64; ++i) {
        const auto more = ReadSmallFile(Dir + "/status." + std::to_string(i));
        if (!more) break;
        text += *more;
    }
    return text;
}

} // namespace

std::vector<PortStatus> ParseStatus(std::string_view Text) {
    std::vector<PortStatus> ports;
    std::istringstream lines{std::string(Text)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        PortStatus p;
        std::string port, state;
        if (!(fields >> p.Hub >> port >> state)) continue;
        if (p.Hub != "hs" && p.Hub != "ss") continue; // the heading
        char* end = nullptr;
        p.Port = static_cast<uint32_t>(std::strtoul(port.c_str(), &end, 10));
        if (port.empty() || *end != '\0') continue;
        p.State = static_cast<uint32_t>(std::strtoul(state.c_str(), &end, 10));
        if (state.empty() || *end != '\0') continue;
        ports.push_back(p);
    }
    return ports;
}

std::vector<uint32_t> FreeFullSpeedPorts(std::string_view Text) {
    std::vector<uint32_t> free;
    for (const PortStatus& p : ParseStatus(Text)) {
        if (p.Hub == "hs" && p.State == StateFree) free.push_back(p.Port);
    }
    return free;
}

std::string AttachPrecondition(const std::string& Dir, uid_t EffectiveUser) {
    if (!IsDirectory(Dir)) return NotLoadedMessage;
    if (EffectiveUser != 0) return NotRootMessage;
    return {};
}

} // namespace vhci

VhciAttachment::VhciAttachment(UsbDevice& Device, std::string Dir)
    : device_(Device), dir_(std::move(Dir)) {}

VhciAttachment::~VhciAttachment() {
    std::string ignored;
    Detach(ignored);
    Join();
}

bool VhciAttachment::WriteControl(const std::string& File, const std::string& Text,
                                  std::string& Error) {
    const std::string path = dir_ + "/" + File;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        Error = path + ": " + std::strerror(errno);
        return false;
    }
    // The kernel takes the whole line in one write.
    ssize_t n;
    do {
        n = ::write(fd, Text.data(), Text.size());
    } while (n < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(Text.size())) {
        Error = path + ": " + std::strerror(n < 0 ? error : EIO);
        return false;
    }
    return true;
}

bool VhciAttachment::Attach(std::string& Error) {
    if (port_) {
        Error = "already attached to vhci-hcd port " + std::to_string(*port_);
        return false;
    }
    Join();
    Error = vhci::AttachPrecondition(dir_, ::geteuid());
    if (!Error.empty()) return false;

    const std::vector<uint32_t> free = vhci::FreeFullSpeedPorts(vhci::AllStatus(dir_));
    if (free.empty()) {
        Error = "vhci-hcd has no free full-speed port";
        return false;
    }
    std::string lastError;
    for (const uint32_t port : free) {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            Error = std::string("socketpair: ") + std::strerror(errno);
            return false;
        }
        // Bus 1, device number after the port: a name the kernel echoes in every request.
        const uint32_t devId = (1u << 16) | (port + 1);
        const std::string line = std::to_string(port) + " " + std::to_string(fds[1]) + " " +
                                 std::to_string(devId) + " " + std::to_string(vhci::SpeedFull);
        const bool attached = WriteControl("attach", line, lastError);
        // The kernel holds its own reference to its end from now on.
        ::close(fds[1]);
        if (!attached) {
            ::close(fds[0]);
            continue; // taken meanwhile by someone else: the next free one
        }
        port_ = port;
        devId_ = devId;
        device_.Plugged();
        server_ = std::make_unique<UsbIpServer>(device_, fds[0]);
        server_->Log = Log;
        {
            std::lock_guard lock(mutex_);
            ending_.reset();
        }
        thread_ = std::thread([this] {
            const UsbIpServer::End end = server_->Serve();
            std::lock_guard lock(mutex_);
            ending_ = end;
            ended_.notify_all();
        });
        return true;
    }
    Error = "attaching to vhci-hcd failed: " + lastError;
    return false;
}

bool VhciAttachment::Detach(std::string& Error) {
    if (!port_) return true;
    const uint32_t port = *port_;
    if (Ending() == UsbIpServer::End::Closed) {
        // The kernel has let go already, and the port may belong to another device by now.
        Join();
        port_.reset();
        return true;
    }
    std::string writeError;
    const bool written = WriteControl("detach", std::to_string(port), writeError);
    // The kernel shuts its end down once the device is gone; a stuck one is not waited for.
    // When the write fails, the connection may already have ended on the kernel's side.
    const bool gone = written ? WaitEnded(5000) : Ending().has_value();
    if (!gone) server_->Stop();
    Join();
    port_.reset();
    if (!written && !gone) {
        Error = "detaching vhci-hcd port " + std::to_string(port) + " failed: " + writeError;
        return false;
    }
    return true;
}

bool VhciAttachment::Serving() const {
    std::lock_guard lock(mutex_);
    return server_ && !ending_.has_value();
}

bool VhciAttachment::WaitEnded(int Ms) {
    std::unique_lock lock(mutex_);
    if (!server_) return true;
    return ended_.wait_for(lock, std::chrono::milliseconds(Ms),
                           [this] { return ending_.has_value(); });
}

std::optional<UsbIpServer::End> VhciAttachment::Ending() const {
    std::lock_guard lock(mutex_);
    return ending_;
}

std::string VhciAttachment::ServerError() const {
    return server_ ? server_->Error() : std::string();
}

void VhciAttachment::Join() {
    if (thread_.joinable()) thread_.join();
}
