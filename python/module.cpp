// The compiled part of the Python package "scenehost" (scenehost._scenehost,
// re-exported by scenehost/__init__.py): Host, its scene, meshes as NumPy views,
// image clips, the log and the journal. See docs/python.md.
#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <xsi_application.h>

#include "geometry.h"
#include "mesh_ops.h"
#include "runtime.h"
#include "session.h"
#include "values.h"

namespace scenehost_py {

namespace {

static_assert(sizeof(host::Vec3) == 3 * sizeof(float), "positions are packed float triples");
static_assert(sizeof(host::Vec2) == 2 * sizeof(float), "UVs are packed float pairs");

// Python types made at import (exceptions and records).
struct PyTypes {
  py::object commandError, unknownCommandError, logLine, journalEntry, command;
};
PyTypes* g_types = nullptr;  // never freed: lives as long as the module

host::Runtime& Rt() { return host::Runtime::Get(); }
XSI::CString Text(const std::string& s) { return XSI::CString::FromUtf8(s); }

[[noreturn]] void RaiseCommandError(const py::object& type, const std::string& message,
                                    const std::string& command, long status) {
  PyErr_SetObject(type.ptr(), type(message, command, status).ptr());
  throw py::error_already_set();
}

[[noreturn]] void RaiseLookup(const std::string& message) {
  PyErr_SetString(PyExc_LookupError, message.c_str());
  throw py::error_already_set();
}

void CheckSignals() {
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

void RaisePendingInterrupt() {
  if (!Session::Get().TakePendingInterrupt()) return;
  PyErr_SetNone(PyExc_KeyboardInterrupt);
  throw py::error_already_set();
}

// Runs a command under the session lock, the GIL released. Returns the
// command's value; raises CommandError when it fails.
py::object RunLocked(const std::string& name, const XSI::CValueArray& args) {
  host::Runtime& rt = Rt();
  if (!rt.FindCommand(Text(name))) {
    RaiseCommandError(g_types->unknownCommandError, "unknown command '" + name + "'", name,
                      XSI::CStatus::NotFound);
  }
  Session& session = Session::Get();
  session.ClearLastError();
  XSI::CValue out;
  XSI::CStatus status;
  {
    py::gil_scoped_release nogil;
    status = rt.Execute(Text(name), args, out);
  }
  RaisePendingInterrupt();
  if (!status.Succeeded()) {
    const std::string message =
        session.LastError().empty() ? name + " failed" : session.LastError();
    RaiseCommandError(g_types->commandError, message, name, status.GetCode());
  }
  return FromValue(out);
}

// ---- scene objects and meshes ------------------------------------------------

// An object by id: stays right when the object is renamed, and says so
// when it is gone.
struct ObjectHandle {
  std::uint64_t id = 0;
  std::string name;  // as last seen, for messages

  host::SceneObject& Get() {
    host::SceneObject* obj = Rt().GetScene().Get(id);
    if (!obj) RaiseLookup("object '" + name + "' is no longer in the scene");
    name = obj->name.GetUtf8String();
    return *obj;
  }
};

ObjectHandle HandleOf(const host::SceneObject& obj) { return {obj.id, obj.name.GetUtf8String()}; }

// A mesh as it was when read: later commands never change it.
struct MeshSnapshot {
  std::shared_ptr<const host::Mesh> mesh;
  host::Transform xf;
  std::string name;
};

struct ImageHandle {
  std::string name, path;
  std::shared_ptr<const XSI::detail::ImageData> data;
};

// The arrays are NumPy's. An interpreter without NumPy (another python3
// first on PATH) learns which Python the module was built for, rather than
// a bare "No module named 'numpy'". The error stays a ModuleNotFoundError.
void NeedNumPy() {
  static bool found = false;
  if (found) return;
  try {
    py::module_::import("numpy");
    found = true;
    return;
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ImportError)) throw;
  }
  const std::string here = py::str(py::module_::import("sys").attr("executable"));
  const std::string message =
      "scenehost gives meshes and images as NumPy arrays, and this Python (" + here +
      ") cannot import numpy. The module was built for " SCENEHOST_PY_BUILT_FOR
      " and needs NumPy there: run it with " SCENEHOST_PY_BUILT_FOR
      " (Debian's python3-numpy), or install NumPy for this Python";
  PyErr_SetString(PyExc_ModuleNotFoundError, message.c_str());
  throw py::error_already_set();
}

// A read-only array over memory that `owner` keeps alive.
template <typename T>
py::array View(std::shared_ptr<const void> owner, const T* data, std::vector<py::ssize_t> shape,
               std::vector<py::ssize_t> strides) {
  NeedNumPy();
  auto* keep = new std::shared_ptr<const void>(std::move(owner));
  py::capsule base(keep, [](void* p) { delete static_cast<std::shared_ptr<const void>*>(p); });
  py::array array(py::dtype::of<T>(), std::move(shape), std::move(strides), data, base);
  py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return array;
}

template <typename T>
py::array VectorView(const std::shared_ptr<const host::Mesh>& mesh, const std::vector<T>& v) {
  return View<T>(mesh, v.data(), {static_cast<py::ssize_t>(v.size())},
                 {static_cast<py::ssize_t>(sizeof(T))});
}

py::array Vec3View(const std::shared_ptr<const host::Mesh>& mesh, const std::vector<host::Vec3>& v) {
  return View<float>(mesh, v.empty() ? nullptr : &v[0].x, {static_cast<py::ssize_t>(v.size()), 3},
                     {static_cast<py::ssize_t>(sizeof(host::Vec3)), sizeof(float)});
}

py::object Vec2View(const std::shared_ptr<const host::Mesh>& mesh, const std::vector<host::Vec2>& v) {
  return View<float>(mesh, v.empty() ? nullptr : &v[0].x, {static_cast<py::ssize_t>(v.size()), 2},
                     {static_cast<py::ssize_t>(sizeof(host::Vec2)), sizeof(float)});
}

py::array PolygonSizes(const host::Mesh& mesh) {
  NeedNumPy();
  const std::size_t faces = mesh.FaceCount();
  py::array_t<std::uint32_t> sizes(static_cast<py::ssize_t>(faces));
  auto out = sizes.mutable_unchecked<1>();
  for (std::size_t f = 0; f < faces; ++f) {
    out(static_cast<py::ssize_t>(f)) = mesh.faceStart[f + 1] - mesh.faceStart[f];
  }
  py::detail::array_proxy(sizes.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return std::move(sizes);
}

py::tuple Triple(const double v[3]) { return py::make_tuple(v[0], v[1], v[2]); }
py::tuple Triple(host::Vec3 v) { return py::make_tuple(v.x, v.y, v.z); }

std::array<double, 3> ReadTriple(py::handle value, const char* what) {
  const char* wrong = "must be a sequence of three numbers";
  if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value) ||
      py::len(value) != 3) {
    throw py::type_error(std::string(what) + " " + wrong);
  }
  std::array<double, 3> out{};
  py::sequence items = py::reinterpret_borrow<py::sequence>(value);
  for (std::size_t i = 0; i < 3; ++i) {
    py::object item = items[i];
    if (PyBool_Check(item.ptr()) || PyUnicode_Check(item.ptr())) {
      throw py::type_error(std::string(what) + " " + wrong);
    }
    const double v = PyFloat_AsDouble(item.ptr());
    if (v == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      throw py::type_error(std::string(what) + " " + wrong);
    }
    out[i] = v;
  }
  return out;
}

