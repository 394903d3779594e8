#include "HidPlatform.h"
#include "Ormelix.h"

int main(int argc, char** argv) {
    SetHidPlatform(NativeHidPlatform());
    return OrmelixMain(argc, argv);
}
