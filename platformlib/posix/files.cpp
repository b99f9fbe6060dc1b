#include "platformlib/posix/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrix::sys {

inFile::~inFile() { close(); }

namespace {

// One status call: whether the file is a regular one, its length, and its birth time where the file system
// keeps one, else its last modification.
bool regularFileStatus(int fd, int64_t* bytes, int64_t* createdSeconds, int64_t* createdNanoseconds)
{
    struct statx info;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_SIZE | STATX_BTIME | STATX_MTIME, &info) == 0) {
        const statx_timestamp& created = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime;
        *bytes = int64_t(info.stx_size);
        *createdSeconds = created.tv_sec;
        *createdNanoseconds = created.tv_nsec;
        return S_ISREG(info.stx_mode);
    }
    struct stat fallback;
    if (fstat(fd, &fallback) != 0)
        return false;
    *bytes = int64_t(fallback.st_size);
    *createdSeconds = int64_t(fallback.st_mtim.tv_sec);
    *createdNanoseconds = int64_t(fallback.st_mtim.tv_nsec);
    return S_ISREG(fallback.st_mode);
}

} // namespace

bool inFile::open(const char* path) { return openAt(AT_FDCWD, path, 0); }

bool inFile::openAt(int dirFd, const char* name, int extraFlags)
{
    close();
    // O_NONBLOCK keeps a FIFO from waiting for a writer; it is refused right after.
    const int opened = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags);
    if (opened < 0)
        return false;
    if (!regularFileStatus(opened, &openedLength, &createdSeconds, &createdNanoseconds)) {
        ::close(opened);
        return false;
    }
    fd = opened;
    return true;
}

void inFile::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool inFile::seek(int64_t offset, int origin) { return lseek(fd, offset, origin) >= 0; }

int64_t inFile::tell() { return lseek(fd, 0, SEEK_CUR); }

int64_t inFile::length() { return fd >= 0 ? openedLength : -1; }

bool inFile::readFull(void* buffer, uint64_t bytes)
{
    char* at = static_cast<char*>(buffer);
    while (bytes > 0) {
        const ssize_t got = ::read(fd, at, bytes);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        bytes -= uint64_t(got);
    }
    return true;
}

uint64_t inFile::creationFileTime()
{
    // 1970-01-01 in 100-nanosecond intervals since 1601-01-01.
    constexpr int64_t UNIX_EPOCH = 116444736000000000;
    constexpr int64_t PER_SECOND = 10000000;
    // Beyond what a signed 64-bit count holds (about the year 30800) is kept at its end.
    constexpr int64_t LAST_SECOND = (INT64_MAX - UNIX_EPOCH) / PER_SECOND - 1;
    if (fd < 0)
        return uint64_t(UNIX_EPOCH);
    if (createdSeconds < -UNIX_EPOCH / PER_SECOND)
        return 0;
    const int64_t seconds = std::min(createdSeconds, LAST_SECOND);
    return uint64_t(UNIX_EPOCH + seconds * PER_SECOND + createdNanoseconds / 100);
}

namespace {

// Regular file, directory, or neither (links, FIFOs, sockets, devices), without following a link.
bool kindOf(int dirFd, const dirent* entry, dirEntryKind* kind)
{
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
        struct stat info;
        if (fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        type = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_UNKNOWN;
    }
    if (type != DT_REG && type != DT_DIR)
        return false;
    *kind = type == DT_REG ? DIR_ENTRY_FILE : DIR_ENTRY_DIRECTORY;
    return true;
}

} // namespace

bool listDirectory(const char* path, std::vector<dirEntry>& entries)
{
    entries.clear();
    const int dirFd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        dirEntryKind kind;
        if (kindOf(dirFd, entry, &kind))
            entries.push_back(dirEntry{entry->d_name, kind});
    }
    closedir(dir);
    // std::string compares as unsigned bytes: the same order on every file system.
    std::sort(entries.begin(), entries.end(), [](const dirEntry& a, const dirEntry& b) { return a.name < b.name; });
    return true;
}

