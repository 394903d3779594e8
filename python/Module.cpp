// The Python module ormelix: the instrument's records as numpy arrays, its commands, and
// ormelix-cli's recordings read back. The work is done in Session and CsvReader, with the GIL
// released; this file only speaks Python.
#include "hid/HidPlatform.h"
#include "instrument/Command.h"
#include "python/Bindings.h"
#include "python/CsvReader.h"
#include "python/Session.h"
#include "tools/cli/Csv.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <thread>
#include <variant>

namespace py = pybind11;
using namespace python;

namespace {

const char* const kModuleDoc = R"(The Ormelix instrument from Python, with numpy.

The same HID layer and protocol as the console and ormelix-cli: the instrument
is found by its USB strings, records are fetched and commands sent in feature
report 0, and volts follow the console's rule (byte x 1.1 / scale, NaN at
scale 0). demo=True uses the virtual instrument, so everything works without
hardware. The module is built on Linux only; on Windows it is not built.

Five lines: switch the output OS2 on, record 20 records from the demo and plot
both traces with matplotlib:

    import matplotlib.pyplot as plt, numpy as np, ormelix
    with ormelix.Instrument(demo=True) as scope:      # demo=False: the instrument itself
        scope.send("os2=1")
        rec = list(scope.record(count=20, period=0.1))
    plt.plot(np.array([r.s1_volts for r in rec]).T, "b", np.array([r.s2_volts for r in rec]).T, "r"); plt.show()

send() takes the names and codes of 'ormelix-cli send'; instruments() lists the
instruments present; ormelix.read_csv(path) reads an ormelix-cli recording.
Errors: ormelix.NotFound, ormelix.AccessDenied (the udev rule), ormelix.Error;
ValueError for a bad command.
)";

// A record as fetched, with the wall-clock time of its fetch.
struct PyRecord {
    hidlink::Record Bytes{};
    double Time = 0; // seconds since 1970
};

double Now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double Volts(uint8_t Byte, uint8_t Scale) {
    if (Scale == 0) return std::nan("");
    return static_cast<double>(instrument::ByteVolts(Byte, Scale));
}

py::array_t<uint8_t> Trace(const PyRecord& R, int Signal) {
    py::array_t<uint8_t> out(instrument::SamplePoints);
    auto v = out.mutable_unchecked<1>();
    for (int i = 0; i < instrument::SamplePoints; ++i)
        v(i) = R.Bytes[instrument::SampleByte(Signal, i)];
    return out;
}

py::array_t<double> TraceVolts(const PyRecord& R, int Signal) {
    py::array_t<double> out(instrument::SamplePoints);
    auto v = out.mutable_unchecked<1>();
    const uint8_t scale = R.Bytes[instrument::ScaleByte];
    for (int i = 0; i < instrument::SamplePoints; ++i)
        v(i) = Volts(R.Bytes[instrument::SampleByte(Signal, i)], scale);
    return out;
}

PyRecord Stamped(const hidlink::Record& Bytes) {
    return {Bytes, Now()};
}

// The command table's position of a name or a code, as ormelix-cli send takes them.
int CommandItem(const std::variant<std::string, int>& Command) {
    const std::string text = std::holds_alternative<int>(Command)
                                 ? std::to_string(std::get<int>(Command))
                                 : std::get<std::string>(Command);
    const int item = instrument::FindCommandItem(text);
    if (item < 0) throw py::value_error("unknown command " + text);
    return item;
}

uint8_t CommandPeriod(int Item, const std::optional<int>& Period) {
    const instrument::CommandItem& command = instrument::CommandItems[Item];
    if (!command.TakesPeriod) {
        if (Period) throw py::value_error(std::string(command.Name) + " takes no value");
        return 0;
    }
    if (!Period || *Period < instrument::PollPeriodMin || *Period > instrument::PollPeriodMax)
        throw py::value_error("save-period needs the poll period to store, " +
                              std::to_string(instrument::PollPeriodMin) + " to " +
                              std::to_string(instrument::PollPeriodMax));
    return static_cast<uint8_t>(*Period);
}

std::shared_ptr<Instrument> Open(const std::shared_ptr<Instrument>& I) {
    if (I->Closed()) throw py::value_error("the instrument is closed");
    return I;
}

