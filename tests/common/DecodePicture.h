// A snapshot file read back through the console's own JPEG picture class, so that the check does
// not depend on which image plugins a Qt build carries (the static Windows one has no JPEG one).
#pragma once

#include "imaging/jpeg.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

// The decoded pixels; a null image when the bytes are no JPEG the library accepts.
inline QImage DecodePicture(QByteArray Bytes) {
    QBuffer buffer(&Bytes);
    buffer.open(QIODevice::ReadOnly);
    try {
        TJPEGImage jpeg;
        jpeg.LoadFromStream(buffer);
        return jpeg.ToBitmap();
    } catch (const Exception&) {
        return {};
    }
}
