// Conversions between Python values and the host's CValue.
//
// To the host: None, bool, int (32-bit range), float and str, checked one
// by one so that a wrong argument is named by its position. From the host:
// every value kind, an object reference as the object's name.
#pragma once

#include <pybind11/pybind11.h>

#include <xsi_value.h>

#include <string>

namespace scenehost_py {

namespace py = pybind11;

// Raises TypeError (or OverflowError for an int beyond 32 bits) naming
// `position` (1-based) and `command`.
XSI::CValue ToValue(py::handle item, std::size_t position, const std::string& command);

// Needs the session lock when `value` may hold a reference.
py::object FromValue(const XSI::CValue& value);

}  // namespace scenehost_py
