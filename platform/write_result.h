// Why a write of a settings file or of the key store failed, in words an operator can act on.
#pragma once

#include <chrono>
#include <string>

namespace platform {

// How long a write waits for the lock of another writer before it gives up.
inline constexpr std::chrono::milliseconds kWriteLockDeadline{3000};

enum class WriteError {
    kNone,
    kBadText,             // a value or name that would add lines or sections to the file
    kNoPath,              // no file name
    kLinkLoop,            // the symbolic links at the path lead nowhere
    kMissingFolder,       // the file's folder does not exist
    kLockTimeout,         // another writer kept the lock beyond kWriteLockDeadline
    kNotRegularFile,      // a folder, FIFO or device is at the path
    kReadOnlyFile,        // the file has no write permission for anyone
    kPermission,          // this user may not write the file or create files in its folder
    kReadOnlyFileSystem,  // the file system is mounted read-only
    kOwnerNotKept,        // the replacement could not be given the file's owner or group
    kTooLarge,            // the file, or what the write would make of it, exceeds the size limit
    kDiskFull,            // no space left on the disk or in the user's quota
    kUntrustedLink,       // a symbolic link at the path, or its target, belongs to another user
    kLinkInSharedFolder,  // a symbolic link at the path stands in a world-writable sticky folder
    kReadableByOthers,    // a secret file behind a link that every user may read
    kInUse,               // another program holds the file open without sharing (Windows)
    kNameTooLong,         // the name, or the name of its temporary copy, exceeds the system's limit
    kSystemError,         // any other failure of the system; `systemError` says which
};

// What a replaced file holds. Secrets (keys) are never left where other users may read them: a
// secret file loses the permissions of others when it is rewritten, and one reached through a
// symbolic link that others may read is refused, since the link may lead to any file.
enum class FileContent { kPlain, kSecret };

struct WriteResult {
    WriteError error = WriteError::kNone;
    int systemError = 0;  // errno (GetLastError on Windows) of the failing step, 0 when none
    // A secret file of this user's that others could read lost those permissions in the write.
    bool othersAccessRemoved = false;

    bool ok() const { return error == WriteError::kNone; }
    // The reason as a phrase that completes "could not be written: ...", e.g. "the file is
    // read-only"; empty when the write succeeded.
    std::string Reason() const;
};

}  // namespace platform