// Writes posx/posy/posz (or rot*) as SetValue does, journalled. All three or
// none: a refused write puts back the ones already made.
void WriteTriple(ObjectHandle& handle, const char* prefix, py::handle value) {
  const std::array<double, 3> v = ReadTriple(value, prefix[0] == 'p' ? "position" : "rotation");
  SessionLock lock;
  host::SceneObject& obj = handle.Get();
  const host::Transform before = obj.xf;
  const double* old = prefix[0] == 'p' ? before.pos : before.rot;
  Session& session = Session::Get();
  session.ClearLastError();
  static const char* axes[] = {"x", "y", "z"};
  for (std::size_t i = 0; i < 3; ++i) {
    const XSI::CStatus st = host::WriteObjectParameter(Rt(), obj, Text(std::string(prefix) + axes[i]),
                                                       XSI::CValue(v[i]));
    if (st.Succeeded()) continue;
    const std::string message = session.LastError();
    for (std::size_t j = 0; j < i; ++j) {
      host::WriteObjectParameter(Rt(), obj, Text(std::string(prefix) + axes[j]), XSI::CValue(old[j]));
    }
    throw py::value_error(message);
  }
}

// ---- records -------------------------------------------------------------------

py::object JournalRecord(const host::JournalEntry& e) {
  py::object none = py::none();
  switch (e.kind) {
    case host::JournalEntry::Command: {
      py::list args;
      for (const auto& a : e.args) args.append(FromValue(a));
      return g_types->journalEntry("command", e.name.GetUtf8String(), py::tuple(args), none, none,
                                   none, e.status.GetCode());
    }
    case host::JournalEntry::ParamWrite:
      return g_types->journalEntry("set", e.name.GetUtf8String(), py::tuple(),
                                   e.object.GetUtf8String(), FromValue(e.value), none, none);
    case host::JournalEntry::Log:
      return g_types->journalEntry("log", e.name.GetUtf8String(), py::tuple(), none, none,
                                   static_cast<int>(e.severity), none);
  }
  return none;
}

