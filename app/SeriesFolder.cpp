#include "app/SeriesFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

// Asks by creating a file, not by reading permission bits: ACLs, read-only mounts, a root user
// and Windows' folder rights all answer the same way then. The probe file is gone on return.
bool CanWriteUnder(const QString& Folder) {
    QString path = QDir::cleanPath(QFileInfo(Folder).absoluteFilePath());
    while (!QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path) return false;
        path = parent;
    }
    if (!QFileInfo(path).isDir()) return false;
    QTemporaryFile probe(QDir(path).filePath(QStringLiteral(".ormelix-probe-XXXXXX")));
    return probe.open();
}

} // namespace

QString SeriesRoot(const QString& ProgramFolder, const QString& PicturesFolder) {
    if (PicturesFolder.isEmpty() || CanWriteUnder(ProgramFolder)) return ProgramFolder;
    return QDir(PicturesFolder).filePath(QStringLiteral("Ormelix"));
}
