#include "values.h"

#include <climits>

#include <xsi_siobject.h>
#include <xsi_string.h>

namespace scenehost_py {

namespace {

std::string Where(std::size_t position, const std::string& command) {
  return "argument " + std::to_string(position) + " of " + command;
}

// A Python int of any size; the host's ints are 32-bit.
XSI::CValue IntValue(py::handle item, std::size_t position, const std::string& command) {
  py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(item.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0 || v < INT_MIN || v > INT_MAX) {
    PyErr_Format(PyExc_OverflowError,
                 "%s: %S is outside the 32-bit int range of host values (pass a float instead)",
                 Where(position, command).c_str(), index.ptr());
    throw py::error_already_set();
  }
  return XSI::CValue(static_cast<int>(v));
}

// float, and real numbers that convert to one (NumPy's float32, ...).
bool IsReal(py::handle item) {
  if (PyFloat_Check(item.ptr())) return true;
  const PyNumberMethods* number = Py_TYPE(item.ptr())->tp_as_number;
  return number && number->nb_float && !PyComplex_Check(item.ptr());
}

}  // namespace

XSI::CValue ToValue(py::handle item, std::size_t position, const std::string& command) {
  if (item.is_none()) return XSI::CValue();
  // bool before int: bool is a subclass of int in Python.
  if (PyBool_Check(item.ptr())) return XSI::CValue(item.ptr() == Py_True);
  // Integers, NumPy's included, but never a float that happens to be whole.
  if (PyLong_Check(item.ptr()) || (!PyFloat_Check(item.ptr()) && PyIndex_Check(item.ptr()))) {
    return IntValue(item, position, command);
  }
  if (IsReal(item)) {
    const double v = PyFloat_AsDouble(item.ptr());
    if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return XSI::CValue(v);
  }
  if (PyUnicode_Check(item.ptr())) {
    return XSI::CValue(XSI::CString::FromUtf8(item.cast<std::string>()));
  }
  const std::string type = py::str(py::type::handle_of(item).attr("__name__"));
  throw py::type_error(Where(position, command) + ": cannot pass a value of type '" + type +
                       "'; use int, float, bool, str or None");
}

py::object FromValue(const XSI::CValue& value) {
  switch (value.GetType()) {
    case XSI::CValue::siEmpty: return py::none();
    case XSI::CValue::siInt4: return py::int_(value.GetAsInt());
    case XSI::CValue::siFloat:
    case XSI::CValue::siDouble: return py::float_(value.GetAsDouble());
    case XSI::CValue::siBool: return py::bool_(value.GetAsBool());
    case XSI::CValue::siString: return py::str(value.GetAsText().GetUtf8String());
    case XSI::CValue::siArray: {
      const XSI::CValueArray items = value.GetAsArray();
      py::list out;
      for (long i = 0; i < items.GetCount(); ++i) out.append(FromValue(items[i]));
      return std::move(out);
    }
    case XSI::CValue::siRef: {
      const std::string name = XSI::SIObject(value.GetAsRef()).GetFullName().GetUtf8String();
      if (name.empty()) return py::none();
      return py::str(name);
    }
  }
  return py::none();
}

}  // namespace scenehost_py