// ---- Host ------------------------------------------------------------------------

std::string PathText(py::handle path) {
  py::object text = py::module_::import("os").attr("fspath")(path);
  if (!py::isinstance<py::str>(text)) throw py::type_error("paths must be str or os.PathLike");
  return text.cast<std::string>();
}

class Host {
 public:
  Host(py::object home, py::object plugins) {
    SessionSetup setup;
    if (!home.is_none()) setup.home = PathText(home);
    if (!plugins.is_none()) {
      setup.useDefaultPlugins = false;
      if (py::isinstance<py::str>(plugins) || py::hasattr(plugins, "__fspath__")) {
        setup.pluginPaths.push_back(PathText(plugins));
      } else {
        for (py::handle p : plugins) setup.pluginPaths.push_back(PathText(p));
      }
    }
    SessionLock lock;
    generation_ = Session::Get().Start(setup);
    RaisePendingInterrupt();
  }

  void Check() const {
    if (generation_ != Session::Get().Generation()) {
      throw std::runtime_error(
          "this Host was replaced by a newer Host (the process has one scene); use the new one");
    }
  }

  py::object Run(const std::string& name, const py::args& args) {
    Check();
    CheckSignals();
    XSI::CValueArray values;
    for (std::size_t i = 0; i < args.size(); ++i) values.Add(ToValue(args[i], i + 1, name));
    SessionLock lock;
    Check();
    return RunLocked(name, values);
  }

  void Save(py::object path) {
    Check();
    CheckSignals();
    XSI::CValueArray values;
    values.Add(XSI::CValue(Text(PathText(path))));  // a path is text, even "1"
    SessionLock lock;
    RunLocked("SaveScene", values);
  }

  // RenderPreview; a width or height that is not an int goes to the command
  // as given, which names it in its error.
  void Render(py::object path, py::object width, py::object height, const std::string& view) {
    Check();
    CheckSignals();
    XSI::CValueArray values;
    values.Add(XSI::CValue(Text(PathText(path))));
    values.Add(ToValue(width, 2, "RenderPreview"));
    values.Add(ToValue(height, 3, "RenderPreview"));
    values.Add(XSI::CValue(Text(view)));
    SessionLock lock;
    RunLocked("RenderPreview", values);
  }

  py::dict Commands() {
    Check();
    SessionLock lock;
    py::dict out;
    for (const host::CommandDef* def : Rt().Commands()) {
      py::list args;
      for (const auto& a : def->arguments) args.append(a.name.GetUtf8String());
      const std::string name = def->name.GetUtf8String();
      out[py::str(name)] = g_types->command(name, py::tuple(args), def->owner.GetUtf8String(),
                                            def->description.GetUtf8String());
    }
    return out;
  }

