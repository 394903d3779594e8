// Helpers of the reliability tests: the pictures a series left behind, and whether a file is a
// whole JPEG.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QStringList>

inline QStringList FilesUnder(const QString& Root, const QStringList& Patterns = {"*"}) {
    QStringList found;
    QDirIterator it(Root, Patterns, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) found << it.next();
    found.sort();
    return found;
}

inline QByteArray FileBytes(const QString& Path) {
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

// Starts with SOI, ends with EOI, and decodes to the snapshot's size.
inline bool IsWholeJpeg(const QByteArray& Bytes, QSize Expected) {
    if (Bytes.size() < 4) return false;
    const auto at = [&](qsizetype i) { return static_cast<uint8_t>(Bytes[i]); };
    if (at(0) != 0xFF || at(1) != 0xD8) return false;
    if (at(Bytes.size() - 2) != 0xFF || at(Bytes.size() - 1) != 0xD9) return false;
    QImage image;
    return image.loadFromData(Bytes, "JPEG") && image.size() == Expected;
}
