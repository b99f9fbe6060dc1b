#pragma once
// Texture names turned into shared, reference-counted OpenGL textures: loaded through the content store,
// decoded on its workers, uploaded on the OpenGL thread (compressed to DXT5 where the driver can), kept
// compressed in the file-system cache for the next start, and announced on the "TextureMgr Worker".
#include <atomic>
#include <cstdint>

namespace tavrix::textureMgr {

struct texture;
// Runs on the "TextureMgr Worker" once the texture is on the GPU. The texture holds the reference the
// request added; for a texture that could not be loaded it is the default texture, with a reference of
// its own.
typedef void (*loadCallback)(texture* tex, void* user, void* arg);

// What other modules read of a texture record; the rest of it is the manager's own (textureRecord).
struct texture {
    uint32_t glId; // 0 until uploaded
    uint32_t width;
    uint32_t height;
    char* name; // "data/textures/<name>": the key of the name table and of the cache entry
    std::atomic<int32_t> refCnt;
};

// Main thread, with the OpenGL context current (the extension flags are read).
void init();
// Main thread. Textures still referenced are deleted only while an OpenGL context is current.
void final();

// Any thread. The texture handed to the callback holds one reference for the request, which the caller
// gives back with releaseTextureRecord or releaseTexture.
void loadTexture(const char* name, loadCallback callback, void* user, void* arg);
// The ordered start-up step "TextureMgr": requests "default.png" and waits until it has arrived.
void loadDefaultTexture();
// Returns once the default texture is in; throws the default texture's fatal error when it is not in
// within `milliseconds`, and returns early when the start-up is being cut short.
void awaitDefaultTexture(uint32_t milliseconds);
void cb_DefaultTextureLoaded(texture* tex, void* user, void* arg);
// Adds a reference to the default texture.
texture* getDefaultTexture();

bool IncreaseRefCnt(texture* tex);
void releaseTexture(uint32_t glId);
void releaseTextureRecord(texture* tex);

} // namespace tavrix::textureMgr
