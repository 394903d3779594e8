#include "app/SeriesFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
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

QString AbsoluteOrEmpty(const QString& Path) {
    // An empty user-dirs entry comes back as the two quote characters: relative as well.
    if (Path.isEmpty() || !QDir::isAbsolutePath(Path)) return QString();
    return QDir::cleanPath(Path);
}

QStringList SystemRoots() {
#ifdef _WIN32
    QStringList roots;
    for (const char* name :
         {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot", "windir"}) {
        const QString root =
            AbsoluteOrEmpty(QDir::fromNativeSeparators(qEnvironmentVariable(name)));
        if (!root.isEmpty()) roots << root;
    }
    return roots;
#else
    // The home folders stay out even where they lie under /var (as on some distributions).
    return {QStringLiteral("/usr"),      QStringLiteral("/bin"),   QStringLiteral("/sbin"),
            QStringLiteral("/lib"),      QStringLiteral("/lib32"), QStringLiteral("/lib64"),
            QStringLiteral("/libx32"),   QStringLiteral("/opt"),   QStringLiteral("/etc"),
            QStringLiteral("/boot"),     QStringLiteral("/snap"),  QStringLiteral("/nix/store"),
            QStringLiteral("/gnu/store")};
#endif
}

} // namespace

bool IsSystemFolder(const QString& Folder) {
    const QString path = QDir::cleanPath(QFileInfo(Folder).absoluteFilePath());
#ifdef _WIN32
    constexpr Qt::CaseSensitivity kCase = Qt::CaseInsensitive;
#else
    constexpr Qt::CaseSensitivity kCase = Qt::CaseSensitive;
    if (path == QStringLiteral("/")) return true;
#endif
    for (const QString& root : SystemRoots()) {
        if (path.compare(root, kCase) == 0 || path.startsWith(root + QLatin1Char('/'), kCase))
            return true;
    }
    return false;
}

QString SeriesRoot(const QString& ProgramFolder, const QString& PicturesFolder,
                   const QString& HomeFolder) {
    if (PicturesFolder.isEmpty() && HomeFolder.isEmpty()) return ProgramFolder;
    QStringList places;
    // An installed program's folder is not the user's: as root the probe there would succeed.
    if (!IsSystemFolder(ProgramFolder)) places << ProgramFolder;
    for (const QString& base : {PicturesFolder, HomeFolder})
        if (!base.isEmpty()) places << QDir(base).filePath(QStringLiteral("Ormelix"));
    for (const QString& place : places)
        if (CanWriteUnder(place)) return place;
    return places.first();
}

QString UserHomeFolder() {
    // Without a home Qt answers the root folder, which is nobody's to fill.
    const QString home = AbsoluteOrEmpty(QDir::homePath());
    return IsSystemFolder(home) ? QString() : home;
}

QString UserPicturesFolder() {
    const QString set =
        AbsoluteOrEmpty(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    if (!set.isEmpty()) return set;
    const QString home = UserHomeFolder();
    return home.isEmpty() ? QString() : QDir(home).filePath(QStringLiteral("Pictures"));
}
