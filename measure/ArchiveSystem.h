// The file calls of the archive writer behind one small interface: the real ones by default,
// and in tests a subclass that counts the syncs or fails a call as a full or failing disk would.
#pragma once

#include <cstddef>
#include <string>

namespace vg57 {

class TArchiveSystem {
public:
    virtual ~TArchiveSystem() = default;
    // Each returns what its system call returns, with errno set on failure.
    // Opens for appending, creating the file when missing; never truncates. Readable too when
    // the file allows it, so that EndsInsideLine can look at its end.
    virtual int OpenForAppend(const std::string& path);
    // The file has bytes and the last is not LF, or the last cannot be read.
    virtual bool EndsInsideLine(int fd);
    virtual long Write(int fd, const char* data, std::size_t size);
    // The file's length in bytes; -1 when it cannot be told.
    virtual long long Size(int fd);
    // Cuts the file back to `length` bytes.
    virtual int Truncate(int fd, long long length);
    virtual int DataSync(int fd);
    // Makes a new directory entry in the folder durable.
    virtual int SyncFolder(const std::string& folder);
    virtual int Close(int fd);
    // False when `path` no longer names the open file fd (removed, renamed, or something else
    // put in its place); true also when that can't be told.
    virtual bool StillAtPath(int fd, const std::string& path);
    // The open file still has a name somewhere (it was moved, not deleted); true when unknown.
    virtual bool Linked(int fd);
    // Where the open file is named now; empty when that can't be found.
    virtual std::string PathOf(int fd);
    // Makes the folder and any missing parents.
    virtual int MakeFolder(const std::string& folder);
};

// The real calls.
TArchiveSystem& SystemArchiveCalls();

// The system's words for an errno value.
std::string ErrnoText(int err);

} // namespace vg57
