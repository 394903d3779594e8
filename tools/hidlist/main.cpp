// ormelix-hidlist: every HID interface this machine shows the console, and whether it is the
// instrument and can be opened.
#include "hid/HidPlatform.h"
#include "tools/hidlist/HidList.h"

#include <exception>
#include <iostream>

int main() {
    SetHidPlatform(NativeHidPlatform());
    try {
        return ListHidInterfaces(std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "ormelix-hidlist: " << e.what() << '\n';
        return 1;
    }
}
