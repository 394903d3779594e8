// read_csv(): an ormelix-cli recording read by CsvReader, with the GIL released, into numpy
// columns, and on to pandas when it is installed.
#include "instrument/Protocol.h"
#include "python/Bindings.h"
#include "python/CsvReader.h"
#include "tools/cli/Csv.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <memory>
#include <string>
#include <vector>

namespace py = pybind11;

namespace python {
namespace {

// read_csv's result: the columns, named as the recording's header names them.
struct Recording {
    py::dict Columns;
    bool Raw = false;
    size_t Rows = 0;
};

Recording ReadCsv(const std::string& Path) {
    std::unique_ptr<CsvReader> reader;
    {
        py::gil_scoped_release release;
        reader = std::make_unique<CsvReader>(Path);
    }
    const auto rows = static_cast<py::ssize_t>(reader->Rows());
    const bool raw = reader->Raw();
    const py::ssize_t points = instrument::SamplePoints;
    py::array_t<int64_t> time(rows);
    py::array_t<uint64_t> counter(rows);
    py::array_t<uint8_t> scale(rows), cursor(rows);
    const auto column = [&](std::vector<py::ssize_t> Shape) -> py::array {
        if (raw) return py::array_t<uint8_t>(Shape);
        return py::array_t<double>(Shape);
    };
    py::array levels[4] = {column({rows}), column({rows}), column({rows}), column({rows})};
    py::array s1 = column({rows, points}), s2 = column({rows, points});
    CsvColumns into{time.mutable_data(),
                    counter.mutable_data(),
                    scale.mutable_data(),
                    cursor.mutable_data(),
                    {levels[0].mutable_data(), levels[1].mutable_data(), levels[2].mutable_data(),
                     levels[3].mutable_data()},
                    s1.mutable_data(),
                    s2.mutable_data()};
    uint64_t read = 0;
    {
        py::gil_scoped_release release;
        read = reader->Read(into);
    }
    Recording out;
    out.Raw = raw;
    out.Rows = read;
    const py::slice first(0, static_cast<py::ssize_t>(read), 1);
    const auto put = [&](const char* Name, const py::object& Array) {
        out.Columns[Name] = read == static_cast<uint64_t>(rows) ? Array : Array[first];
    };
    put("time", time.attr("view")("datetime64[ms]"));
    put("record", counter);
    put("scale", scale);
    put("cursor", cursor);
    for (int i = 0; i < 4; ++i) put(cli::LevelColumns[i].Name, levels[i]);
    put("s1", s1);
    put("s2", s2);
    return out;
}

py::object ToPandas(const Recording& R) {
    py::module_ pandas;
    try {
        pandas = py::module_::import("pandas");
    } catch (py::error_already_set&) {
        throw py::import_error("to_pandas() needs pandas (Debian: python3-pandas); the columns "
                               "are numpy arrays without it");
    }
    py::dict data;
    for (const char* name : {"time", "record", "scale", "cursor"}) data[name] = R.Columns[name];
    for (const cli::LevelColumn& level : cli::LevelColumns)
        data[level.Name] = R.Columns[level.Name];
    for (int signal = 1; signal <= 2; ++signal) {
        py::object trace = R.Columns[signal == 1 ? "s1" : "s2"];
        for (int i = 0; i < instrument::SamplePoints; ++i)
            data[py::str("s{}_{}").format(signal, i)] =
                trace[py::make_tuple(py::slice(py::none(), py::none(), py::none()), i)];
    }
    return pandas.attr("DataFrame")(data);
}

} // namespace

void BindRecording(py::module_& m) {
    py::class_<Recording>(m, "Recording", R"(An ormelix-cli recording read by read_csv().

Columns as numpy arrays, named as the CSV's header: time (datetime64[ms], UTC),
record, scale, cursor, min_s1, max_s1, min_s2, max_s2, and s1, s2 as rows x 121.
Volt recordings hold float64 volts (NaN where the scale was 0), raw ones uint8.)")
        .def_readonly("raw", &Recording::Raw, "The file holds bytes, not volts.")
        .def_readonly("columns", &Recording::Columns, "Every column by name.")
        .def("__len__", [](const Recording& R) { return R.Rows; })
        .def("__getattr__",
             [](const Recording& R, const std::string& Name) -> py::object {
                 if (!R.Columns.contains(Name)) throw py::attribute_error(Name);
                 return R.Columns[Name.c_str()];
             })
        .def("to_pandas", &ToPandas,
             "A pandas DataFrame with the CSV's columns (ImportError without pandas).");

    m.def("read_csv", &ReadCsv, py::arg("path"),
          R"(Reads an ormelix-cli recording (volts or --raw) into a Recording.

Reads the file in blocks, twice (count, then parse), so a day-long recording
needs memory for its columns only. A last row without its line end (the run
was cut off) is left out. ValueError for a file that is not a recording.)");
}

} // namespace python
