#pragma once
// The file-system calls of the content store: reading regular files, walking directories, creating
// directories, removing files, replacing a file whole, and holding a lock file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tavrix::sys {

// A regular file opened for reading. Opening never blocks: a FIFO, socket, device or directory at the path
// is refused like a missing file.
class inFile {
public:
    inFile() = default;
    ~inFile();
    inFile(const inFile&) = delete;
    inFile& operator=(const inFile&) = delete;

    bool open(const char* path);
    void close();
    // origin is SEEK_SET, SEEK_CUR or SEEK_END of <cstdio>.
    bool seek(int64_t offset, int origin);
    // The position, or -1.
    int64_t tell();
    // The file's length when it was opened; -1 when none is open.
    int64_t length();
    // Reads exactly `bytes` bytes; false on an error or when the file ends first.
    bool readFull(void* buffer, uint64_t bytes);
    // The birth time where the file system keeps one, else the last modification, as the Windows file
    // functions give a creation time: 100-nanosecond intervals since 1601-01-01 (0 for anything earlier); as it was when
    // the file was opened.
    uint64_t creationFileTime();

private:
    friend class parentDirectory;
    bool openAt(int dirFd, const char* name, int extraFlags);

    int fd = -1;
    // What the one status call at open found.
    int64_t openedLength = -1;
    int64_t createdSeconds = 0; // Unix time
    int64_t createdNanoseconds = 0;
};

enum dirEntryKind : uint8_t {
    DIR_ENTRY_FILE = 0,
    DIR_ENTRY_DIRECTORY = 1,
};

struct dirEntry {
    std::string name;
    dirEntryKind kind;
};

// The regular files and directories in a directory, sorted bytewise by name; "." and "..", symbolic links,
// FIFOs, sockets and devices are left out. A symbolic link at the path itself is not followed either.
// False (and no entries) when the directory cannot be read.
bool listDirectory(const char* path, std::vector<dirEntry>& entries);

// True when the directory was made or already exists.
bool makeDirectory(const char* path);

enum removeResult : uint8_t {
    REMOVE_DONE = 0,
    REMOVE_MISSING = 1,
    REMOVE_FAILED = 2,
};
removeResult removeFile(const char* path);

enum writeResult : uint8_t {
    WRITE_DONE = 0,
    WRITE_OPEN_FAILED = 1,
    WRITE_FAILED = 2,
};
// Writes the bytes to a new file beside the path, flushed to the disk, and renames it over the path, so that
// the path holds either its old contents or all of the new ones.
writeResult writeFileAtomic(const char* path, const void* data, uint32_t bytes);
// The same with the contents in two pieces, head then body. Without `durable` nothing is flushed to the disk:
// for data that can be made again and is checked when it is read.
writeResult writeFileAtomic(const char* path, const void* head, uint32_t headBytes, const void* body,
                            uint32_t bodyBytes, bool durable);

// Removes the temporary files that a write above leaves when the process ends before its rename, in the
// directory and every directory below it (links are not followed); how many were removed. Their names end
// in a backslash, "tmp", the process id, '.' and a serial number: no content path holds a backslash, so
// no content file is ever taken for one.
uint32_t removeLeftoverTemporaries(const char* directory);

// How parentDirectory::openStream opens the file.
enum streamMode : uint8_t {
    STREAM_UPDATE = 0,
    STREAM_CREATE = 1,
};

// The directory above a relative path, reached from the current directory one component at a time without
// following a symbolic link, the missing directories made on the way; the path's file is then written in
// it. So nothing is created or replaced through a link (a link at the path itself is replaced, not followed).
class parentDirectory {
public:
    parentDirectory() = default;
    ~parentDirectory();
    parentDirectory(const parentDirectory&) = delete;
    parentDirectory& operator=(const parentDirectory&) = delete;

    // False when a component is a link or no directory, or cannot be made; failedLength is then the length
    // of the path up to the end of that component.
    bool open(const char* path, uint32_t* failedLength);
    // writeFileAtomic of the path's file.
    writeResult writeFileAtomic(const void* head, uint32_t headBytes, const void* body, uint32_t bodyBytes,
                                bool durable);
    // The path's file as inFile::open opens it, but not through a link at the path.
    bool openForReading(inFile& file) const;
    // The path's regular file as a stream for reading and writing ("r+b"), or a new file made there for
    // writing ("wb"); null when it cannot be opened or made (something is there already), or is a link or
    // no regular file.
    FILE* openStream(streamMode mode) const;
    // removeFile of the path's file; a link there is removed, not followed.
    removeResult removeFile() const;

private:
    friend class fileLock;
    void close();

    int fd = -1;
    std::string name;
};

enum lockResult : uint8_t {
    LOCK_TAKEN = 0,
    LOCK_BUSY = 1, // another holder has it
    LOCK_FAILED = 2,
};

// An exclusive hold on a file, against every other holder, in this process too (flock), until it is
// released or the process ends. The file is made when missing and otherwise left as it is; it is opened in
// a parentDirectory, not through a link, and must be a regular file.
class fileLock {
public:
    fileLock() = default;
    ~fileLock();
    fileLock(const fileLock&) = delete;
    fileLock& operator=(const fileLock&) = delete;

    // The path's file of an opened parentDirectory. A hold already taken is released first.
    lockResult take(const parentDirectory& folder);
    void release();

private:
    int fd = -1;
};

} // namespace tavrix::sys
