// The content update: the asset server's current version, its file list, and every file that differs
// from its local record, fetched, written and recorded; then the screens' pages. The emergency form fetches
// one file again while the download screen is shown.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "client/clientlogger.h"
#include "client/orderedasyncstartupmgr.h"
#include "client/vfshttplib.h"
#include "client/vfslocal.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/files.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/crc32.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/hex.h"
#include "platformlib/util/sha256.h"

#define LOCAL_ASSET_SERVER "http://127.0.0.1:8090/"
// The .invalid domain never resolves, so a machine without the local asset server reaches the
// "Assetserver unavailable" end at once instead of after a connection time-out.
#define PUBLIC_ASSET_SERVER "http://assets.tavrix.invalid/"

namespace tavrix::vfs {

namespace {

constexpr uint32_t CLOSE_WAIT_MS = 10000;
constexpr uint32_t CLOSE_WAIT_SLICE_MS = 100;

constexpr const char* MENU_PAGE = "data/ui/mainMenu.titleScreen/index.html";
constexpr const char* LOADING_PAGE = "data/ui/sys.loadingScreenWindow/index.html";
constexpr const char* DOWNLOAD_PAGE = "data/ui/sys.downloadWindow/index.html";

constexpr uint32_t SHA256_HEX_LENGTH = 64;
// A content path with every byte percent-encoded, and its NUL.
constexpr uint32_t ENCODED_PATH_SIZE = 3 * MAX_PATH_LENGTH + 1;
// With a base of at most MAX_BASE_URL_LENGTH bytes nothing is ever cut: the longest file request is the
// base, ten digits, a slash and an encoded path.
constexpr uint32_t SHORT_URL_SIZE = 256;
constexpr uint32_t FILE_URL_SIZE = 512;
static_assert(MAX_BASE_URL_LENGTH + 10 + 1 + ENCODED_PATH_SIZE <= FILE_URL_SIZE);
static_assert(MAX_BASE_URL_LENGTH + 10 + sizeof("/fileDB.txt") <= SHORT_URL_SIZE);

// Discards every report while the client has installed none.
class nullSinkType final : public updateSink {
public:
    void setStatusText(screen, const char*, uint32_t) override {}
    void setProgress(screen, int32_t, int32_t) override {}
    void setURL(screen, const char*) override {}
    int32_t showDownload() override { return LOADING_SCREEN; }
    void leaveDownload(int32_t) override {}
    void requestClose() override {}
};
nullSinkType nullSink;

struct updateState {
    char localBase[MAX_BASE_URL_LENGTH + 1] = LOCAL_ASSET_SERVER;
    char publicBase[MAX_BASE_URL_LENGTH + 1] = PUBLIC_ASSET_SERVER;
    // The local server's base, or null once it has failed (or when it is not used).
    const char* localAssetServerURL = nullptr;
    // Chosen by the update; the emergency downloads read them on the loading threads.
    std::atomic<const char*> baseURLInUse{nullptr};
    std::atomic<uint32_t> remoteContentVersion{0};
    std::atomic<uint32_t> closeWaitMs{CLOSE_WAIT_MS};
    std::atomic<updateSink*> installedSink{&nullSink};

    // Recording a download writes the file table and the meta database; an emergency on a loading thread
    // may meet another one, or the update itself.
    util::mutex recordLock;

