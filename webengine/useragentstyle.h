#pragma once
// The engine's own user-agent style sheet (the HTML library brings none).

namespace eawebkit::engine {

extern const char kUserAgentStyleSheet[];

} // namespace eawebkit::engine
