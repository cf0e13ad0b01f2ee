#include "write_result.h"

#include <system_error>

namespace platform {

std::string WriteResult::Reason() const {
    switch (error) {
        case WriteError::kNone:
            return {};
        case WriteError::kBadText:
            return "the text holds a line break, a NUL or a character that would start another "
                   "entry";
        case WriteError::kNoPath:
            return "no file name was given";
        case WriteError::kLinkLoop:
            return "its symbolic links lead nowhere";
        case WriteError::kMissingFolder:
            return "its folder does not exist";
        case WriteError::kLockTimeout:
            return "another program kept it locked for more than " +
                   std::to_string(kWriteLockDeadline.count() / 1000) + " s";
        case WriteError::kNotRegularFile:
            return "it is not a regular file (a folder, FIFO or device is in its place)";
        case WriteError::kReadOnlyFile:
            return "the file is read-only";
        case WriteError::kPermission:
            return "permission denied: this user may not write the file or its folder";
        case WriteError::kReadOnlyFileSystem:
            return "the file system is read-only";
        case WriteError::kOwnerNotKept:
            return "the file belongs to another user, whose ownership could not be kept";
        case WriteError::kTooLarge:
            return "the file is too large";
        case WriteError::kDiskFull:
            return "the disk is full";
        case WriteError::kUntrustedLink:
            return "it is a symbolic link, and the link or the file it leads to belongs to another "
                   "user";
        case WriteError::kLinkInSharedFolder:
            return "it is a symbolic link in a folder that every user may write";
        case WriteError::kReadableByOthers:
            return "its symbolic link leads to a file that every user may read, which would leave "
                   "keys readable by others";
        case WriteError::kInUse:
            return "another program has it open";
        case WriteError::kNameTooLong:
            return "its name is too long for the file system, with the temporary copy's suffix "
                   "that a safe write adds to it";
        case WriteError::kSystemError:
            break;
    }
    return "system error " + std::to_string(systemError) + " (" +
           std::system_category().message(systemError) + ")";
}

}  // namespace platform
