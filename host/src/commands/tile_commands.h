// The host commands that write tiled output (tile_commands.cpp):
// ExportTile, CreateBlocks, SimplifyMesh, WriteTextFile and MakeFolder.
#pragma once

namespace host {

class Runtime;

// Registers them; called with the other host commands.
void RegisterTileCommands(Runtime& rt);

}  // namespace host
