// ormelix-hidlist: every HID interface this machine shows the console, and whether it is the
// instrument and can be opened.
#include "hid/HidPlatform.h"
#include "tools/hidlist/HidList.h"

#include <exception>
#include <iostream>
#include <string>

#ifndef ORMELIX_VERSION
#define ORMELIX_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "ormelix-hidlist " << ORMELIX_VERSION << '\n';
        return std::cout.flush() ? 0 : 1;
    }
    SetHidPlatform(NativeHidPlatform());
    try {
        return ListHidInterfaces(std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "ormelix-hidlist: " << e.what() << '\n';
        return 1;
    }
}
