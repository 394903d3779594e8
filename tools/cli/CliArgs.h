// How ormelix-cli reads its commands' arguments; only tools/cli uses it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// A usage error: CliMain prints it with the pointer to the command's help and exits 2.
struct Usage {
    std::string Message;
};

// The arguments of one command, "--name=value" read as "--name value". An option that takes
// no value but was given one is a usage error.
class ArgReader {
public:
    explicit ArgReader(const std::vector<std::string>& Args) : args_(Args) {}

    bool Next() {
        if (inline_ && !taken_) throw Usage{name_ + " takes no value"};
        inline_.reset();
        taken_ = false;
        if (at_ >= args_.size()) return false;
        const std::string& a = args_[at_++];
        const size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name_ = a.substr(0, eq);
            inline_ = a.substr(eq + 1);
        } else {
            name_ = a;
        }
        return true;
    }
    const std::string& Name() const { return name_; }
    std::string Value() {
        taken_ = true;
        if (inline_) return *inline_;
        if (at_ >= args_.size()) throw Usage{name_ + " needs a value"};
        return args_[at_++];
    }
    // Only "--name=value" gives one.
    std::optional<std::string> OptionalValue() {
        taken_ = true;
        return inline_;
    }

private:
    const std::vector<std::string>& args_;
    size_t at_ = 0;
    std::string name_;
    std::optional<std::string> inline_;
    bool taken_ = false;
};

// --demo or --demo=N: how many virtual instruments (0: none asked for).
int DemoInstruments(ArgReader& R);

// A whole decimal number, nothing before or after it.
std::optional<int64_t> Number(const std::string& Text);

// Seconds, or a number with s, m or h, as milliseconds; at least 1 (0 too with ZeroToo), at most
// ten years.
std::optional<int64_t> DurationMs(std::string Text, bool ZeroToo = false);

} // namespace cli