    // Emergencies in flight: the first switches to the download screen, the last switches back.
    util::mutex emergencyLock;
    uint32_t emergenciesInFlight = 0;
    int32_t screenBeforeEmergency = updateSink::LOADING_SCREEN;
};
updateState update;

// One file to fetch; the list is built by pushing at the front.
struct downloadRecord {
    downloadRecord* next;
    char name[MAX_PATH_LENGTH + 1];
    uint32_t nameLength;
    uint8_t sha256[32];
    uint32_t size;
};

// What tells a download of the update from an emergency one: its screen and its texts.
struct downloadKind {
    vfsHttpLib::httpProgressCallback progress;
    updateSink::screen shownOn;
    const char* refused;
    const char* noServer;
    const char* noVersion;
    const char* unavailable;
    const char* hashFailed;
    const char* treeFailed;
    const char* openFailed;
    const char* writeFailed;
};

void loadingStatus(const char* text, uint32_t length = 0)
{
    getUpdateSink().setStatusText(updateSink::LOADING_SCREEN, text, length);
}

void loadingProgress(int32_t done, int32_t total)
{
    getUpdateSink().setProgress(updateSink::LOADING_SCREEN, done, total);
}

void onFileListProgress(uint32_t received, uint32_t total, uint32_t rate)
{
    loadingProgress(int32_t(received), int32_t(total));
    char status[768];
    const int length = std::snprintf(status, sizeof(status), "Preparing Update\n\nDownloading Updated File Database (%u/%u KByte)\nSpeed: %0.2f KByte/sec", received / 1024, total / 1024, double(rate) / 1024.0);
    loadingStatus(status, uint32_t(length));
}

void onFileProgress(uint32_t received, uint32_t total, uint32_t rate)
{
    char status[512];
    const int length = std::snprintf(status, sizeof(status), "Receiving File (%u/%u KByte)\nSpeed: %0.2f KByte/sec", received / 1024, total / 1024, double(rate) / 1024.0);
    loadingStatus(status, uint32_t(length));
    loadingProgress(int32_t(received), int32_t(total));
}

void onEmergencyProgress(uint32_t received, uint32_t total, uint32_t rate)
{
    char status[512];
    const int length = std::snprintf(status, sizeof(status), "Emergency Download (%u/%u KByte)\nSpeed: %0.2f KByte/sec\n\n(This usually happens when a file corrupted)", received / 1024, total / 1024, double(rate) / 1024.0);
    updateSink& screens = getUpdateSink();
    screens.setStatusText(updateSink::DOWNLOAD_SCREEN, status, uint32_t(length));
    screens.setProgress(updateSink::DOWNLOAD_SCREEN, int32_t(received), int32_t(total));
}

const downloadKind UPDATE_DOWNLOAD = {
    onFileProgress,
    updateSink::LOADING_SCREEN,
    "vfs: downloadAndPatch() -> '%s' is no content file, not downloaded\n",
    "vfs: downloadAndPatch() -> '%s' can't be downloaded, no Assetserver in use\n",
    "vfs: downloadAndPatch() -> '%s' can't be downloaded, the Assetserver gave no Content Version\n",
    "vfs: downloadAndPatch() -> '%s' seems to me unavailable\n",
    "vfs: downloadAndPatch() -> '%s' expected hash-validation failed.\n",
    "vfs: downloadAndPatch() -> '%s' can't build the specified directory tree (error'd at '%s')\n",
    "vfs: downloadAndPatch() -> '%s' can't open file for writing (I/O error)\n",
    "vfs: downloadAndPatch() -> '%s' write fail (I/O error)\n",
};

const downloadKind EMERGENCY_DOWNLOAD = {
    onEmergencyProgress,
    updateSink::DOWNLOAD_SCREEN,
    "vfs: emergeDownloadAndPatch() -> '%s' is no content file, not downloaded\n",
    "vfs: emergeDownloadAndPatch() -> '%s' can't be downloaded, no Assetserver in use\n",
    "vfs: emergeDownloadAndPatch() -> '%s' can't be downloaded, the Assetserver gave no Content Version\n",
    "vfs: emergeDownloadAndPatch() -> '%s' seems to me unavailable\n",
    "vfs: emergeDownloadAndPatch() -> '%s' expected hash-validation failed.\n",
    "vfs: emergeDownloadAndPatch() -> '%s' can't build the specified directory tree (error'd at '%s')\n",
    "vfs: emergeDownloadAndPatch() -> '%s' can't open file for writing (I/O error)\n",
    "vfs: emergeDownloadAndPatch() -> '%s' write fail (I/O error)\n",
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The decimal digits from `at` up to `end` at most: the position after them, or null when there are none
// or their number does not fit 32 bits.
const char* readNumber(const char* at, const char* end, uint32_t* value)
{
    uint64_t number = 0;
    const char* p = at;
    for (; p < end && isDigit(*p); ++p) {
        number = number * 10 + uint64_t(*p - '0');
        if (number > UINT32_MAX)
            return nullptr;
    }
    if (p == at)
        return nullptr;
    *value = uint32_t(number);
    return p;
}

bool isWholeNumber(const char* at, const char* end, uint32_t* value) { return readNumber(at, end, value) == end; }

const char* lineEndOf(const char* line, const char* end)
{
    const void* found = std::memchr(line, '\n', size_t(end - line));
    return found ? static_cast<const char*>(found) : end;
}

// One definition line; false with the reason when it is none.
bool parseDefinition(const char* line, const char* lineEnd, fileListDefinition& definition, fileListEnd& stop)
{
    if (line == lineEnd) {
        stop = FILELIST_END;
        return false;
    }
    const char* colon = static_cast<const char*>(std::memchr(line, ':', size_t(lineEnd - line)));
    if (!colon) {
        stop = FILELIST_NO_COLON;
        return false;
    }
    const char* name = colon + 1;
    uint32_t nameLength = 0;
    if (!isWholeNumber(line, colon, &nameLength) || nameLength > MAX_PATH_LENGTH || uint64_t(lineEnd - name) < nameLength) {
        stop = FILELIST_BAD_NAME_LENGTH;
        return false;
    }
    const char* separator = name + nameLength;
    if (separator == lineEnd || *separator != ',') {
        stop = FILELIST_NO_SEPARATOR;
        return false;
    }
    const char* sizeText = separator + 1;
    const char* second = static_cast<const char*>(std::memchr(sizeText, ',', size_t(lineEnd - sizeText)));
    if (!second) {
        stop = FILELIST_NO_SIZE_SEPARATOR;
        return false;
    }
    const char* hash = second + 1;
    if (lineEnd - hash != SHA256_HEX_LENGTH) {
        stop = FILELIST_BAD_HASH_LENGTH;
        return false;
    }
    if (!isWholeNumber(sizeText, second, &definition.size)) {
        stop = FILELIST_BAD_SIZE;
        return false;
    }
    if (!isUpdatablePath(name, nameLength)) {
        stop = FILELIST_BAD_NAME;
        return false;
    }
    definition.name = name;
    definition.nameLength = nameLength;
    util::hexToBytes(hash, definition.sha256, SHA256_HEX_LENGTH);
    return true;
}

// Pushes a download record for a definition whose file is missing or differs in size or hash.
void addIfChanged(const fileListDefinition& definition, void* user)
{
    // The file table's keys are NUL-terminated texts.
    char name[MAX_PATH_LENGTH + 1];
    std::memcpy(name, definition.name, definition.nameLength);
    name[definition.nameLength] = '\0';
    const fileDataINFO* known = fileDB_fetch(name, definition.nameLength);
    if (known && known->size == definition.size && std::memcmp(known->sha256, definition.sha256, 32) == 0)
        return;
    auto* record = static_cast<downloadRecord*>(roalloc(uint32_t(sizeof(downloadRecord))));
    std::memcpy(record->name, name, definition.nameLength + 1);
    record->nameLength = definition.nameLength;
    std::memcpy(record->sha256, definition.sha256, 32);
    record->size = definition.size;
    auto** list = static_cast<downloadRecord**>(user);
    record->next = *list;
    *list = record;
}

void freeDownloadList(downloadRecord* list)
{
    while (list) {
        downloadRecord* next = list->next;
        rofree(list);
        list = next;
    }
}

// Logs why the definitions ended early; the ordinary end says nothing.
void logListStop(const fileListResult& result)
{
    switch (result.end) {
    case FILELIST_BAD_NAME_LENGTH:
        CLIENT_LOG(util::LOG_ERROR, "vfs: prepareEndDownloadUpdates -> Remote fileDB Corrupt or Contains Filename > 127 chars (line: %u)\n", result.line);
        break;
    case FILELIST_NO_SEPARATOR:
        CLIENT_LOG(util::LOG_ERROR, "vfs: prepareAndDownloadUpdates -> Remote fileDB Corrupt missing sepperator after fileName (line: %u)\n", result.line);
        break;
    case FILELIST_BAD_HASH_LENGTH:
        CLIENT_LOG(util::LOG_ERROR, "vfs:: prepareAndDownloadUpdates -> Remote fileDB Corrupt, != 64 bytes remaining after filesize/hash sepperator!\n");
        break;
    case FILELIST_BAD_SIZE:
        CLIENT_LOG(util::LOG_ERROR, "vfs: prepareAndDownloadUpdates -> Remote fileDB Corrupt, invalid fileSize (line: %u)\n", result.line);
        break;
    case FILELIST_BAD_NAME:
        CLIENT_LOG(util::LOG_ERROR, "vfs: prepareAndDownloadUpdates -> Remote fileDB Corrupt, invalid fileName (line: %u)\n", result.line);
        break;
    default:
        break;
    }
}

// Every byte outside A-Za-z0-9-._~/ as %XX; ordinary names stay as they are.
void encodePath(const char* path, char (&encoded)[ENCODED_PATH_SIZE])
{
    static const char HEX[] = "0123456789ABCDEF";
    uint32_t at = 0;
    for (uint32_t i = 0; path[i] && i < MAX_PATH_LENGTH; ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(char(c)) || c == '-' ||
                           c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            encoded[at++] = char(c);
        } else {
            encoded[at++] = '%';
            encoded[at++] = HEX[c >> 4];
            encoded[at++] = HEX[c & 15];
        }
    }
    encoded[at] = '\0';
}

// Records a stored file: the known record updated in place, or a new one added.
bool recordDownload(const char* path, uint32_t size, uint32_t crc, const uint8_t (&sha256)[32])
{
    std::lock_guard<util::mutex> guard(update.recordLock);
    const uint32_t length = uint32_t(std::strlen(path));
    if (fileDataINFO* known = fileDB_fetch(path, length)) {
        known->size = size;
        known->crc32 = crc;
        std::memcpy(known->sha256, sha256, 32);
        known->time = int64_t(std::time(nullptr));
        known->contentVersion = getLocalContentVersion();
        updateFileMetaData(known);
        return true;
    }
    roPtr<fileDataINFO> record(newRecord(path, length));
    record->time = int64_t(std::time(nullptr));
    record->size = size;
    std::memcpy(record->sha256, sha256, 32);
    record->crc32 = crc;
    record->contentVersion = getLocalContentVersion();
    if (!fileDB_addEntry(record.get())) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: downloadAndPatch() -> '%s' fileDB concurrency problem.\n", path);
        return false;
    }
    // The table owns it from here.
    addFileToMetaData(record.release());
    return true;
}

// Fetches, checks, writes and records one file: what both kinds of download share.
bool fetchAndStore(const char* path, const uint8_t* expectedSha256, const char* url, const downloadKind& kind)
{
    uint32_t size = 0;
    roPtr<char> body = vfsHttpLib::httpGET(url, &size, kind.progress, vfsHttpLib::EMPTY_BODY_VALID);
    if (!body) {
        CLIENT_LOG(util::LOG_ERROR, kind.unavailable, path);
        return false;
    }
    char name[ESCAPED_PATH_SIZE];
    escapeMarkup(path, name, sizeof(name));
    char status[sizeof(name) + 32];
    std::snprintf(status, sizeof(status), "Writing '%s' to Disk\n", name);
    getUpdateSink().setStatusText(kind.shownOn, status, 0);
    const uint32_t crc = crc32_update(0, body.get(), size);
    uint8_t sha256[32];
    sha256Context sha;
    sha256_starts(&sha);
    sha256_update(&sha, body.get(), size);
    sha256_finish(&sha, sha256);
    if (expectedSha256 && std::memcmp(expectedSha256, sha256, 32) != 0) {
        body.reset();
        CLIENT_LOG(util::LOG_ERROR, kind.hashFailed, path);
        return false;
    }
    // No directory on the way may be a link: the file could land outside data/.
    sys::parentDirectory parent;
    uint32_t failedLength = 0;
    if (!parent.open(path, &failedLength)) {
        char directory[MAX_PATH_LENGTH + 1];
        std::snprintf(directory, sizeof(directory), "%.*s", int(failedLength), path);
        CLIENT_LOG(util::LOG_ERROR, kind.treeFailed, path, directory);
        return false;
    }
    // Replaced whole, so a reader never sees half a file. Not flushed to the disk: a file that does not
    // survive a crash fails its CRC-32 when it is loaded and is fetched again.
    const sys::writeResult written = parent.writeFileAtomic(body.get(), size, nullptr, 0, false);
    body.reset();
    if (written == sys::WRITE_OPEN_FAILED) {
        CLIENT_LOG(util::LOG_ERROR, kind.openFailed, path);
        return false;
    }
    if (written == sys::WRITE_FAILED) {
        CLIENT_LOG(util::LOG_ERROR, kind.writeFailed, path);
        return false;
    }
    return recordDownload(path, size, crc, sha256);
}

// The file's URL in the remote version on the base in use; false (logged) when the path is no content
// file, or no server or no version has been chosen.
bool fileURL(const char* path, const downloadKind& kind, char (&url)[FILE_URL_SIZE])
{
    const char* base = update.baseURLInUse.load();
    const uint32_t version = update.remoteContentVersion.load();
    const char* refusal = nullptr;
    if (!isUpdatablePath(path, uint32_t(strnlen(path, MAX_PATH_LENGTH + 1))))
        refusal = kind.refused;
    else if (!base)
        refusal = kind.noServer;
    else if (version == 0)
        refusal = kind.noVersion;
    if (refusal) {
        CLIENT_LOG(util::LOG_ERROR, refusal, path);
        return false;
    }
    char encoded[ENCODED_PATH_SIZE];
    encodePath(path, encoded);
    std::snprintf(url, sizeof(url), "%s%u/%s", base, version, encoded);
    return true;
}

void enterEmergency()
{
    std::lock_guard<util::mutex> guard(update.emergencyLock);
    if (update.emergenciesInFlight++ == 0)
        update.screenBeforeEmergency = getUpdateSink().showDownload();
}

// Back to the screen the first emergency found, unless another has been chosen meanwhile.
void leaveEmergency()
{
    std::lock_guard<util::mutex> guard(update.emergencyLock);
    if (--update.emergenciesInFlight == 0)
        getUpdateSink().leaveDownload(update.screenBeforeEmergency);
}

// The status stays readable for a while; a shutdown begun meanwhile ends the wait and needs no request.
void closeAfterWait()
{
    const uint32_t wait = update.closeWaitMs.load();
    for (uint32_t waited = 0; waited < wait && !orderedAsyncStartupMgr::shuttingDown(); waited += CLOSE_WAIT_SLICE_MS)
        sys::sleepMs(wait - waited < CLOSE_WAIT_SLICE_MS ? wait - waited : CLOSE_WAIT_SLICE_MS);
    if (!orderedAsyncStartupMgr::shuttingDown())
        getUpdateSink().requestClose();
}

// The version query on the local server, then the public one; false (after the wait) when neither answers.
// The local server is dropped for good after its first failure.
bool queryRemoteVersion()
{
    char url[SHORT_URL_SIZE];
    uint32_t version = 0;
    if (update.localAssetServerURL) {
        loadingStatus("Determining Remote Content-Version (Try: LOCAL-ASSETSERVER)");
        std::snprintf(url, sizeof(url), "%scurrentVersion.txt", update.localAssetServerURL);
        if (getRemoteContentVersion(url, &version)) {
            CLIENT_LOG(util::LOG_INFO, "vfs: Local Assetserver returned Content Version %u\n", version);
            update.baseURLInUse = update.localAssetServerURL;
            update.remoteContentVersion = version;
            return true;
        }
        CLIENT_LOG(util::LOG_ERROR, "vfs: Local Assetserver at '%s' seems to be unavailable, retrying with public-assetserver\n", update.localAssetServerURL);
        update.localAssetServerURL = nullptr;
    }
    loadingStatus("Determining Remote Content-Version");
    std::snprintf(url, sizeof(url), "%scurrentVersion.txt", update.publicBase);
    if (!getRemoteContentVersion(url, &version)) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: Assetserver seems to be unavailable, connection issues?\n");
        loadingStatus("Error: Assetserver unavailable, connection Problem?\n\nThe game will close in 10 Seconds automatically.\n\nPlease try again later.\n");
        closeAfterWait();
        return false;
    }
    CLIENT_LOG(util::LOG_INFO, "vfs: Assetserver returned Content Version %u\n", version);
    update.baseURLInUse = update.publicBase;
    update.remoteContentVersion = version;
    return true;
}

