// The "RenderPreview" host command (preview_command.cpp): an offscreen
// picture of the scene's meshes, written as a PNG file.
#pragma once

namespace host {

class Runtime;

// Registers "RenderPreview path [width height view]"; called with the other
// host commands.
void RegisterPreviewCommand(Runtime& rt);

}  // namespace host
