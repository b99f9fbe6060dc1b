#include "client/soundtasks.h"

#include <AL/al.h>

#include <atomic>

#include "client/clientlogger.h"
#include "client/cvar.h"

namespace tavrix::sound {
namespace {

// Written only by the worker; the BGM context is also read by the streams' requests on any thread.
struct deviceState {
    ALCdevice* device = nullptr;
    ALCcontext* mainContext = nullptr;
    std::atomic<ALCcontext*> bgmContext{nullptr};
};
deviceState output;

// Releases what a device switch opened, the main context first.
void closeAll(ALCdevice* opened, ALCcontext* main, ALCcontext* music)
{
    alcMakeContextCurrent(nullptr);
    if (main)
        alcDestroyContext(main);
    if (music)
        alcDestroyContext(music);
    alcCloseDevice(opened);
}

} // namespace

void task_setOutputDevice(const char* name)
{
    if (output.device) {
        CLIENT_LOG(util::LOG_ERROR, "sound: [t] setOutputDevice(%s) -> @TODO, cleanup / recreate\n", name);
        return;
    }
    alGetError();
    ALCdevice* opened = alcOpenDevice(name);
    if (!opened) {
        CLIENT_LOG(util::LOG_ERROR, "sound: [t] setOutputDevice(%s) - can't open device (%u).\n", name, uint32_t(alGetError()));
        return;
    }
    const ALCint frequency = cvar::getI32("sound.frequency");
    const ALCint refresh = cvar::getI32("sound.refresh");

    const ALCint mainAttributes[] = {ALC_SYNC, 0, ALC_FREQUENCY, frequency, ALC_REFRESH, refresh, ALC_MONO_SOURCES, 128, 0};
    alcGetError(opened);
    ALCcontext* main = alcCreateContext(opened, mainAttributes);
    if (!main) {
        CLIENT_LOG(util::LOG_ERROR, "sound: [t] setOutputDevice(%s) - can't create main Context (%u)\n", name, uint32_t(alcGetError(opened)));
        closeAll(opened, nullptr, nullptr);
        return;
    }

    const ALCint bgmAttributes[] = {ALC_SYNC, 0, ALC_FREQUENCY, frequency, ALC_REFRESH, refresh, ALC_MONO_SOURCES, 2, ALC_STEREO_SOURCES, 2, 0};
    alcGetError(opened);
    ALCcontext* music = alcCreateContext(opened, bgmAttributes);
    if (!music) {
        CLIENT_LOG(util::LOG_ERROR, "sound: [t] setOutputDevice(%s) - can't create BGM Context (%u)\n", name, uint32_t(alcGetError(opened)));
        closeAll(opened, main, nullptr);
        return;
    }
    if (!alcMakeContextCurrent(music)) {
        CLIENT_LOG(util::LOG_ERROR, "sound: [t] setOutputDevice(%s) - unable to switch to BGM Context (%u)\n", name, uint32_t(alcGetError(opened)));
        closeAll(opened, main, music);
        return;
    }

    const ALfloat orientation[] = {0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f};
    alListener3f(AL_POSITION, 0.0f, 0.0f, 1.0f);
    alListener3f(AL_VELOCITY, 0.0f, 0.0f, 0.0f);
    alListenerfv(AL_ORIENTATION, orientation);
    const ALenum error = alGetError();
    if (error != AL_NO_ERROR) {
        CLIENT_LOG(util::LOG_ERROR, "sound: [t] setOutputDevice(%s) - unable to setup BGM Context's listener Position (%u)\n", name, uint32_t(error));
        closeAll(opened, main, music);
        return;
    }
    output.device = opened;
    output.mainContext = main;
    output.bgmContext.store(music);
    CLIENT_LOG(util::LOG_INFO, "sound: Set Output Device to: %s\n", name);
    // Saved with the other settings, so the next start opens the same device.
    cvar::set("sound.device", name, 0);
}

void task_closeDevice()
{
    if (!output.device)
        return;
    closeAll(output.device, output.mainContext, output.bgmContext.load());
    output.device = nullptr;
    output.mainContext = nullptr;
    output.bgmContext.store(nullptr);
}

ALCcontext* getBGMContext() { return output.bgmContext.load(); }

} // namespace tavrix::sound
