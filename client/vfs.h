#pragma once
// The content store: every asset of the client by its content path, loaded once, checked against the
// CRC-32 of its record, shared as one NUL-terminated, reference-counted copy, and freed by a timed
// collection some seconds after its last release. A loose copy under dev/ wins over the file table.
#include <cstdint>

namespace tavrix::vfs {

// Runs on a worker. When data is not null the receiver owns one reference (give it back with releaseFile).
typedef void (*loadCallback)(const char* name, void* data, uint32_t size, void* user, void* user2);

// Where the content update and the reindex report to: the screens in the client, which installs it at
// start-up; a recorder in tests. Any thread. Until one is installed the reports go nowhere.
class updateSink {
public:
    // The screens' ids, as the render modes number them.
    enum screen : int32_t {
        LOADING_SCREEN = 0,
        DOWNLOAD_SCREEN = 1,
        MENU_SCREEN = 2,
    };
    // Loading and download screens. A length of 0 means the text's NUL-terminated length.
    virtual void setStatusText(screen on, const char* text, uint32_t length) = 0;
    virtual void setProgress(screen on, int32_t done, int32_t total) = 0;
    virtual void setURL(screen on, const char* url) = 0;
    // Shows the download screen; returns the screen it replaced, for leaveDownload.
    virtual int32_t showDownload() = 0;
    // Back to `previous`, unless another screen has been chosen since showDownload.
    virtual void leaveDownload(int32_t previous) = 0;
    // Asks the window to close, so the normal shutdown runs.
    virtual void requestClose() = 0;

protected:
    ~updateSink() = default;
};

// Null restores the sink that discards everything.
void setUpdateSink(updateSink* sink);
// The installed sink, never null: the start-up steps after the update report to the loading screen there.
updateSink& getUpdateSink();

void init();
// The start-up step "VFS": local content, the update, then the screens' pages.
void postInit();
void final();
// The collection, the transfers under way and the workers stop (each join bounded) and nothing but the
// workers that ended is released, so calls made later still find the store: a load queued then never runs.
// For a shutdown that cannot finish; false when a worker was left behind.
bool stop();

// Null when the file is not there or cannot be read; the caller owns one reference otherwise. size is the
// file's length (the recorded one when a known file cannot be read). A recorded file that reads back
// damaged is downloaded again (the emergency path) while its record's lock is held, and that download
// switches the screens to the download screen and back: the caller must hold no lock the screens take.
void* readFile(const char* path, uint32_t* size);
// The callback runs once on a worker, unless final stops the workers first.
void asyncLoad(const char* path, loadCallback callback, void* user, void* user2);
void releaseFile(void* data);
// Never loads: a readable dev/ copy or a record in the file table.
bool fileExists(const char* path);

uint32_t getLocalContentVersion();

} // namespace tavrix::vfs
