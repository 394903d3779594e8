// libFuzzer entry: the report-descriptor parser must accept any bytes, stay inside them, end,
// and give lengths that agree with the reports it lists.
#include "hid/linux/HidReportDescriptor.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const hidlinux::ReportDescriptorInfo info =
        hidlinux::ParseReportDescriptor(std::span<const uint8_t>(Data, Size));
    std::array<uint32_t, 3> largest{};
    for (const hidlinux::ReportLength& r : info.Reports) {
        uint32_t& l = largest[static_cast<size_t>(r.Kind)];
        const uint32_t bytes = r.Bits / 8 + (r.Bits % 8 != 0 ? 1 : 0);
        if (bytes > l) l = bytes;
        if (r.ReportId != 0 && !info.UsesReportIds) std::abort();
    }
    if (largest != info.MaxReportBytes) std::abort();
    return 0;
}
