#pragma once
// The interim screens' common draw.

namespace tavrix::interim {
// Clears the buffers and swaps the main window's; OpenGL thread.
void drawEmptyFrame();
} // namespace tavrix::interim
