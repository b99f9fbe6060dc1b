#pragma once
// The world's object pools and the block types read from their JSON definitions.

namespace tavrix::worldFactory {
// The ordered start-up step "worldFactory".
void init();
void final();
} // namespace tavrix::worldFactory

namespace tavrix::blockTypeRegistry {
// The ordered start-up step "blockTypeRegistry".
void init();
void final();
} // namespace tavrix::blockTypeRegistry
