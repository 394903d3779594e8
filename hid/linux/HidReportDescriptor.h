// Report lengths and the top-level usage of a HID report descriptor, read from its raw bytes.
// The parser walks the items once, never reads outside the input and stops at the first item
// that runs past its end, so any byte sequence gives a result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace hidlinux {

enum class ReportKind : uint8_t { Input = 0, Output = 1, Feature = 2 };

struct ReportLength {
    ReportKind Kind;
    uint8_t ReportId; // 0 when the descriptor declares no report IDs
    uint32_t Bits;    // data bits, the report ID byte not included; saturates at UINT32_MAX
};

struct ReportDescriptorInfo {
    // Every report the main items declare, ordered by kind and then by report ID.
    std::vector<ReportLength> Reports;
    // Largest report of each kind in whole bytes, the report ID byte not included; 0 when the
    // kind has no report. Indexed by ReportKind.
    std::array<uint32_t, 3> MaxReportBytes{};
    bool UsesReportIds = false;
    // Usage of the first top-level collection; both 0 when there is none.
    uint16_t UsagePage = 0;
    uint16_t Usage = 0;
    uint32_t CollectionCount = 0;
    // The last item ran past the end of the input; what came before it is kept.
    bool Truncated = false;
    // Items that make no sense (Pop without Push, unbalanced End Collection, report ID 0 or
    // above 255, reserved item types, Push too deep) were met and ignored.
    bool Malformed = false;

    uint32_t MaxBytes(ReportKind Kind) const { return MaxReportBytes[static_cast<size_t>(Kind)]; }
    // Bits of one report, 0 when it is not declared.
    uint32_t BitsOf(ReportKind Kind, uint8_t ReportId) const;
};

ReportDescriptorInfo ParseReportDescriptor(std::span<const uint8_t> Descriptor);

} // namespace hidlinux
