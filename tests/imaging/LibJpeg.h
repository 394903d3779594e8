// libjpeg used directly: reading back what the encoder wrote, and a reference encoding.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <array>
#include <cstdint>
#include <vector>

struct DecodedJpeg {
    bool Ok = false;
    int ErrorCode = 0;
    int Width = 0;
    int Height = 0;
    int Components = 0;
    int ColorSpace = 0; // J_COLOR_SPACE of the file
    bool Progressive = false;
    bool Jfif = false;
    // Quantisation tables in natural (row-major) order, by table number; empty when absent.
    std::array<std::vector<std::uint16_t>, 4> Quant;
    std::array<int, 4> QuantOfComponent{};
    // RGB (or gray) samples, row by row.
    std::vector<std::uint8_t> Pixels;

    QColor Pixel(int X, int Y) const;
};

DecodedJpeg DecodeJpeg(const QByteArray& Bytes);

// Bitmap encoded by libjpeg with blue-green-red rows, baseline at Quality, with the given DCT
// method (a J_DCT_METHOD); empty on a library error.
QByteArray EncodeReference(const QImage& Bitmap, int Quality, int DctMethod);
