#include "tools/cli/CliArgs.h"

#include <charconv>

namespace cli {

int DemoInstruments(ArgReader& R) {
    const auto n = R.OptionalValue();
    if (!n) return 1;
    if (*n != "1" && *n != "2") throw Usage{"--demo takes 1 or 2 instruments"};
    return *n == "2" ? 2 : 1;
}

std::optional<int64_t> Number(const std::string& Text) {
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (ec != std::errc() || end != Text.data() + Text.size()) return std::nullopt;
    return value;
}

// Ten years: a longer run is a typing error, and the clocks' arithmetic stays far from overflow.
constexpr int64_t kLongestMs = int64_t{87600} * 3600 * 1000;
std::optional<int64_t> DurationMs(std::string Text, bool ZeroToo) {
    int64_t unit = 1000;
    if (!Text.empty()) {
        switch (Text.back()) {
        case 's':
            Text.pop_back();
            break;
        case 'm':
            unit = 60 * 1000;
            Text.pop_back();
            break;
        case 'h':
            unit = 3600 * 1000;
            Text.pop_back();
            break;
        default:
            break;
        }
    }
    const auto n = Number(Text);
    if (!n || *n < (ZeroToo ? 0 : 1) || *n > kLongestMs / unit) return std::nullopt;
    return *n * unit;
}

} // namespace cli
