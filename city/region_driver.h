// RaiseRegion: a region recipe raised tile by tile into an OGC 3D Tiles 1.1
// tileset. Three units of work, each a form of the one command:
//   RaiseRegion(recipe)                 every tile, then the tileset (one process)
//   RaiseRegion(recipe, "tile", x, y)   one leaf tile job: its .glb files and summary
//   RaiseRegion(recipe, "tileset")      the coarser levels and tileset.json, from the
//                                       leaves' summaries
//   RaiseRegion(recipe, "plan")         the leaf grid as JSON text, changing nothing
// A trailing "force" rebuilds tiles whose summary says they are current.
//
// A tile job raises its lots in the scene through host commands, writes its
// files through the host's atomic writer and removes what it made, so the
// scene is as it was after every job, failed or not.
#pragma once

#include <xsi_plugin.h>

namespace city {

extern const wchar_t* const kRegionCommandName;  // "RaiseRegion"

XSI::CStatus defineRegionCommand(XSI::CRef& context);
XSI::CStatus executeRaiseRegion(XSI::CRef& context);

}  // namespace city
