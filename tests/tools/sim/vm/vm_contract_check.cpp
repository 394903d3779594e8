// Inside the virtual machine: the HID platform contract on the Linux entries and the real kernel.
// Every case prints a CHECK line ("contract-<case>"), and "CHECK contract" sums them up: it fails
// when a case failed or none passed.
#include "hid/HidPlatform.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

namespace {

void Line(const std::string& Text) {
    const std::string line = Text + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

// "PlatformContract.MissingPathDoesNotOpen/Kernel" -> "contract-missing-path-does-not-open";
// digits are dropped, since the host reads check names as lowercase letters and dashes.
std::string CheckName(const std::string& Test) {
    std::string name = "contract";
    for (char ch : Test.substr(0, Test.find('/'))) {
        if (std::isupper(static_cast<unsigned char>(ch))) {
            name += '-';
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        } else if (std::islower(static_cast<unsigned char>(ch))) {
            name += ch;
        }
    }
    return name;
}

std::string OneLine(std::string Text) {
    for (char& ch : Text)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return Text.size() > 300 ? Text.substr(0, 300) + "..." : Text;
}

class CheckLines : public testing::EmptyTestEventListener {
public:
    void OnTestEnd(const testing::TestInfo& Info) override {
        const testing::TestResult& r = *Info.result();
        const std::string name = "CHECK " + CheckName(Info.name());
        if (r.Skipped()) {
            ++Skipped;
            const std::string why =
                r.total_part_count() > 0 ? r.GetTestPartResult(0).message() : "";
            Line(name + " skipped: " + OneLine(why));
        } else if (r.Passed()) {
            ++Passed;
            Line(name + " ok");
        } else {
            ++Failed;
            std::string why;
            for (int i = 0; i < r.total_part_count() && why.empty(); ++i) {
                const testing::TestPartResult& p = r.GetTestPartResult(i);
                if (p.failed())
                    why = std::string(p.file_name() ? p.file_name() : "?") + ":" +
                          std::to_string(p.line_number()) + ": " + p.message();
            }
            Line(name + " FAIL: " + OneLine(why));
        }
    }
    int Passed = 0, Skipped = 0, Failed = 0;
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    SetHidPlatform(NativeHidPlatform()); // udev, hidraw, sysfs
    auto* lines = new CheckLines;        // owned by GoogleTest's listener list
    testing::UnitTest::GetInstance()->listeners().Append(lines);
    const int status = RUN_ALL_TESTS();
    Line("contract: " + std::to_string(lines->Passed) + " passed, " +
         std::to_string(lines->Skipped) + " skipped, " + std::to_string(lines->Failed) + " failed");
    if (status != 0 || lines->Failed > 0 || lines->Passed == 0)
        Line("CHECK contract FAIL: " + std::to_string(lines->Failed) + " failed, " +
             std::to_string(lines->Passed) + " passed");
    else
        Line("CHECK contract ok");
    return status != 0 || lines->Failed > 0 || lines->Passed == 0 ? 1 : 0;
}