bool makeDirectory(const char* path)
{
    if (mkdir(path, 0777) == 0)
        return true;
    struct stat info;
    return errno == EEXIST && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {
removeResult removeAt(int dirFd, const char* name)
{
    if (unlinkat(dirFd, name, 0) == 0)
        return REMOVE_DONE;
    return errno == ENOENT ? REMOVE_MISSING : REMOVE_FAILED;
}
} // namespace

removeResult removeFile(const char* path) { return removeAt(AT_FDCWD, path); }

namespace {
bool writeAll(int fd, const void* data, uint32_t bytes)
{
    const char* at = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t put = ::write(fd, at, bytes);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += put;
        bytes -= uint32_t(put);
    }
    return true;
}

// Where the digits before `end` begin; `end` when there are none.
size_t digitsBefore(const std::string& text, size_t end)
{
    while (end > 0 && text[end - 1] >= '0' && text[end - 1] <= '9')
        --end;
    return end;
}

// A temporary file's name: the file's own, then TEMPORARY_MARK, the process id, '.' and a serial number.
// The mark holds a backslash, which no content path may: no name that is content can be taken for one.
constexpr char TEMPORARY_MARK[] = "\\tmp";

bool isLeftoverTemporary(const std::string& name)
{
    constexpr size_t MARK_LENGTH = sizeof(TEMPORARY_MARK) - 1;
    const size_t serial = digitsBefore(name, name.size());
    if (serial == name.size() || serial == 0 || name[serial - 1] != '.')
        return false;
    const size_t pid = digitsBefore(name, serial - 1);
    return pid != serial - 1 && pid > MARK_LENGTH && name.compare(pid - MARK_LENGTH, MARK_LENGTH, TEMPORARY_MARK) == 0;
}

// The temporary file is made beside the file, in the same directory, and renamed over it.
writeResult writeFileAtomicAt(int dirFd, const char* name, const void* head, uint32_t headBytes, const void* body,
                              uint32_t bodyBytes, bool durable)
{
    static std::atomic<uint32_t> serial{0};
    char temporary[4096];
    const int n = std::snprintf(temporary, sizeof(temporary), "%s%s%ld.%u", name, TEMPORARY_MARK, long(getpid()), serial.fetch_add(1));
    if (n < 0 || size_t(n) >= sizeof(temporary))
        return WRITE_OPEN_FAILED;
    const int fd = ::openat(dirFd, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return WRITE_OPEN_FAILED;
    bool ok = writeAll(fd, head, headBytes) && writeAll(fd, body, bodyBytes);
    ok = ok && (!durable || fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    ok = ok && renameat(dirFd, temporary, dirFd, name) == 0;
    if (!ok) {
        unlinkat(dirFd, temporary, 0);
        return WRITE_FAILED;
    }
    return WRITE_DONE;
}

} // namespace

writeResult writeFileAtomic(const char* path, const void* head, uint32_t headBytes, const void* body,
                            uint32_t bodyBytes, bool durable)
{
    return writeFileAtomicAt(AT_FDCWD, path, head, headBytes, body, bodyBytes, durable);
}

writeResult writeFileAtomic(const char* path, const void* data, uint32_t bytes)
{
    return writeFileAtomic(path, data, bytes, nullptr, 0, true);
}

uint32_t removeLeftoverTemporaries(const char* directory)
{
    std::vector<dirEntry> entries;
    listDirectory(directory, entries);
    uint32_t removed = 0;
    for (const dirEntry& entry : entries) {
        const std::string path = std::string(directory) + "/" + entry.name;
        if (entry.kind == DIR_ENTRY_DIRECTORY)
            removed += removeLeftoverTemporaries(path.c_str());
        else if (isLeftoverTemporary(entry.name) && unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}

parentDirectory::~parentDirectory() { close(); }

void parentDirectory::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

namespace {

// Opened first and made only when missing: in a content tree nearly every folder exists already.
int openOrMakeDirectory(int dir, const char* name)
{
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const int opened = openat(dir, name, flags);
    if (opened >= 0 || errno != ENOENT)
        return opened;
    if (mkdirat(dir, name, 0777) != 0 && errno != EEXIST)
        return -1;
    return openat(dir, name, flags);
}

} // namespace

bool parentDirectory::open(const char* path, uint32_t* failedLength)
{
    close();
    *failedLength = 0;
    int dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const char* component = path;
    for (const char* slash = std::strchr(component, '/'); dir >= 0 && slash; slash = std::strchr(component, '/')) {
        const std::string directory(component, slash);
        const int next = openOrMakeDirectory(dir, directory.c_str());
        ::close(dir);
        dir = next;
        *failedLength = uint32_t(slash - path);
        component = slash + 1;
    }
    if (dir < 0)
        return false;
    fd = dir;
    name = component;
    return true;
}

writeResult parentDirectory::writeFileAtomic(const void* head, uint32_t headBytes, const void* body,
                                             uint32_t bodyBytes, bool durable)
{
    if (fd < 0)
        return WRITE_OPEN_FAILED;
    return writeFileAtomicAt(fd, name.c_str(), head, headBytes, body, bodyBytes, durable);
}

bool parentDirectory::openForReading(inFile& file) const
{
    return fd >= 0 && file.openAt(fd, name.c_str(), O_NOFOLLOW);
}

FILE* parentDirectory::openStream(streamMode mode) const
{
    if (fd < 0)
        return nullptr;
    // Opened for both, a FIFO does not wait for its other end, and it fails the check below; a new file
    // is only ever made, so nothing that is there already is opened. An open for writing waits, as the
    // plain one does, for a holder of a lease on the file to give it up.
    const int access = mode == STREAM_UPDATE ? O_RDWR : O_WRONLY | O_CREAT | O_EXCL;
    const int file = openat(fd, name.c_str(), access | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file < 0)
        return nullptr;
    struct stat info;
    FILE* stream = nullptr;
    if (fstat(file, &info) == 0 && S_ISREG(info.st_mode))
        stream = fdopen(file, mode == STREAM_UPDATE ? "r+b" : "wb");
    if (!stream)
        ::close(file);
    return stream;
}

removeResult parentDirectory::removeFile() const
{
    return fd < 0 ? REMOVE_FAILED : removeAt(fd, name.c_str());
}

fileLock::~fileLock() { release(); }

void fileLock::release()
{
    // Closing the only descriptor of the open file ends the hold.
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

lockResult fileLock::take(const parentDirectory& folder)
{
    release();
    if (folder.fd < 0)
        return LOCK_FAILED;
    const int file = openat(folder.fd, folder.name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (file < 0)
        return LOCK_FAILED;
    struct stat info;
    lockResult result = LOCK_FAILED;
    if (fstat(file, &info) == 0 && S_ISREG(info.st_mode)) {
        int locked;
        do
            locked = flock(file, LOCK_EX | LOCK_NB);
        while (locked != 0 && errno == EINTR);
        result = locked == 0 ? LOCK_TAKEN : errno == EWOULDBLOCK ? LOCK_BUSY : LOCK_FAILED;
    }
    if (result == LOCK_TAKEN)
        fd = file;
    else
        ::close(file);
    return result;
}

} // namespace tavrix::sys