// Brings the local content up to the server's version; false when the update cannot be made.
bool updateContent()
{
    CLIENT_LOG(util::LOG_INFO, "vfs: UpdateCheck / Remote Content Version Check\n");
    loadingProgress(0, 100);
    update.remoteContentVersion = 0;
    for (;;) {
        if (!queryRemoteVersion())
            return false;
        const uint32_t remote = update.remoteContentVersion.load();
        const uint32_t local = getLocalContentVersion();
        if (local >= remote)
            return true;
        CLIENT_LOG(util::LOG_INFO, "vfs: Update Required, Remote Content Version is newer than local Version (%u > %u)\n", remote, local);
        loadingStatus("Preparing to Download Updated Content Files\n");
        char url[SHORT_URL_SIZE];
        std::snprintf(url, sizeof(url), "%s%u/fileDB.txt", update.baseURLInUse.load(), remote);
        if (!prepareAndDownloadUpdates(url)) {
            CLIENT_LOG(util::LOG_ERROR, "vfs: Update to Content-Version %u failed!\n", remote);
            closeAfterWait();
            return false;
        }
        CLIENT_LOG(util::LOG_INFO, "vfs: Update to Content-Version %u complete, revalidating Version\n", remote);
        loadingProgress(0, 100);
        setLocalContentVersion(remote);
        saveLocalContentVersion();
    }
}