  py::list Images() {
    Check();
    SessionLock lock;
    py::list out;
    for (const host::ClipRecord* clip : Rt().Clips()) {
      if (!clip->image) continue;
      out.append(ImageHandle{clip->name.GetUtf8String(), clip->path, clip->image});
    }
    return out;
  }

  py::list Log() {
    Check();
    SessionLock lock;
    py::list out;
    for (const auto& line : Session::Get().Log()) {
      out.append(g_types->logLine(line.text, line.severity, LoggingLevel(line.severity)));
    }
    return out;
  }

  py::list Journal() {
    Check();
    SessionLock lock;
    py::list out;
    for (const auto& entry : Rt().GetJournal().Entries()) out.append(JournalRecord(entry));
    return out;
  }

  py::object OnLog() const { return Session::Get().Callback(); }
  void SetOnLog(py::object callback) {
    Check();
    if (!callback.is_none() && !PyCallable_Check(callback.ptr())) {
      throw py::type_error("on_log must be callable or None");
    }
    SessionLock lock;
    Session::Get().SetCallback(std::move(callback));
  }

 private:
  std::uint64_t generation_ = 0;
};

// host.scene: a view of the one scene through its Host.
struct SceneView {
  Host host;

  host::SceneObject* Find(const std::string& name) {
    return Rt().GetScene().Find(Text(name));
  }
  py::list Objects() {
    host.Check();
    SessionLock lock;
    py::list out;
    for (host::SceneObject* obj : Rt().GetScene().Objects()) out.append(HandleOf(*obj));
    return out;
  }
  ObjectHandle Item(const std::string& name) {
    host.Check();
    SessionLock lock;
    host::SceneObject* obj = Find(name);
    if (!obj) throw py::key_error(name);
    return HandleOf(*obj);
  }
  bool Contains(py::handle name) {
    host.Check();
    if (!py::isinstance<py::str>(name)) return false;
    SessionLock lock;
    return Find(name.cast<std::string>()) != nullptr;
  }
  std::size_t Size() {
    host.Check();
    SessionLock lock;
    return Rt().GetScene().Count();
  }
  void Clear() {
    host.Check();
    CheckSignals();
    SessionLock lock;
    RunLocked("NewScene", XSI::CValueArray());
  }
};

py::object MeshOf(ObjectHandle& handle) {
  SessionLock lock;
  host::SceneObject& obj = handle.Get();
  if (!obj.geometry.HasMesh()) return py::none();
  return py::cast(MeshSnapshot{obj.geometry.Snapshot(), obj.xf, obj.name.GetUtf8String()});
}

py::array Pixels(const ImageHandle& image) {
  const XSI::detail::ImageData& d = *image.data;
  const auto w = static_cast<py::ssize_t>(d.width), h = static_cast<py::ssize_t>(d.height),
             c = static_cast<py::ssize_t>(d.channels);
  const bool wide = d.bitsPerChannel == 16;
  if (w <= 0 || h <= 0 || c <= 0 || !d.rows) {
    throw std::runtime_error("image clip '" + image.name + "' holds no readable pixels");
  }
  // The host keeps the bottom row first, so row 0 of the view is the bottom
  // row without a copy.
  const auto row = static_cast<py::ssize_t>(d.rowBytes);
  if (wide) {
    return View<std::uint16_t>(image.data, reinterpret_cast<const std::uint16_t*>(d.rows), {h, w, c},
                               {row, c * 2, 2});
  }
  return View<std::uint8_t>(image.data, d.rows, {h, w, c}, {row, c, 1});
}

const char* kModuleDoc = R"(Script the scenehost runtime from Python.

    import scenehost
    host = scenehost.Host()
    host.run("RaiseTower", "Tower", 5, 4, 3, "brick", "A", 1)
    print(host.scene["Tower"].mesh.bounds())

See docs/python.md.)";

const char* kPythonTypes = R"(
import collections

