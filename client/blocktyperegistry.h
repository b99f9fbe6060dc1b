#pragma once
// The world's object pools and the block types read from their JSON definitions, each published once the
// textures of its six surfaces have arrived.
#include <atomic>
#include <cstdint>

#include "client/texturemgr.h"

namespace tavrix {

// Valid ids are 0 to BLOCKTYPEID_MAX - 1.
constexpr uint32_t BLOCKTYPEID_MAX = 0xFFFE;
constexpr uint32_t BLOCKTYPE_SYSNAME_SIZE = 64;
constexpr uint32_t BLOCKTYPE_SURFACES = 6;

struct blockType {
    struct surface {
        char* texture; // the texture's name, a private copy
        int32_t slotX; // in 32-pixel tiles, as the definition gives it (saturated to 32 bits)
        int32_t slotY;
        textureMgr::texture* tex; // one reference
        int32_t pixelX;
        int32_t pixelY;
    };

    // Checked against BLOCKTYPEID_MAX before it is used, so a definition's id never wraps.
    uint32_t id;
    char sysName[BLOCKTYPE_SYSNAME_SIZE];
    uint8_t isSolid;
    surface surface[BLOCKTYPE_SURFACES];
    std::atomic<int32_t> pendingTextures;
    // Which of "id", "isSolid" and "surface" the definition gave.
    uint32_t assignedKeys;
};

struct Chunk {};

struct Block {
    uint8_t bytes[16];
};

namespace worldFactory {
// The ordered start-up step "worldFactory".
void init();
void final();
} // namespace worldFactory

namespace blockTypeRegistry {
// The ordered start-up step "blockTypeRegistry": reads "data/test/testBlockDef.json".
void init();
void final();
// The published block type of an id, or null.
blockType* getBlockType(uint32_t id);
} // namespace blockTypeRegistry
} // namespace tavrix
