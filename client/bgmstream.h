#pragma once
// One OGG Vorbis file from the content store streamed through one source of the BGM context: the file is
// held in memory, decoded block by block into a ring of 8 OpenAL buffers and kept refilled by a timer.
// Every step between construction and destruction runs on the "Sound Worker".
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <AL/al.h>
#include <vorbis/vorbisfile.h>

#include <atomic>
#include <cstdint>

#include "platformlib/allocator/roalloc.h"

namespace tavrix {

namespace util {
class mutex;
}
namespace sound {
struct task;
}

class bgmStream : public roAlloc {
public:
    // On the worker, against the BGM context. Throws a tavrix::util::Exception when the source or the
    // buffers cannot be made.
    bgmStream();
    ~bgmStream();
    bgmStream(const bgmStream&) = delete;
    bgmStream& operator=(const bgmStream&) = delete;

    // Requests, from any thread: each queues one task for the worker.
    // Plays "data/bgm/<name>" next; a name whose path does not fit 127 bytes is refused.
    void setFile(const char* name);
    void play(bool loop);
    // Percent of full gain; above 100 counts as 100.
    void setVolume(uint32_t percent);
    // Stops playback; the file stays set.
    void queueUnloadTask();

    // On the worker: runs the task's step on its stream.
    static void dispatchSoundTask(sound::task* queued);
    // The refill timer's callback, on a timer worker: queues one update at a time while the stream plays.
    static bool onUpdateTimer(int32_t id, void* stream, void* unused);

    // The decoder's view of the file in memory; the data source is the stream.
    static size_t ogg_read(void* destination, size_t elementSize, size_t elementCount, void* stream);
    static int ogg_seek(void* stream, ogg_int64_t offset, int whence);
    static int ogg_close(void* stream);
    static long ogg_tell(void* stream);

private:
    static constexpr uint32_t BUFFER_COUNT = 8;

    void _setFile(const char* path);
    bool readData(ALuint buffer);
    void _play(bool loop);
    void _update();
    void _setVolume(uint32_t percent);
    void _stop();
    void _unload();
    void removeTimer();
    // False, with nothing queued, once the worker has stopped.
    bool queue(int32_t type, uintptr_t argument);
    static void createObjects(void* stream);
    static void destroyObjects(void* stream);

    // Written on the worker; the refill timer reads whether a file is set.
    std::atomic<uint8_t*> data;
    uint32_t size;
    uint32_t readPos;
    ALuint* buffers;
    ALuint source;
    ALenum format;
    OggVorbis_File decoder;
    vorbis_info* info;
    vorbis_comment* comment;
    uint8_t loop;
    std::atomic<int32_t> playing;
    std::atomic<int32_t> updatePending;
    util::mutex* lock;
    int32_t timerId;
    // The streams the refill timer may still reach, under the registry's lock.
    bgmStream* liveNext;
    // What the constructor's step on the worker left: empty, or the failure to throw.
    const char* creationFailure;
};

} // namespace tavrix
