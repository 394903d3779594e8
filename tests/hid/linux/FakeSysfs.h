// A sysfs tree of the tests' own, for the Linux entries to read in place of /sys.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fakesysfs {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& Path, const std::string& Text) {
    fs::create_directories(Path.parent_path());
    std::ofstream(Path, std::ios::binary) << Text;
}

// A fresh empty folder under /tmp; empty when none can be made.
inline fs::path NewRoot() {
    char pattern[] = "/tmp/hidlinux-sysfs-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return {};
    return fs::canonical(pattern);
}

// A HID device at HidDir with its hidraw node Node, listed under <Root>/class/hidraw.
inline void AddHid(const fs::path& Root, const fs::path& HidDir, const std::string& Node,
                   const std::string& Uevent, const std::vector<uint8_t>& Descriptor) {
    WriteFile(HidDir / "uevent", Uevent);
    WriteFile(HidDir / "report_descriptor", std::string(Descriptor.begin(), Descriptor.end()));
    const fs::path hidraw = HidDir / "hidraw" / Node;
    WriteFile(hidraw / "uevent", "MAJOR=243\nMINOR=0\nDEVNAME=" + Node + "\n");
    fs::create_directory_symlink("../..", hidraw / "device");
    fs::create_directories(Root / "class/hidraw");
    fs::create_directory_symlink(hidraw, Root / "class/hidraw" / Node);
}

} // namespace fakesysfs
