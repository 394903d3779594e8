// Replacing a file's contents so that a reader never sees a partial file: the bytes go to a
// temporary file in the target's folder, which is then renamed over the target. On any failure
// the temporary file is removed and an existing target stays as it was.
//
// It refuses what an overwrite in place would refuse: a file the caller may not write (the
// system's reason, such as EACCES; root may write as it could in place), a folder (EISDIR), and
// a pipe, socket or device (ENOTSUP), which stays what it is. Besides, the target's folder must
// be writable, which an overwrite in place would not need.
//
// Otherwise it keeps what an overwrite in place keeps, as far as a new file can: the path is
// resolved by the system as given; a symbolic link stays and the file it names gets the bytes
// (a dangling one: the file is created there); and on POSIX systems the permission bits, the
// owner and group where the caller's rights allow giving them back (else the group alone where
// it may, else the file is the caller's), and the set-user-ID and set-group-ID bits only along
// with the owner or group they belong to (the system clears them besides, as on any write of
// bytes by a user without the right to keep them). Not kept: other hard links to the old file
// (they keep the old contents), its extended attributes and ACLs. On Windows the system's
// replace refuses a read-only file itself; attributes are not carried over.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <functional>
#include <sys/types.h>

// Writes up to Size bytes to the descriptor; the contract of write(2) (count, or -1 and errno).
using TFileWriter = std::function<ssize_t(int Fd, const void* Data, std::size_t Size)>;

// Raises EFCreateError (expanded path and the system's error text) when the file cannot be
// created or put in place, EWriteError when the bytes cannot all be written. An empty Writer
// means write(2).
void ReplaceFileContents(const QString& FileName, QByteArrayView Bytes,
                         const TFileWriter& Writer = {});

// The expanded absolute form of a path, as shown in error messages.
QString ExpandFileName(const QString& FileName);
