// _DemoBench, for the module's tests: the demo machine held open, its instrument pulled and
// plugged again, and the reports it was sent.
#include "hid/sim/BenchDevices.h"
#include "hid/sim/DemoMachine.h"
#include "python/Bindings.h"
#include "python/Session.h"

#include <pybind11/stl.h>

#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace py = pybind11;

namespace python {
namespace {

// The demo machine held open for the tests: the instrument pulled and plugged again, the
// reports it was sent.
class DemoBench {
public:
    DemoBench() {
        std::lock_guard<std::mutex> lock(HidLock());
        claim_ = std::make_unique<PlatformClaim>(true);
        KeepDemoLog(true);
    }
    ~DemoBench() {
        std::lock_guard<std::mutex> lock(HidLock());
        KeepDemoLog(false);
        claim_.reset();
    }
    bool Unplug() {
        std::lock_guard<std::mutex> lock(HidLock());
        return claim_->Demo()->Sim().Unplug(bench::InstrumentPath);
    }
    bool Replug(bool QueryOnly) {
        std::lock_guard<std::mutex> lock(HidLock());
        return claim_->Demo()->ReplugInstrument(QueryOnly ? hidsim::SimAccess::QueryOnly
                                                          : hidsim::SimAccess::ReadWrite);
    }
    // (direction, report, ok) of the feature transfers with the instrument, oldest first.
    std::vector<std::tuple<std::string, py::bytes, bool>> Transfers() {
        std::vector<hidsim::SimFeatureTransfer> all;
        {
            std::lock_guard<std::mutex> lock(HidLock());
            all = claim_->Demo()->Sim().FeatureTransfers();
        }
        std::vector<std::tuple<std::string, py::bytes, bool>> out;
        for (const auto& t : all)
            if (t.Path == bench::InstrumentPath)
                out.emplace_back(
                    t.Direction == hidsim::SimFeatureTransfer::Get ? "get" : "set",
                    py::bytes(reinterpret_cast<const char*>(t.Bytes.data()), t.Bytes.size()), t.Ok);
        return out;
    }
    void ClearTransfers() {
        std::lock_guard<std::mutex> lock(HidLock());
        claim_->Demo()->Sim().ClearLogs();
    }

private:
    std::unique_ptr<PlatformClaim> claim_;
};

} // namespace

void BindDemoBench(py::module_& m) {
    py::class_<DemoBench>(m, "_DemoBench", "The demo machine held open, for tests.")
        .def(py::init<>())
        .def("unplug", &DemoBench::Unplug, py::call_guard<py::gil_scoped_release>())
        .def("replug", &DemoBench::Replug, py::arg("query_only") = false,
             py::call_guard<py::gil_scoped_release>())
        .def("transfers", &DemoBench::Transfers)
        .def("clear_transfers", &DemoBench::ClearTransfers,
             py::call_guard<py::gil_scoped_release>());
}

} // namespace python
