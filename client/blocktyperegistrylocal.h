#pragma once
// The world factory's pools and the block-type registry's steps, shared by its own file and its tests.
#include <cstdint>

#include "client/blocktyperegistry.h"
#include "platformlib/json/parser.h"

template <class T>
class Pool;

namespace tavrix {

namespace worldFactory {
extern Pool<blockType>* blockTypePool;
extern Pool<Chunk>* chunkPool;
extern Pool<Block>* blockPool;
} // namespace worldFactory

bool btJsonAssignValue(blockType* bt, const char* key, jsonValue value);
bool btJsonAssignSurface(blockType* bt, uint32_t index, jsonValue value);

namespace blockTypeRegistry {

// How long clear waits for registrations still waiting for their textures.
constexpr uint32_t CLEAR_WAIT_MS = 10000;

// Any failure is fatal.
void loadJson(const char* data, uint32_t size);
bool defineBlockFromJson(const char* sysName, jsonValue value);
bool registerBlock(blockType* bt);
void registerBlock_onTextureLoaded(textureMgr::texture* tex, void* bt, void* surface);
blockType* allocBT();
void freeBT(blockType* bt);
void clear();

// Registrations whose textures have not all arrived.
int32_t pendingRegistrations();

} // namespace blockTypeRegistry
} // namespace tavrix
