// libjpeg used directly: the reference encoding that the encoder's bytes are compared with, and
// files of kinds the picture class never writes.
#pragma once

#include <QByteArray>
#include <QImage>
#include <array>

// Bitmap encoded by libjpeg with blue-green-red rows, baseline at Quality, with the given DCT
// method (a J_DCT_METHOD); empty on a library error.
QByteArray EncodeReference(const QImage& Bitmap, int Quality, int DctMethod);

// Bitmap as a sequential file at quality 75: a restart marker after every RestartRows rows of
// blocks (0: none), and, with ScanPerChannel, one scan for each of the three channels instead
// of one for all.
QByteArray EncodeSequential(const QImage& Bitmap, int RestartRows, bool ScanPerChannel);

// A four-channel (CMYK) picture of W x H pixels, each holding the bytes Stored as they are,
// with or without Adobe's marker.
QByteArray EncodeFourChannels(int W, int H, std::array<uchar, 4> Stored, bool AdobeMarker);