std::chrono::milliseconds Milliseconds(double Seconds) {
    return std::chrono::milliseconds(std::llround(Seconds * 1000.0));
}

// record()'s iterator: the recording pace with the GIL released, Ctrl-C taken between naps.
class RecordStream {
public:
    RecordStream(std::shared_ptr<Instrument> I, PaceOptions Options)
        : instrument_(std::move(I)), pace_(*instrument_, Options) {}

    PyRecord Next() {
        Open(instrument_);
        std::optional<hidlink::Record> r;
        {
            py::gil_scoped_release release;
            r = pace_.Next([](std::chrono::milliseconds Wait) {
                const auto until = std::chrono::steady_clock::now() + Wait;
                for (;;) {
                    const auto left = until - std::chrono::steady_clock::now();
                    if (left <= std::chrono::steady_clock::duration::zero()) return;
                    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                        left, std::chrono::milliseconds(50)));
                    py::gil_scoped_acquire acquire;
                    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                }
            });
        }
        if (!r) throw py::stop_iteration();
        return Stamped(*r);
    }

    uint64_t Gaps() const { return pace_.Gaps(); }

private:
    std::shared_ptr<Instrument> instrument_;
    Pace pace_;
};

} // namespace

PYBIND11_MODULE(ormelix, m) {
    m.doc() = kModuleDoc;
    SetHidPlatform(NativeHidPlatform());

    static py::exception<python::Error> error(m, "Error", PyExc_RuntimeError);
    error.doc() = "The instrument could not be used: a transfer refused, the HID libraries "
                  "missing, the demo and this machine's instruments used at once.";
    static py::exception<python::Error> notFound(m, "NotFound", error.ptr());
    notFound.doc() = "No instrument, or not the one asked for (by path or USB serial number).";
    static py::exception<python::Error> accessDenied(m, "AccessDenied", error.ptr());
    accessDenied.doc() = "The instrument is present but does not open read-write: install the "
                         "udev rule 70-ormelix.rules and plug it in again.";
    py::register_exception_translator([](std::exception_ptr P) {
        try {
            if (P) std::rethrow_exception(P);
        } catch (const python::Error& e) {
            const py::exception<python::Error>& type = e.Kind == ErrorKind::NotFound ? notFound
                                                       : e.Kind == ErrorKind::AccessDenied
                                                           ? accessDenied
                                                           : error;
            PyErr_SetString(type.ptr(), e.what());
        } catch (const CsvError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const CsvFileError& e) {
            PyErr_SetObject(PyExc_OSError,
                            py::make_tuple(e.Errno, std::strerror(e.Errno), e.Path).ptr());
        }
    });

    auto recordClass =
        py::class_<PyRecord>(m, "Record", R"(One record of the instrument.

The names follow the columns of ormelix-cli's CSV: s1, s2 (uint8 arrays of 121
points), s1_volts, s2_volts (float64, byte x 1.1 / scale; NaN at scale 0),
scale, cursor, min_s1, max_s1, min_s2, max_s2 (bytes) and their _volts twins,
poll_period, time (when it was fetched), raw (the 254 bytes).)")
            .def(py::init([](py::bytes Raw, std::optional<double> Time) {
                     const std::string bytes = Raw;
                     if (bytes.size() != instrument::RecordSize)
                         throw py::value_error("a record is " +
                                               std::to_string(instrument::RecordSize) +
                                               " bytes, not " + std::to_string(bytes.size()));
                     PyRecord r;
                     std::copy(bytes.begin(), bytes.end(), r.Bytes.begin());
                     r.Time = Time.value_or(Now());
                     return r;
                 }),
                 py::arg("raw"), py::arg("time") = py::none(),
                 "A record from its 254 bytes (as Record.raw gives them) and a POSIX time.")
            .def_property_readonly(
                "raw",
                [](const PyRecord& R) {
                    return py::bytes(reinterpret_cast<const char*>(R.Bytes.data()), R.Bytes.size());
                },
                "The record's 254 bytes as the instrument sent them.")
            .def_property_readonly(
                "s1", [](const PyRecord& R) { return Trace(R, 0); }, "S1's 121 points, bytes.")
            .def_property_readonly(
                "s2", [](const PyRecord& R) { return Trace(R, 1); }, "S2's 121 points, bytes.")
            .def_property_readonly(
                "s1_volts", [](const PyRecord& R) { return TraceVolts(R, 0); }, "S1 in volts.")
            .def_property_readonly(
                "s2_volts", [](const PyRecord& R) { return TraceVolts(R, 1); }, "S2 in volts.")
            .def_property_readonly(
                "scale", [](const PyRecord& R) { return R.Bytes[instrument::ScaleByte]; },
                "The scale byte: volts are byte x 1.1 / scale.")
            .def_property_readonly(
                "cursor", [](const PyRecord& R) { return R.Bytes[instrument::CursorPos]; },
                "The cursor's position byte.")
            .def_property_readonly(
                "poll_period", [](const PyRecord& R) { return R.Bytes[instrument::PollPeriod]; },
                "The poll period byte (also S1's last point).")
            .def_property_readonly(
                "time",
                [](const PyRecord& R) {
                    return py::module_::import("datetime")
                        .attr("datetime")
                        .attr("fromtimestamp")(R.Time)
                        .attr("astimezone")();
                },
                "When the record was fetched, a datetime in local time with its UTC offset.")
            .def_property_readonly(
                "timestamp", [](const PyRecord& R) { return R.Time; },
                "When the record was fetched, POSIX seconds.")
            .def("__eq__", [](const PyRecord& A, const PyRecord& B) { return A.Bytes == B.Bytes; })
            .def("__repr__", [](const PyRecord& R) {
                return "<ormelix.Record scale=" + std::to_string(R.Bytes[instrument::ScaleByte]) +
                       " cursor=" + std::to_string(R.Bytes[instrument::CursorPos]) + ">";
            });
    for (const cli::LevelColumn& level : cli::LevelColumns) {
        const int byte = level.Byte;
        recordClass.def_property_readonly(
            level.Name, [byte](const PyRecord& R) { return R.Bytes[byte]; }, "A level, byte.");
        recordClass.def_property_readonly((std::string(level.Name) + "_volts").c_str(),
                                          [byte](const PyRecord& R) {
                                              return Volts(R.Bytes[byte],
                                                           R.Bytes[instrument::ScaleByte]);
                                          },
                                          "A level in volts (NaN at scale 0).");
    }

    py::class_<ListedInstrument>(m, "InstrumentInfo", "An instrument present.")
        .def_property_readonly(
            "path", [](const ListedInstrument& I) { return I.Entry.Path; }, "Its device path.")
        .def_property_readonly(
            "serial",
            [](const ListedInstrument& I) -> std::optional<std::string> {
                if (I.Entry.Serial.empty()) return std::nullopt;
                return I.Entry.Serial;
            },
            "Its USB serial number, or None.")
        .def_property_readonly(
            "location",
            [](const ListedInstrument& I) -> std::optional<std::string> {
                if (I.Entry.Location.empty()) return std::nullopt;
                return I.Entry.Location;
            },
            "Where it sits on the bus, or None.")
        .def_readonly("default", &ListedInstrument::Default,
                      "The one Instrument() takes without a device: the last listed.")
        .def("__repr__", [](const ListedInstrument& I) {
            return "<ormelix.InstrumentInfo path=" + I.Entry.Path +
                   " serial=" + (I.Entry.Serial.empty() ? "None" : I.Entry.Serial) + ">";
        });

    m.def(
        "instruments",
        [](bool Demo) {
            py::gil_scoped_release release;
            return ListInstruments(Demo);
        },
        py::arg("demo") = false,
        "The instruments present in the system's order: path, serial number, bus location, and "
        "which one Instrument() takes by default. demo=True: the virtual instrument's machine.");

    py::class_<RecordStream>(m, "RecordStream", "The records of Instrument.record(), as they come.")
        .def("__iter__", [](RecordStream& S) -> RecordStream& { return S; })
        .def("__next__", &RecordStream::Next)
        .def_property_readonly("gaps", &RecordStream::Gaps,
                               "How often the instrument went away during the run.");

    py::class_<Instrument, std::shared_ptr<Instrument>>(m, "Instrument", R"(One instrument, held.

Instrument(device=None, demo=False): device is a path or USB serial number (see
instruments()); without one, the instrument the console takes. demo=True: the
virtual instrument. Raises NotFound, AccessDenied or Error with ormelix-cli's
messages. A context manager; close() lets the instrument go.)")
        .def(py::init([](std::optional<std::string> Device, bool Demo) {
                 py::gil_scoped_release release;
                 return std::make_shared<Instrument>(Device.value_or(""), Demo);
             }),
             py::arg("device") = py::none(), py::arg("demo") = false)
        .def(
            "close",
            [](Instrument& I) {
                py::gil_scoped_release release;
                I.Close();
            },
            "Lets the instrument go; later calls raise ValueError.")
        .def_property_readonly("closed", &Instrument::Closed)
        .def_property_readonly(
            "path",
            [](Instrument& I) {
                py::gil_scoped_release release;
                return I.Path();
            },
            "The device path of the instrument held.")
        .def("__enter__", [](std::shared_ptr<Instrument> I) { return Open(I); })
        .def("__exit__",
             [](Instrument& I, py::args) {
                 py::gil_scoped_release release;
                 I.Close();
             })
        .def(
            "fetch",
            [](Instrument& I) {
                // The shortest path: the Python side of a fetch is what it costs over C++.
                if (I.Closed()) throw py::value_error("the instrument is closed");
                PyRecord r;
                {
                    py::gil_scoped_release release;
                    r.Bytes = I.Fetch();
                    r.Time = Now();
                }
                return r;
            },
            "Fetches one record (NotFound when the instrument went away).")
        .def(
            "send",
            [](const std::shared_ptr<Instrument>& I, std::variant<std::string, int> Command,
               std::optional<int> Period) {
                Open(I);
                const int item = CommandItem(Command);
                const uint8_t period = CommandPeriod(item, Period);
                hidlink::Record r;
                {
                    py::gil_scoped_release release;
                    r = I->Send(item, period);
                }
                return Stamped(r);
            },
            py::arg("command"), py::arg("period") = py::none(),
            R"(Sends a command as the console's command button does.

command is a name or a code as 'ormelix-cli send' takes them: normal (0),
read-stored (1), save-period (2, with period 1..255), reset (32), os1=0 (48),
os1=1 (49), os2=0 (64), os2=1 (65). A record just fetched goes back with the
command code; read-stored first fetches the stored variables. Returns the
record that went to the instrument last (for read-stored: the stored
variables). ValueError for an unknown command or a bad period.)")
        .def(
            "record",
            [](const std::shared_ptr<Instrument>& I, std::optional<long long> Count,
               std::optional<double> Duration, double Period, double Wait) {
                Open(I);
                PaceOptions options;
                if (Count) {
                    if (*Count <= 0)
                        throw py::value_error("count takes a number of records above 0");
                    options.Count = static_cast<uint64_t>(*Count);
                }
                if (Duration) {
                    if (!(*Duration > 0) || *Duration > 87600.0 * 3600)
                        throw py::value_error("duration takes seconds above 0, up to 87600 h");
                    options.Duration = Milliseconds(*Duration);
                }
                if (!(Period >= 0.01 && Period <= 3600))
                    throw py::value_error("period takes seconds from 0.01 to 3600");
                if (!(Wait >= 0 && Wait <= 87600.0 * 3600))
                    throw py::value_error("wait takes seconds from 0 up to 87600 h");
                options.Period = Milliseconds(Period);
                options.Wait = Milliseconds(Wait);
                return RecordStream(I, options);
            },
            py::arg("count") = py::none(), py::arg("duration") = py::none(),
            py::arg("period") = 0.5, py::arg("wait") = 10.0,
            R"(Yields records at the console's pace: period seconds from the end of one
fetch to the next, until count records or duration seconds. The instrument is
waited for when it is away (at the start at most wait seconds, then NotFound;
later for as long as the run lasts) and the run goes on when it is back.)")
        .def(
            "_time_fetches",
            [](Instrument& I, int Count) {
                py::gil_scoped_release release;
                return I.TimeFetches(Count);
            },
            "Seconds for Count fetches made in C++ (the benchmark's baseline).");

    BindRecording(m);
    BindDemoBench(m);
}
