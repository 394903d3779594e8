#include "hid/linux/HidReportDescriptor.h"

#include <algorithm>
#include <limits>

namespace hidlinux {

namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

enum MainTag : uint8_t {
    kInput = 0x8,
    kOutput = 0x9,
    kCollection = 0xA,
    kFeature = 0xB,
    kEndCollection = 0xC,
};

enum GlobalTag : uint8_t {
    kUsagePage = 0x0,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
};

constexpr uint8_t kLocalUsage = 0x0;
constexpr uint8_t kLongItemPrefix = 0xFE;
// The kernel allows four levels; be generous, but a descriptor of nothing but Push items must
// not make the stack grow with the input.
constexpr size_t kMaxGlobalStack = 16;

struct Globals {
    uint32_t UsagePage = 0;
    uint32_t ReportSize = 0;
    uint32_t ReportCount = 0;
    uint8_t ReportId = 0;
};

struct FirstUsage {
    bool Present = false;
    bool Extended = false; // 4-byte usage: the page is in the upper half
    uint32_t Value = 0;
};

} // namespace

uint32_t ReportDescriptorInfo::BitsOf(ReportKind Kind, uint8_t ReportId) const {
    for (const ReportLength& r : Reports) {
        if (r.Kind == Kind && r.ReportId == ReportId) return r.Bits;
    }
    return 0;
}

ReportDescriptorInfo ParseReportDescriptor(std::span<const uint8_t> Descriptor) {
    ReportDescriptorInfo info;
    std::array<std::array<uint64_t, 256>, 3> bits{};
    std::array<std::array<bool, 256>, 3> declared{};
    constexpr uint64_t kBitsCap = std::numeric_limits<uint32_t>::max();

    Globals globals;
    std::vector<Globals> stack;
    FirstUsage usage;
    uint32_t depth = 0;
    bool topLevelSeen = false;

    const size_t n = Descriptor.size();
    size_t pos = 0;
    while (pos < n) {
        const uint8_t prefix = Descriptor[pos];
        if (prefix == kLongItemPrefix) {
            // Long items carry no meaning for report lengths: step over them.
            if (n - pos < 3) {
                info.Truncated = true;
                break;
            }
            const size_t dataSize = Descriptor[pos + 1];
            if (n - pos - 3 < dataSize) {
                info.Truncated = true;
                break;
            }
            pos += 3 + dataSize;
            continue;
        }

        const size_t sizeCode = prefix & 0x3;
        const size_t dataSize = sizeCode == 3 ? 4 : sizeCode;
        if (n - pos - 1 < dataSize) {
            info.Truncated = true;
            break;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < dataSize; ++i) {
            value |= static_cast<uint32_t>(Descriptor[pos + 1 + i]) << (8 * i);
        }
        const auto type = static_cast<ItemType>((prefix >> 2) & 0x3);
        const uint8_t tag = prefix >> 4;
        pos += 1 + dataSize;

        switch (type) {
        case kMain:
            switch (tag) {
            case kInput:
            case kOutput:
            case kFeature: {
                const size_t kind = tag == kInput ? 0 : tag == kOutput ? 1 : 2;
                const uint64_t add =
                    static_cast<uint64_t>(globals.ReportSize) * globals.ReportCount;
                uint64_t& total = bits[kind][globals.ReportId];
                total = std::min(total + std::min(add, kBitsCap), kBitsCap);
                declared[kind][globals.ReportId] = true;
                break;
            }
            case kCollection:
                ++info.CollectionCount;
                if (depth == 0 && !topLevelSeen) {
                    topLevelSeen = true;
                    if (usage.Present) {
                        info.Usage = static_cast<uint16_t>(usage.Value & 0xFFFF);
                        info.UsagePage = static_cast<uint16_t>(
                            usage.Extended ? usage.Value >> 16 : globals.UsagePage & 0xFFFF);
                    } else {
                        info.UsagePage = static_cast<uint16_t>(globals.UsagePage & 0xFFFF);
                    }
                }
                ++depth;
                break;
            case kEndCollection:
                if (depth == 0) {
                    info.Malformed = true;
                } else {
                    --depth;
                }
                break;
            default:
                info.Malformed = true;
                break;
            }
            usage = FirstUsage{}; // local items last until the next main item
            break;

        case kGlobal:
            switch (tag) {
            case kUsagePage:
                globals.UsagePage = value;
                break;
            case kReportSize:
                globals.ReportSize = value;
                break;
            case kReportCount:
                globals.ReportCount = value;
                break;
            case kReportId:
                if (value == 0 || value > 255) {
                    info.Malformed = true;
                } else {
                    globals.ReportId = static_cast<uint8_t>(value);
                    info.UsesReportIds = true;
                }
                break;
            case kPush:
                if (stack.size() >= kMaxGlobalStack) {
                    info.Malformed = true;
                } else {
                    stack.push_back(globals);
                }
                break;
            case kPop:
                if (stack.empty()) {
                    info.Malformed = true;
                } else {
                    globals = stack.back();
                    stack.pop_back();
                }
                break;
            default:
                break; // logical/physical ranges and units do not change lengths
            }
            break;

        case kLocal:
            if (tag == kLocalUsage && !usage.Present) {
                usage.Present = true;
                usage.Extended = dataSize == 4;
                usage.Value = value;
            }
            break;

        case kReserved:
            info.Malformed = true;
            break;
        }
    }

    for (size_t kind = 0; kind < 3; ++kind) {
        for (size_t id = 0; id < 256; ++id) {
            if (!declared[kind][id]) continue;
            const auto b = static_cast<uint32_t>(bits[kind][id]);
            info.Reports.push_back({static_cast<ReportKind>(kind), static_cast<uint8_t>(id), b});
            const uint32_t bytes = b / 8 + (b % 8 != 0 ? 1 : 0);
            info.MaxReportBytes[kind] = std::max(info.MaxReportBytes[kind], bytes);
        }
    }
    return info;
}

} // namespace hidlinux
