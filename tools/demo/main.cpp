#include "tools/demo/Demo.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    // A demo aid for unattended runs (screenshots): connect at start. The console itself reads
    // no environment.
    const char* autoConnect = std::getenv("ORMELIX_DEMO_AUTOCONNECT");
    return DemoMain(argc, argv, autoConnect != nullptr && std::strcmp(autoConnect, "1") == 0);
}
