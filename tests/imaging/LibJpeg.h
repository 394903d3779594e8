// libjpeg used directly: the reference encoding that the encoder's bytes are compared with.
#pragma once

#include <QByteArray>
#include <QImage>

// Bitmap encoded by libjpeg with blue-green-red rows, baseline at Quality, with the given DCT
// method (a J_DCT_METHOD); empty on a library error.
QByteArray EncodeReference(const QImage& Bitmap, int Quality, int DctMethod);
