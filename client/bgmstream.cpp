#include "client/bgmstream.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "client/clientlogger.h"
#include "client/soundlocal.h"
#include "client/timer.h"
#include "client/vfs.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"

namespace tavrix {
namespace {

constexpr int32_t REFILL_PERIOD_MS = 500;
// A quarter second of 16-bit stereo at 44100 Hz.
constexpr uint32_t BLOCK_BYTES = 44100;
constexpr uint32_t MAX_PATH_BYTES = 128;

// The streams that a refill timer may name. timer_del does not wait for a callback that is already
// running, and a deleted timer's callback can still be under way: the callback finds its stream here,
// under the lock, before it touches it, and a destroyed stream has left the list.
struct liveStreams {
    util::mutex lock;
    bgmStream* head = nullptr;
};
liveStreams live;

} // namespace

bgmStream::bgmStream()
    : data(nullptr), size(0), readPos(0), buffers(nullptr), source(0), format(AL_FORMAT_MONO16), decoder{},
      info(nullptr), comment(nullptr), loop(0), playing(0), updatePending(0), lock(new util::mutex), timerId(-1),
      liveNext(nullptr), creationFailure(nullptr)
{
    sound::setMusicDispatch(dispatchSoundTask);
    sound::callOnWorker(createObjects, this);
    if (creationFailure) {
        delete lock;
        throw new util::Exception("%s", creationFailure);
    }
    std::lock_guard<util::mutex> guard(live.lock);
    liveNext = live.head;
    live.head = this;
}

bgmStream::~bgmStream()
{
    {
        std::lock_guard<util::mutex> guard(live.lock);
        bgmStream** link = &live.head;
        while (*link != this)
            link = &(*link)->liveNext;
        *link = liveNext;
    }
    // Queued behind every task that names this stream: the timer can queue no more of them now.
    sound::callOnWorker(destroyObjects, this);
    delete lock;
}

void bgmStream::createObjects(void* object)
{
    auto* self = static_cast<bgmStream*>(object);
    alGetError();
    alGenSources(1, &self->source);
    if (alGetError() != AL_NO_ERROR) {
        CLIENT_LOG(util::LOG_ERROR, "bgmStream::bgmstream() -> source-creation failed\n");
        self->creationFailure = "source-creation failed";
        return;
    }
    alSource3f(self->source, AL_POSITION, 0.0f, 0.0f, 0.0f);
    alSource3f(self->source, AL_VELOCITY, 0.0f, 0.0f, 0.0f);
    alSource3f(self->source, AL_DIRECTION, 0.0f, 0.0f, 0.0f);
    alSourcef(self->source, AL_ROLLOFF_FACTOR, 0.0f);
    alSourcei(self->source, AL_SOURCE_RELATIVE, AL_TRUE);
    alSourcef(self->source, AL_GAIN, 1.0f);
    self->buffers = static_cast<ALuint*>(roalloc(BUFFER_COUNT * sizeof(ALuint)));
    alGetError();
    alGenBuffers(BUFFER_COUNT, self->buffers);
    if (alGetError() != AL_NO_ERROR) {
        alDeleteSources(1, &self->source);
        rofree(self->buffers);
        self->buffers = nullptr;
        CLIENT_LOG(util::LOG_ERROR, "bgmStream::bgmStream() -> buffer creation failed\n");
        self->creationFailure = "buffer creation failed";
    }
}

void bgmStream::destroyObjects(void* object)
{
    auto* self = static_cast<bgmStream*>(object);
    std::lock_guard<util::mutex> guard(*self->lock);
    self->removeTimer();
    self->_unload();
    alDeleteSources(1, &self->source);
    alDeleteBuffers(BUFFER_COUNT, self->buffers);
    rofree(self->buffers);
    self->buffers = nullptr;
}

bool bgmStream::queue(int32_t type, uintptr_t argument)
{
    sound::task* queued = sound::newTask();
    if (!queued)
        return false;
    queued->type = type;
    queued->target.stream = this;
    queued->argument = argument;
    sound::pushTask(sound::getBGMContext(), queued);
    return true;
}

void bgmStream::setFile(const char* name)
{
    char path[MAX_PATH_BYTES];
    const int length = std::snprintf(path, sizeof(path), "data/bgm/%s", name);
    // A cut path would name another file.
    if (length < 0 || uint32_t(length) >= sizeof(path)) {
        CLIENT_LOG(util::LOG_ERROR, "bgmStream::setFile(%s) -> name too long, not loaded\n", name);
        return;
    }
    char* copy = rostrdup(path);
    if (!queue(sound::TASK_BGM_SET_FILE, reinterpret_cast<uintptr_t>(copy)))
        rofree(copy);
}

void bgmStream::play(bool loop_) { queue(sound::TASK_BGM_PLAY, loop_ ? 1 : 0); }

void bgmStream::setVolume(uint32_t percent) { queue(sound::TASK_BGM_SET_VOLUME, percent > 100 ? 100 : percent); }

void bgmStream::queueUnloadTask() { queue(sound::TASK_BGM_STOP, 0); }

void bgmStream::dispatchSoundTask(sound::task* queued)
{
    bgmStream* stream = queued->target.stream;
    switch (queued->type) {
    case sound::TASK_BGM_STOP:
        stream->_stop();
        break;
    case sound::TASK_BGM_PLAY:
        stream->_play((queued->argument & 0xFF) != 0);
        break;
    case sound::TASK_BGM_UPDATE:
        stream->_update();
        break;
    case sound::TASK_BGM_SET_VOLUME:
        stream->_setVolume(uint32_t(queued->argument));
        break;
    case sound::TASK_BGM_SET_FILE: {
        char* path = reinterpret_cast<char*>(queued->argument);
        stream->_setFile(path);
        rofree(path);
        break;
    }
    default:
        break;
    }
}

bool bgmStream::onUpdateTimer(int32_t, void* stream, void*)
{
    std::lock_guard<util::mutex> guard(live.lock);
    for (bgmStream* candidate = live.head; candidate; candidate = candidate->liveNext) {
        if (candidate != stream)
            continue;
        int32_t idle = 0;
        // An update the stopped worker refused stays pending: the timer asks no more.
        if (candidate->playing.load() == 1 && candidate->data.load() && candidate->updatePending.compare_exchange_strong(idle, 1))
            candidate->queue(sound::TASK_BGM_UPDATE, 0);
        break;
    }
    return false;
}

void bgmStream::_setFile(const char* path)
{
    if (data.load())
        _unload();
    uint32_t fileSize = 0;
    void* file = vfs::readFile(path, &fileSize);
    if (!file) {
        CLIENT_LOG(util::LOG_ERROR, "bgmStream::_setFile(%s) -> can't open file\n", path);
        return;
    }
    data.store(static_cast<uint8_t*>(file));
    size = fileSize;
    readPos = 0;
    const ov_callbacks callbacks{ogg_read, ogg_seek, ogg_close, ogg_tell};
    if (ov_open_callbacks(this, &decoder, nullptr, 0, callbacks) != 0) {
        CLIENT_LOG(util::LOG_ERROR, "bgmStream::_setFile(%s) -> libvobrisfile returned an error (OGG File Corrupted?).\n", path);
        // A failed open does not close its data source.
        vfs::releaseFile(file);
        data.store(nullptr);
        size = 0;
        readPos = 0;
        return;
    }
    info = ov_info(&decoder, -1);
    comment = ov_comment(&decoder, -1);
    if (info->channels == 1) {
        format = AL_FORMAT_MONO16;
    } else if (info->channels == 2) {
        format = AL_FORMAT_STEREO16;
    } else {
        CLIENT_LOG(util::LOG_ERROR, "bgmStream::_setFile(%s) -> given file has more than 2 channels.\n", path);
        ov_clear(&decoder);
        info = nullptr;
        comment = nullptr;
    }
}

bool bgmStream::readData(ALuint buffer)
{
    char block[BLOCK_BYTES];
    uint32_t filled = 0;
    // Set by a rewind until bytes come again: a looping file that yields nothing even from its
    // beginning would otherwise rewind without end.
    bool rewound = false;
    while (filled < BLOCK_BYTES) {
        int link = 0;
        const long got = ov_read(&decoder, block + filled, int(BLOCK_BYTES - filled), 0, 2, 1, &link);
        if (got == 0) {
            if (loop != 1 || rewound || ov_raw_seek(&decoder, 0) != 0)
                break;
            rewound = true;
            continue;
        }
        if (got < 0) {
            CLIENT_LOG(util::LOG_ERROR, "bgmStream::readData() ogg Error -> %u\n", uint32_t(got));
            break;
        }
        filled += uint32_t(got);
        rewound = false;
    }
    if (filled == 0)
        return false;
    alBufferData(buffer, format, block, ALsizei(filled), ALsizei(info->rate));
    return true;
}

void bgmStream::_play(bool loop_)
{
    if (playing.load() == 1)
        return;
    if (!data.load() || size == 0) {
        CLIENT_LOG(util::LOG_ERROR, "bgmStream::_play() -> no data loaded/set\n");
        return;
    }
    loop = loop_ ? 1 : 0;
    {
        std::lock_guard<util::mutex> guard(*lock);
        ALint processed = 0;
        alGetSourcei(source, AL_BUFFERS_PROCESSED, &processed);
        for (ALint i = 0; i < processed; ++i) {
            ALuint done;
            alSourceUnqueueBuffers(source, 1, &done);
        }
        ALsizei filled = 0;
        while (filled < ALsizei(BUFFER_COUNT) && readData(buffers[filled]))
            ++filled;
        alSourceQueueBuffers(source, filled, buffers);
        alSourcePlay(source);
        playing.store(1);
    }
    timerId = timer_add(getTimeMs(), REFILL_PERIOD_MS, onUpdateTimer, this, nullptr);
}

void bgmStream::_update()
{
    bool ended = false;
    {
        std::lock_guard<util::mutex> guard(*lock);
        if (playing.load() != 1) {
            updatePending.store(0);
            return;
        }
        ALint processed = 0;
        alGetSourcei(source, AL_BUFFERS_PROCESSED, &processed);
        const bool starved = processed == ALint(BUFFER_COUNT);
        if (starved)
            CLIENT_LOG(util::LOG_WARN, "bgmStream::_update() can't keep up refilling buffers, system busy?\n");
        for (ALint i = 0; i < processed; ++i) {
            ALuint done;
            alSourceUnqueueBuffers(source, 1, &done);
            // A buffer with nothing left to hold stays off the source.
            if (readData(done))
                alSourceQueueBuffers(source, 1, &done);
        }
        // Every buffer played out and none refilled: a file without loop has reached its end.
        ALint queued = 0;
        alGetSourcei(source, AL_BUFFERS_QUEUED, &queued);
        ended = queued == 0;
        if (starved && !ended)
            alSourcePlay(source);
    }
    // Stopped as a stop request would: the timer goes, and a play starts the file from its beginning.
    if (ended)
        _stop();
    updatePending.store(0);
}

void bgmStream::_setVolume(uint32_t percent)
{
    if (percent > 100)
        percent = 100;
    std::lock_guard<util::mutex> guard(*lock);
    alSourcef(source, AL_GAIN, float(percent) * 0.01f);
}

// Also when the source already stopped by itself (a file without loop ran out): the stream is then
// marked stopped and rewound too, so that it can be played again.
void bgmStream::_stop()
{
    removeTimer();
    playing.store(0);
    std::lock_guard<util::mutex> guard(*lock);
    alSourceStop(source);
    if (data.load())
        ov_raw_seek(&decoder, 0);
}

void bgmStream::_unload()
{
    // Stopped here, on the worker, rather than by a queued stop: a stopped source gives all its buffers
    // back, and no task is left to name a stream that may be gone when it runs.
    if (playing.load() == 1)
        _stop();
    std::lock_guard<util::mutex> guard(*lock);
    ALint queued = 0;
    alGetSourcei(source, AL_BUFFERS_QUEUED, &queued);
    for (ALint i = 0; i < queued; ++i) {
        ALuint done;
        alSourceUnqueueBuffers(source, 1, &done);
    }
    if (data.load()) {
        ov_clear(&decoder);
        info = nullptr;
        comment = nullptr;
    }
    if (void* file = data.exchange(nullptr)) {
        vfs::releaseFile(file);
        size = 0;
        readPos = 0;
    }
}

void bgmStream::removeTimer()
{
    if (timerId == -1)
        return;
    timer_del(timerId);
    timerId = -1;
}

size_t bgmStream::ogg_read(void* destination, size_t elementSize, size_t elementCount, void* stream)
{
    auto* self = static_cast<bgmStream*>(stream);
    uint8_t* bytes = self->data.load();
    if (!bytes)
        return 0;
    size_t wanted;
    if (__builtin_mul_overflow(elementSize, elementCount, &wanted))
        wanted = SIZE_MAX;
    const uint32_t left = self->size - self->readPos;
    const uint32_t n = wanted < left ? uint32_t(wanted) : left;
    std::memcpy(destination, bytes + self->readPos, n);
    self->readPos += n;
    return n;
}

int bgmStream::ogg_seek(void* stream, ogg_int64_t offset, int whence)
{
    auto* self = static_cast<bgmStream*>(stream);
    int64_t base;
    switch (whence) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = self->readPos;
        break;
    case SEEK_END:
        base = self->size;
        break;
    default:
        CLIENT_LOG(util::LOG_ERROR, "bgmStream::ogg_seek() -> invalid whence: %d\n", whence);
        return -1;
    }
    int64_t at;
    if (__builtin_add_overflow(base, int64_t(offset), &at) || at < 0 || at > int64_t(self->size))
        return -1;
    self->readPos = uint32_t(at);
    return 0;
}

int bgmStream::ogg_close(void* stream)
{
    auto* self = static_cast<bgmStream*>(stream);
    void* file = self->data.exchange(nullptr);
    if (!file)
        return -1;
    vfs::releaseFile(file);
    self->size = 0;
    self->readPos = 0;
    return 0;
}

long bgmStream::ogg_tell(void* stream) { return long(static_cast<bgmStream*>(stream)->readPos); }

} // namespace tavrix