void setBase(char (&base)[MAX_BASE_URL_LENGTH + 1], const char* url, const char* builtIn)
{
    const char* chosen = url ? url : builtIn;
    const size_t length = std::strlen(chosen);
    if (length == 0 || length > MAX_BASE_URL_LENGTH || chosen[length - 1] != '/')
        TAVRIX_FATAL("vfs::setAssetServerBaseURLs() -> '%s' is no base URL\n", chosen);
    std::memcpy(base, chosen, length + 1);
}

} // namespace

void setAssetServerBaseURLs(const char* local, const char* publicURL)
{
    setBase(update.localBase, local, LOCAL_ASSET_SERVER);
    setBase(update.publicBase, publicURL, PUBLIC_ASSET_SERVER);
}

void setCloseWaitMs(uint32_t milliseconds) { update.closeWaitMs = milliseconds; }

void setUpdateSink(updateSink* sink) { update.installedSink.store(sink ? sink : &nullSink); }

updateSink& getUpdateSink() { return *update.installedSink.load(); }

void setLocalAssetServer(bool use)
{
    update.baseURLInUse = nullptr;
    update.remoteContentVersion = 0;
    update.localAssetServerURL = use ? update.localBase : nullptr;
    if (update.localAssetServerURL)
        CLIENT_LOG(util::LOG_INFO, "vfs: _DEBUG -> setting localAssetServerURL to '%s'\n", update.localAssetServerURL);
}