class CommandError(Exception):
    """A host or plug-in command failed.

    str(error) is the command's error log line; .command is the command's
    name and .status its status code (1 Fail, 2 InvalidArgument, 3 NotFound,
    4 Unexpected, 5 OutOfMemory, 6 Abort).
    """
    def __init__(self, message, command=None, status=1):
        super().__init__(message)
        self.command = command
        self.status = status

class UnknownCommandError(CommandError):
    """No command of that name is registered (status 3, NotFound)."""

LogLine = collections.namedtuple("LogLine", "text severity level")
LogLine.__doc__ = ("A log line: its text, its host severity (1 fatal, 2 error, 4 warning, "
                   "8/16 verbose, 32 info) and the matching logging level.")
JournalEntry = collections.namedtuple(
    "JournalEntry", "kind name args object value severity status")
JournalEntry.__doc__ = (
    "A journal record. kind 'command': name, args and status (0 for success). "
    "kind 'set': object (its name before the write), name (the parameter) and value. "
    "kind 'log': name (the text) and severity. Fields that do not apply are None.")
Command = collections.namedtuple("Command", "name arguments owner description")
Command.__doc__ = ("A registered command: its argument names in order and its owner "
                   "('host' or the plug-in's name).")
for _t in (CommandError, UnknownCommandError, LogLine, JournalEntry, Command):
    _t.__module__ = "scenehost"
)";

// The exception and record types, defined in Python (kPythonTypes), and the
// session's log wiring.
void BindPythonTypes(py::module_& m) {
  py::dict ns;
  ns["__builtins__"] = py::module_::import("builtins");
  ns["__name__"] = "scenehost";
  py::exec(kPythonTypes, ns);
  g_types = new PyTypes{ns["CommandError"], ns["UnknownCommandError"], ns["LogLine"],
                        ns["JournalEntry"], ns["Command"]};
  for (const char* name : {"CommandError", "UnknownCommandError", "LogLine", "JournalEntry", "Command"}) {
    m.attr(name) = ns[name];
  }
  Session::Get().Attach(py::module_::import("logging").attr("getLogger")("scenehost"), ns["LogLine"]);
  py::module_::import("atexit").attr("register")(
      py::cpp_function([] { Session::Get().Shutdown(); }));
}

// scenehost.Mesh: a snapshot of an object's mesh, its arrays as NumPy views.
void BindMesh(py::module_& m) {
  py::class_<MeshSnapshot>(m, "Mesh", R"(A mesh as it was when read from an object's .mesh.

Arrays are read-only NumPy views of the host's storage (no copy) and stay
valid after the object changes or goes: the snapshot keeps its storage.)")
      .def_property_readonly(
          "positions", [](const MeshSnapshot& s) { return Vec3View(s.mesh, s.mesh->positions); },
          "float32 (N, 3): vertex positions in object space.")
      .def_property_readonly("polygon_sizes", [](const MeshSnapshot& s) { return PolygonSizes(*s.mesh); },
                             "uint32 (P,): corners of each polygon.")
      .def_property_readonly(
          "polygon_vertices", [](const MeshSnapshot& s) { return VectorView(s.mesh, s.mesh->cornerVertex); },
          "uint32 (sum of polygon_sizes,): the vertex index of each corner, polygon by polygon.")
      .def_property_readonly(
          "normals",
          [](const MeshSnapshot& s) -> py::object {
            if (s.mesh->cornerNormal.empty()) return py::none();
            return Vec3View(s.mesh, s.mesh->cornerNormal);
          },
          "float32 (corners, 3) in object space, or None when the mesh has no normals.")
      .def_property_readonly(
          "uvs",
          [](const MeshSnapshot& s) -> py::object {
            if (s.mesh->cornerUV.empty()) return py::none();
            return Vec2View(s.mesh, s.mesh->cornerUV);
          },
          "float32 (corners, 2), or None when the mesh has no UVs.")
      .def_property_readonly(
          "materials", [](const MeshSnapshot& s) { return VectorView(s.mesh, s.mesh->faceMaterial); },
          "uint32 (P,): each polygon's index into material_names.")
      .def_property_readonly(
          "material_names",
          [](const MeshSnapshot& s) {
            py::list names;
            for (const auto& mat : s.mesh->materials) names.append(mat.name);
            return names;
          },
          "The material names, by index.")
      .def(
          "bounds",
          [](const MeshSnapshot& s) {
            const host::Bounds b = host::ComputeBounds(*s.mesh, s.xf);
            if (b.empty) throw py::value_error("mesh of '" + s.name + "' has no vertices");
            return py::make_tuple(Triple(b.min), Triple(b.max));
          },
          "World-space bounding box ((xmin, ymin, zmin), (xmax, ymax, zmax)), with the object's\n"
          "transform as it was when the mesh was read. ValueError for a mesh without vertices.")
      .def("__repr__", [](const MeshSnapshot& s) {
        return "<scenehost.Mesh of '" + s.name + "': " + std::to_string(s.mesh->VertexCount()) +
               " vertices, " + std::to_string(s.mesh->FaceCount()) + " polygons>";
      });
}

