// The module's parts that are bound in files of their own; PYBIND11_MODULE in Module.cpp calls
// each once.
#pragma once

#include <pybind11/pybind11.h>

namespace python {

// read_csv() and its Recording.
void BindRecording(pybind11::module_& m);
// _DemoBench: the demo machine held open for the tests.
void BindDemoBench(pybind11::module_& m);

} // namespace python