fileListResult parseFileList(const char* list, uint32_t size, fileListVisitor visit, void* user)
{
    fileListResult result = {FILELIST_COUNT_CORRUPT, 0, 0, 1};
    const char* end = list + size;
    const char* lineEnd = lineEndOf(list, end);
    if (lineEnd == list || !isDigit(*list) || !readNumber(list, lineEnd, &result.count))
        return result;
    result.end = FILELIST_END;
    if (result.count == 0)
        return result;
    if (lineEnd == end) {
        result.end = FILELIST_ONLY_COUNT;
        return result;
    }
    for (;;) {
        const char* line = lineEnd + 1;
        lineEnd = lineEndOf(line, end);
        ++result.line;
        fileListDefinition definition;
        if (!parseDefinition(line, lineEnd, definition, result.end))
            return result;
        visit(definition, user);
        ++result.processed;
        if (lineEnd == end) {
            result.end = FILELIST_END;
            return result;
        }
    }
}

bool getRemoteContentVersion(const char* url, uint32_t* version)
{
    uint32_t size = 0;
    const roPtr<char> body = vfsHttpLib::httpGET(url, &size, nullptr, vfsHttpLib::SMALL_QUERY);
    *version = 0;
    if (!body)
        return false;
    uint32_t number = 0;
    const bool valid = readNumber(body.get(), body.get() + size, &number) != nullptr;
    if (valid)
        *version = number;
    return valid;
}

