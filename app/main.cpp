#include "app/Ormelix.h"
#include "hid/HidPlatform.h"

int main(int argc, char** argv) {
    SetHidPlatform(NativeHidPlatform());
    return OrmelixMain(argc, argv);
}