// scenehost.Object: a scene object by id, its name and transform.
void BindObject(py::module_& m) {
  py::class_<ObjectHandle>(m, "Object", "A scene object, found by name in host.scene.")
      .def_property_readonly(
          "name",
          [](ObjectHandle& h) {
            SessionLock lock;
            return h.Get().name.GetUtf8String();
          },
          "The object's name now (LookupError once it is deleted).")
      .def_property(
          "position",
          [](ObjectHandle& h) {
            SessionLock lock;
            return Triple(h.Get().xf.pos);
          },
          [](ObjectHandle& h, py::handle v) { WriteTriple(h, "pos", v); },
          "(x, y, z) in scene units. Setting it writes posx, posy, posz as SetValue does\n"
          "(journalled); a refused value raises ValueError and changes nothing.")
      .def_property(
          "rotation",
          [](ObjectHandle& h) {
            SessionLock lock;
            return Triple(h.Get().xf.rot);
          },
          [](ObjectHandle& h, py::handle v) { WriteTriple(h, "rot", v); },
          "(x, y, z) in degrees, applied x, then y, then z. Set as position is.")
      .def_property_readonly("mesh", &MeshOf,
                             "A snapshot of the object's mesh (a Mesh), or None for a non-mesh object.")
      .def("__eq__", [](const ObjectHandle& a, const ObjectHandle& b) { return a.id == b.id; },
           py::is_operator())
      .def("__hash__", [](const ObjectHandle& h) { return std::hash<std::uint64_t>()(h.id); })
      .def("__repr__", [](ObjectHandle& h) {
        SessionLock lock;
        const bool alive = Rt().GetScene().Get(h.id) != nullptr;
        if (alive) h.Get();
        return "<scenehost.Object '" + h.name + "'" + (alive ? "" : " (deleted)") + ">";
      });
}

// scenehost.Image: an image clip and its pixels as a NumPy array.
void BindImage(py::module_& m) {
  py::class_<ImageHandle>(m, "Image", "An image clip loaded by CreateImageClip.")
      .def_readonly("name", &ImageHandle::name, "The clip's name.")
      .def_readonly("path", &ImageHandle::path, "The file it was read from.")
      .def_property_readonly("width", [](const ImageHandle& i) { return i.data->width; })
      .def_property_readonly("height", [](const ImageHandle& i) { return i.data->height; })
      .def_property_readonly("channels", [](const ImageHandle& i) { return i.data->channels; },
                             "1 grey, 2 grey and alpha, 3 RGB, 4 RGBA.")
      .def("pixels", &Pixels, R"(The pixels as a read-only NumPy array of shape (height, width, channels).

Row 0 is the bottom row (the host's convention: pixel (0, 0) is the
bottom-left one), so pixels()[y, x] is GetPixelValue(x, y). Values are the
stored integers: uint8 (0..255) for 8-bit images, uint16 (0..65535) for
16-bit ones; divide by 255 or 65535 for the host's 0..1 components. No copy:
the array keeps the pixels alive, even after the clip is freed.)")
      .def("__repr__", [](const ImageHandle& i) {
        return "<scenehost.Image '" + i.name + "' " + std::to_string(i.data->width) + "x" +
               std::to_string(i.data->height) + ">";
      });
}

