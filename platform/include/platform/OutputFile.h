#pragma once
// Every file the library writes goes through OutputFile: the bytes go to a
// temporary beside the final name, and only Commit() puts them under that
// name (one rename). A failure, a cancel or a return without Commit()
// removes the temporary and nothing else, so a save that does not finish
// never touches what was at the path before.
//
// A name that is a symbolic link is followed: the file it points to is
// replaced and the link stays. A path that names something other than a
// regular file (a device, a pipe) cannot be replaced by a rename; it is
// written in place and never removed.
#include "platform/Types.h"

#include <cstddef>
#include <string>

namespace platform {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary (read-write, permissions as a new file at
    // `path` would get, or those of the file it replaces). false: nothing
    // was created; errno and the last error tell why.
    bool Create(const char* path);
    bool IsOpen() const { return fd_ >= 0; }
    // The open descriptor, for the file calls (_lwrite, _llseek: an HFILE
    // is this descriptor).
    int Descriptor() const { return fd_; }
    // Where the bytes go until Commit(): for writers that take a file name.
    const std::string& WorkingPath() const { return working_; }
    // All bytes or false (errno and the last error set; ENOSPC is
    // ERROR_DISK_FULL).
    bool Write(const void* bytes, std::size_t count);
    // Flushes, closes and renames the temporary over the final name. false:
    // the temporary is removed and the final name keeps what it had.
    bool Commit();
    // Closes and removes the temporary (nothing in place of a device).
    void Discard();

private:
    int fd_ = -1;
    bool inPlace_ = false;
    std::string final_, working_;
};

// Removes the temporaries of OutputFile (and "NAME.tmp.PID" ones) left
// beside `path` by processes that no longer run: a process killed while it
// wrote leaves its temporary behind.
void RemoveStaleTemporaries(const char* path);

} // namespace platform
