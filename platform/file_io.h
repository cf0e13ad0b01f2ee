// Reading and replacing small text files (settings, the key store) so that a stray FIFO or device
// never blocks the caller, an interrupted write never leaves a half-written file or litter, and
// concurrent writers in other processes or threads never lose each other's changes.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "write_result.h"

namespace platform {

// Reads `path` if it is a regular file (through symbolic links), without opening anything that
// could block: a missing file, a FIFO, a device or a directory reads as an empty file. Fails
// (nothing) for a regular file that cannot be read or exceeds `maxSize`.
std::optional<std::string> ReadRegularFile(const char* path, std::size_t maxSize);

// Replaces the file at `path` with `edit(current content)` (empty for a new file). A symbolic link
// is written through to its target only when the link and its target belong to this user (or to
// root) and the link does not stand in a world-writable sticky folder (POSIX). The whole
// read-modify-replace runs under an exclusive lock on
// "<target>.lock": a writer that finds it taken waits in turn (a blocking lock, not polling) for
// at most kWriteLockDeadline. The new content goes to a temporary file "<target>.tmpXXXXXX" that
// is flushed, renamed over the target, and the directory flushed after it. Temporary files that
// writers killed mid-write left beside the target are removed. An existing file keeps its owner,
// group and mode. The write is refused, the file untouched, where it is not a regular file, is
// read-only (no write permission for anyone, which holds for root too), this process may not
// write it, its owner or group could not be kept, or it or the edited content exceeds `maxSize`;
// the result says why. A new file is readable and writable by its owner only. A secret file
// (`content`) loses the permissions of others; behind a link, one that others may read is refused.
// An edit that leaves the content as it was writes nothing (unless it must take a secret from
// others): the lock and the checks are the same, the file is not replaced.
WriteResult ReplaceFile(const char* path, std::size_t maxSize,
                        const std::function<std::string(const std::string&)>& edit,
                        FileContent content = FileContent::kPlain);

// Whether ReplaceFile could replace `path` now, by the checks it makes before it writes (the
// links, the kind of file, its permissions, its folder), without writing or creating anything:
// for a caller that must know before it does what it cannot undo.
WriteResult CheckReplaceable(const char* path, FileContent content = FileContent::kPlain);

// Replaces the file at `path` with `content` as a whole: the content goes to a temporary file
// "<path>.tmpXXXXXX" in the same folder that is flushed and renamed over `path`, and the folder is
// flushed after it, so that a reader sees the old file or the new one, never a part. For files
// that one writer owns (a test record), hence no lock. Only a regular file is replaced: a
// symbolic link, folder, FIFO or device at the path is refused and left alone, as is a file that
// nobody may write. An existing file keeps its owner, group and mode; a new one is readable by
// all and writable by its owner.
WriteResult ReplaceWholeFile(const char* path, const std::string& content);

}  // namespace platform
