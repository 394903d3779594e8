// The controller's rescan (DeviceChange) with 1 to 1000 simulated HID interfaces present, the
// scan alone beside it (a fresh device object per interface, which every rescan builds), and a
// rescan that finds one new interface among 100.
#include "hid/JvHidControllerClass.h"
#include "hid/sim/SimHidPlatform.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <string>

namespace {

hidsim::SimDeviceSpec Interface(int N) {
    hidsim::SimDeviceSpec desc;
    desc.Path = "/dev/hidraw" + std::to_string(N);
    desc.VendorID = 0x1000;
    desc.ProductID = static_cast<USHORT>(N);
    desc.Manufacturer = u"Bench";
    desc.Product = u"Interface";
    desc.FeatureReportByteLength = 8;
    desc.UsagePage = 0xFF00;
    desc.Usage = 1;
    return desc;
}

// N interfaces plugged in and listed by a controller without an event loop (rescans are called
// directly).
struct Machine {
    explicit Machine(int N) {
        for (int i = 0; i < N; ++i) sim.Plug(Interface(i));
        SetHidPlatform(sim.Platform());
        controller = std::make_unique<TJvHidDeviceController>(nullptr);
        controller->DeviceChange();
    }
    ~Machine() {
        controller.reset();
        SetHidPlatform(nullptr);
    }
    hidsim::SimHidPlatform sim;
    std::unique_ptr<TJvHidDeviceController> controller;
};

void BM_RescanUnchanged(benchmark::State& State) {
    const int n = static_cast<int>(State.range(0));
    Machine m(n);
    if (m.controller->Count() != n) State.SkipWithError("not every interface was listed");
    for (auto _ : State) m.controller->DeviceChange();
    State.SetComplexityN(n);
    State.counters["per_interface_us"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_ScanOnly(benchmark::State& State) {
    const int n = static_cast<int>(State.range(0));
    Machine m(n);
    for (auto _ : State) benchmark::DoNotOptimize(m.controller->ScanDevices());
    State.SetComplexityN(n);
}

void BM_RescanAfterOneArrival(benchmark::State& State) {
    const int n = static_cast<int>(State.range(0));
    Machine m(n);
    for (auto _ : State) {
        State.PauseTiming();
        m.sim.Plug(Interface(n));
        State.ResumeTiming();
        m.controller->DeviceChange();
        State.PauseTiming();
        if (m.controller->Count() != n + 1) State.SkipWithError("the arrival was not listed");
        m.sim.Unplug("/dev/hidraw" + std::to_string(n));
        m.controller->DeviceChange();
        State.ResumeTiming();
    }
}

// 1, 10, 100 and 1000 interfaces present.
void Counts(benchmark::internal::Benchmark* B) {
    for (int n : {1, 10, 100, 1000}) B->Arg(n);
}

BENCHMARK(BM_RescanUnchanged)->Apply(Counts)->Unit(benchmark::kMicrosecond)->Complexity();
BENCHMARK(BM_ScanOnly)->Apply(Counts)->Unit(benchmark::kMicrosecond)->Complexity();
BENCHMARK(BM_RescanAfterOneArrival)->Arg(100)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