// scenehost.Scene: the objects by name.
void BindScene(py::module_& m) {
  py::class_<SceneView>(m, "Scene", "The scene's objects, by name, in creation order.")
      .def_property_readonly("objects", &SceneView::Objects, "The objects in scene order (a list of Object).")
      .def("__getitem__", &SceneView::Item, "The object of that name; KeyError when there is none.")
      .def("__contains__", &SceneView::Contains)
      .def("__len__", &SceneView::Size)
      .def("__iter__", [](SceneView& s) { return py::iter(s.Objects()); })
      .def("clear", &SceneView::Clear, "Removes every object and image clip (the NewScene command).");
}

// scenehost.Host: the runtime, its commands, saving, rendering and the log.
void BindHost(py::module_& m) {
  py::class_<Host>(m, "Host", R"(The host runtime, with its one scene.

Host(home=None, plugins=None)

home: the host folder (units libraries live below it); by default the one
the scenehost command uses. plugins: folders (every *.so in them) and plug-in
files to load; by default the built or installed plug-ins. A missing folder
or file raises FileNotFoundError.

The process has one scene. Creating a Host starts afresh: the scene, the
image clips and the journal are cleared, and the plug-ins of an earlier Host
are unloaded before this one's load. The earlier Host then raises
RuntimeError when used; meshes and pixel arrays taken from it stay valid.)")
      .def(py::init<py::object, py::object>(), py::arg("home") = py::none(),
           py::arg("plugins") = py::none())
      .def("run", &Host::Run, py::arg("command"),
           R"(run(command, *args) -> value

Runs a host or plug-in command with positional arguments (None, bool, int,
float or str) and returns its value: None, bool, int, float, str (an object
by name) or a list. Raises CommandError when the command fails (the scene is
left as it was), UnknownCommandError for an unknown name, TypeError for an
argument of another type. Other threads wait; Ctrl-C stops a script between
commands, never inside one.)")
      .def("save", &Host::Save, py::arg("path"),
           "Saves the scene as SaveScene does: .obj (with its .mtl) or .glb, chosen by the extension.")
      .def("render", &Host::Render, py::arg("path"), py::arg("width") = 800, py::arg("height") = 600,
           py::arg("view") = "iso",
           R"(render(path, width=800, height=600, view="iso")

Renders the scene's meshes offscreen to a PNG file as RenderPreview does
(docs/preview.md). view: iso, front, back, left, right or top. Raises
CommandError for a size outside 1..8192, an unknown view, an empty scene or
when no EGL driver is installed; no file is written then.)")
      .def_property_readonly("scene",
                             [](Host& h) {
                               h.Check();
                               return SceneView{h};
                             },
                             "The scene (a Scene).")
      .def_property_readonly("commands", &Host::Commands,
                             "A dict: command name -> Command(name, arguments, owner, description).")
      .def_property_readonly("images", &Host::Images, "The image clips, in load order (a list of Image).")
      .def_property_readonly("log", &Host::Log,
                             "The session's log lines (a list of LogLine), oldest first.")
      .def_property_readonly("journal", &Host::Journal,
                             "The session's commands, parameter writes and log lines (JournalEntry).")
      .def_property("on_log", &Host::OnLog, &Host::SetOnLog,
                    "A callable given each LogLine as it is logged, or None. Lines also go to\n"
                    "logging.getLogger('scenehost'). It must not use the Host while a command runs.");
}

}  // namespace

}  // namespace scenehost_py

PYBIND11_MODULE(_scenehost, m) {
  using namespace scenehost_py;
  m.doc() = kModuleDoc;
  BindPythonTypes(m);
  BindMesh(m);
  BindObject(m);
  BindImage(m);
  BindScene(m);
  BindHost(m);
}