bool prepareAndDownloadUpdates(const char* url)
{
    uint32_t size = 0;
    roPtr<char> body = vfsHttpLib::httpGET(url, &size, onFileListProgress, vfsHttpLib::SMALL_QUERY);
    if (!body)
        return false;
    loadingProgress(0, 100);
    loadingStatus("Preparing Update\n\nDetermining Updated Files\n");
    downloadRecord* list = nullptr;
    const fileListResult result = parseFileList(body.get(), size, addIfChanged, &list);
    body.reset();
    if (result.end == FILELIST_COUNT_CORRUPT) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: prepareAndDownloadUpdates -> remote FileDB seems to be corrupted\n");
        loadingStatus("An unexpected error occured\n\nThe received File Database seems to be corrupt\nPlease try again later!\n");
        return false;
    }
    CLIENT_LOG(util::LOG_INFO, "vfs: prepareAndDownloadUpdates -> remote FileDB contains %u File Definitions\n", result.count);
    if (result.count == 0)
        return true;
    if (result.end == FILELIST_ONLY_COUNT) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: prepareAndDownloadUpdates -> remote FileDB corrupted, it should contain %u Definitions, but EOF after Number of Files!\n", result.count);
        loadingStatus("An unexpected error occured\n\nThe received File Database seems to be corrupt [1]\nPlease try again later!\n");
        return false;
    }
    logListStop(result);
    if (result.processed != result.count) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: prepareAndDownloadUpdats -> Remote FileDB corrupt, processed %u of expected %u Definitions!\n", result.processed, result.count);
        loadingStatus("An unexpected error occured\n\nThe received File Database seems to be corrupt\nPlease try again later!\n");
        freeDownloadList(list);
        return false;
    }
    loadingStatus("Downloading Updates");
    bool failed = false;
    for (const downloadRecord* record = list; record && !failed; record = record->next) {
        if (!downloadAndPatch(record->name, record->sha256)) {
            failed = true;
            char name[ESCAPED_PATH_SIZE];
            escapeMarkup(record->name, name, sizeof(name));
            char status[sizeof(name) + 64];
            std::snprintf(status, sizeof(status), "Download of %s failed\nPlease try again later!\n", name);
            loadingStatus(status);
        }
    }
    freeDownloadList(list);
    return !failed;
}

