// RenderPreview(path, width = 800, height = 600, view = "iso"): renders
// every mesh object (render/preview_renderer.h) and writes the picture as a
// PNG through a temporary file, so a failed render never replaces a file.
#include "preview_command.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "command_args.h"
#include "export_item.h"
#include "png_encode.h"
#include "preview_renderer.h"
#include "preview_settings.h"
#include "runtime.h"
#include "safe_file.h"

namespace host {

namespace {

constexpr const wchar_t* kName = L"RenderPreview";

CStatus Fail(Runtime& rt, const std::string& what, CStatus code = CStatus::Fail) {
  rt.Error(CString(kName) + L": " + FromUtf8(what));
  return code;
}

std::string Quoted(const std::string& text) { return ToUtf8(QuoteArg(FromUtf8(text))); }

// A picture side: a whole number from an int, a real without fraction or
// text of digits; empty means the default.
bool SideArg(const CValueArray& args, long index, const char* what, int fallback, int& side,
             std::string& error) {
  if (args.GetCount() <= index || args[index].IsEmpty()) {
    side = fallback;
    return true;
  }
  const CValue& v = args[index];
  double value = NAN;
  if (!ReadFiniteNumber(v, value) || value != std::floor(value)) {
    error = std::string(what) + " " + Quoted(ToUtf8(v.GetAsText())) + " is not a whole number of pixels";
    return false;
  }
  if (value < 1 || value > render::kMaxPreviewSide) {
    error = render::SideRangeProblem(what, ToUtf8(v.GetAsText()));
    return false;
  }
  side = static_cast<int>(value);
  return true;
}

bool ViewArg(const CValueArray& args, long index, render::View& view, std::string& error) {
  if (args.GetCount() <= index || args[index].IsEmpty()) {
    view = render::View::Iso;
    return true;
  }
  return render::ParsePreviewView(ToUtf8(args[index].GetAsText()), view, error);
}

bool EndsWithPng(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".png";
}

CStatus RenderPreviewCommand(Runtime& rt, const CValueArray& args, CValue&) {
  if (args.GetCount() < 1) return Fail(rt, "expects a file path ending in .png", CStatus::InvalidArgument);
  if (HasNul(args[0].GetAsText())) return Fail(rt, "the file path holds a NUL character", CStatus::InvalidArgument);
  const std::string path = NormalisePath(ToUtf8(args[0].GetAsText()));
  if (!EndsWithPng(path))
    return Fail(rt, "cannot render preview " + Quoted(path) + ": the name must end in .png",
                CStatus::InvalidArgument);
  render::PreviewSettings settings;
  std::string error;
  if (!SideArg(args, 1, "width", 800, settings.width, error) ||
      !SideArg(args, 2, "height", 600, settings.height, error) || !ViewArg(args, 3, settings.view, error))
    return Fail(rt, "cannot render preview " + Quoted(path) + ": " + error, CStatus::InvalidArgument);

  std::vector<std::shared_ptr<const Mesh>> meshes;  // keeps the items' meshes alive
  std::vector<ExportItem> items;
  for (SceneObject* obj : rt.GetScene().Objects()) {
    if (!obj->geometry.HasMesh()) continue;
    meshes.push_back(obj->geometry.Snapshot());
    items.push_back(ExportItem{ToUtf8(obj->name), meshes.back().get(), obj->xf});
  }
  render::RgbImage image;
  std::string png;
  if (!render::RenderPreview(items, meshes, settings, image, error) || !render::EncodePng(image, png, error))
    return Fail(rt, "cannot render preview " + Quoted(path) + ": " + error);
  if (!WriteFileAtomically(path, png, error))
    return Fail(rt, "cannot write preview " + Quoted(path) + ": " + error);
  return CStatus::OK;
}

}  // namespace

void RegisterPreviewCommand(Runtime& rt) {
  CommandDef def;
  def.name = kName;
  def.scriptName = kName;
  def.owner = L"host";
  def.description = L"Render the scene's meshes offscreen to a PNG (views: iso, front, back, left, right, top)";
  def.returnsValue = true;
  for (const wchar_t* a : {L"path", L"width", L"height", L"view"}) def.arguments.push_back(ArgumentDef{a, CValue()});
  Runtime* r = &rt;
  def.run = [r](const CValueArray& args, CValue& out) { return RenderPreviewCommand(*r, args, out); };
  rt.RegisterCommand(std::move(def));
}

}  // namespace host
