// The virtual instrument on the virtual machine's USB bus, every transfer recorded: what each
// check program plugs in before it looks at the instrument through the real kernel.
#pragma once

#include "tests/tools/sim/vm/Recorder.h"
#include "tests/tools/sim/vm/VmCheck.h"
#include "tools/sim/VhciAttachment.h"

#include <memory>
#include <string>

struct PluggedInstrument {
    std::shared_ptr<VirtualInstrument> Instrument = std::make_shared<VirtualInstrument>();
    UsbHidInstrument Device{Instrument};
    Recorder Transfers;
    VhciAttachment Plug{Device};

    PluggedInstrument() { Transfers.Watch(Device); }

    // Attaches the device; a failure is reported as check Name.
    bool Attach(VmChecks& Checks, const std::string& Name) {
        std::string error;
        if (Plug.Attach(error)) return true;
        return Checks.Report(Name, false, "attach: " + error);
    }
};
