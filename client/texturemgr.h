#pragma once
// Texture names turned into shared, reference-counted OpenGL textures.

namespace tavrix::textureMgr {
void init();
void final();
// The ordered start-up step "TextureMgr": requests "default.png".
void loadDefaultTexture();
} // namespace tavrix::textureMgr