bool downloadAndPatch(const char* path, const uint8_t* expectedSha256)
{
    char url[FILE_URL_SIZE];
    if (!fileURL(path, UPDATE_DOWNLOAD, url))
        return false;
    CLIENT_LOG(util::LOG_INFO, "vfs: downloadAndPatch -> Downloading %s\n", path);
    return fetchAndStore(path, expectedSha256, url, UPDATE_DOWNLOAD);
}

bool emergeDownloadAndPatch(const char* path, const uint8_t* expectedSha256)
{
    char url[FILE_URL_SIZE];
    if (!fileURL(path, EMERGENCY_DOWNLOAD, url))
        return false;
    CLIENT_LOG(util::LOG_WARN, "vfs: emergeDownloadAndPatch -> Downloading %s\n", path);
    enterEmergency();
    const bool stored = fetchAndStore(path, expectedSha256, url, EMERGENCY_DOWNLOAD);
    leaveEmergency();
    return stored;
}

void postInit()
{
    startCollection();
    prepareLocalContent();
    if (!updateContent())
        return;
    loadingStatus("Everything is up-to-date\n");
    if (!fileExists(MENU_PAGE))
        TAVRIX_FATAL("Main Menu / Titlescreen data missing.\n");
    updateSink& screens = getUpdateSink();
    screens.setURL(updateSink::MENU_SCREEN, "file://ui/mainMenu.titleScreen/index.html");
    if (fileExists(LOADING_PAGE))
        screens.setURL(updateSink::LOADING_SCREEN, "file://ui/sys.loadingScreenWindow/index.html");
    if (fileExists(DOWNLOAD_PAGE))
        screens.setURL(updateSink::DOWNLOAD_SCREEN, "file://ui/sys.downloadWindow/index.html");
}

} // namespace tavrix::vfs
