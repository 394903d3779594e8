// Replacing a file's contents so that a reader never sees a partial file: the bytes go to a
// temporary file in the target's folder, which is then renamed over the target. On any failure
// the temporary file is removed and an existing target stays as it was. Otherwise it keeps what
// an overwrite in place keeps: a symbolic link stays and its target gets the bytes, the file's
// permission bits and owner stay (POSIX), and the path is resolved by the system as given.
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
