// Serves one USB device over one USB/IP connection: answers every submit on endpoint 0 at once,
// holds interrupt IN submits until the host unlinks them, and answers every unlink.
#pragma once

#include "tools/sim/UsbDevice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class UsbIpServer {
public:
    enum class End {
        Closed,        // the host closed the connection between two requests
        Stopped,       // Stop was called
        ProtocolError, // a request that cannot be read or makes no sense; see Error()
        IoError,       // reading or writing the connection failed; see Error()
    };

    // Longest transfer buffer taken: the largest control transfer.
    static constexpr int32_t MaxTransferLength = 65535;
    static constexpr int32_t MaxIsoPackets = 1024;

    // Takes over Fd and closes it when destroyed.
    UsbIpServer(UsbDevice& Device, int Fd);
    ~UsbIpServer();
    UsbIpServer(const UsbIpServer&) = delete;
    UsbIpServer& operator=(const UsbIpServer&) = delete;

    // Serves until the connection ends; call once.
    End Serve();
    // From any thread: makes Serve return soon.
    void Stop();

    std::string Error() const;
    // Sequence numbers of the interrupt IN submits held now.
    std::vector<uint32_t> Held() const;

    // One line per request and reply, for a verbose log (called on the serving thread).
    std::function<void(const std::string&)> Log;

private:
    enum class Read { Ok, Eof, Stopped, Failed };
    Read ReadExact(uint8_t* Buffer, size_t Length, size_t* Got);
    bool WriteAll(const uint8_t* Buffer, size_t Length);
    End Fail(End Kind, std::string Message);
    // nullopt: the request was handled and serving goes on.
    std::optional<End> HandleSubmit(const usbip::HeaderBytes& Header);
    std::optional<End> HandleUnlink(const usbip::HeaderBytes& Header);
    bool Reply(const usbip::SubmitReply& Reply, const std::vector<uint8_t>& Data);

    UsbDevice& device_;
    int fd_;
    int wakeFd_;
    std::atomic<bool> stopped_{false};
    mutable std::mutex mutex_;
    std::string error_;
    std::vector<uint32_t> held_;
};
