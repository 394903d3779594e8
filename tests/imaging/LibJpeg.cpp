#include "tests/imaging/LibJpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <functional>

extern "C" {
#include <jpeglib.h>
}

namespace {

struct Encoder {
    jpeg_error_mgr Error{};
    jpeg_compress_struct Info{};
    std::jmp_buf Jump{};
    unsigned char* Out = nullptr;
    unsigned long Size = 0;
};

[[noreturn]] void EncodeErrorExit(j_common_ptr Info) {
    std::longjmp(static_cast<Encoder*>(Info->client_data)->Jump, 1);
}

// Rows: W x H pixels of Components bytes each, in the colour space Space; Configure runs after
// the library's defaults.
bool Run(Encoder& E, const QByteArray& Rows, int W, int H, int Components, J_COLOR_SPACE Space,
         const std::function<void(jpeg_compress_struct&)>& Configure) {
    if (setjmp(E.Jump) != 0) return false;
    jpeg_create_compress(&E.Info);
    jpeg_mem_dest(&E.Info, &E.Out, &E.Size);
    E.Info.image_width = static_cast<JDIMENSION>(W);
    E.Info.image_height = static_cast<JDIMENSION>(H);
    E.Info.input_components = Components;
    E.Info.in_color_space = Space;
    jpeg_set_defaults(&E.Info);
    Configure(E.Info);
    jpeg_start_compress(&E.Info, TRUE);
    while (E.Info.next_scanline < E.Info.image_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<char*>(Rows.constData())) +
                       static_cast<qsizetype>(E.Info.next_scanline) * W * Components;
        jpeg_write_scanlines(&E.Info, &row, 1);
    }
    jpeg_finish_compress(&E.Info);
    return true;
}

QByteArray Encode(const QByteArray& Rows, int W, int H, int Components, J_COLOR_SPACE Space,
                  const std::function<void(jpeg_compress_struct&)>& Configure) {
    Encoder e;
    e.Info.err = jpeg_std_error(&e.Error);
    e.Error.error_exit = EncodeErrorExit;
    e.Info.client_data = &e;
    QByteArray bytes;
    if (Run(e, Rows, W, H, Components, Space, Configure))
        bytes = QByteArray(reinterpret_cast<const char*>(e.Out), static_cast<qsizetype>(e.Size));
    jpeg_destroy_compress(&e.Info);
    std::free(e.Out);
    return bytes;
}

QByteArray BgrRows(const QImage& Bitmap) {
    const QImage rows = Bitmap.convertToFormat(QImage::Format_BGR888);
    QByteArray bytes;
    for (int y = 0; y < rows.height(); ++y)
        bytes.append(reinterpret_cast<const char*>(rows.constScanLine(y)), 3 * rows.width());
    return bytes;
}

} // namespace

QByteArray EncodeReference(const QImage& Bitmap, int Quality, int DctMethod) {
    return Encode(BgrRows(Bitmap), Bitmap.width(), Bitmap.height(), 3, JCS_EXT_BGR,
                  [Quality, DctMethod](jpeg_compress_struct& Info) {
                      Info.dct_method = static_cast<J_DCT_METHOD>(DctMethod);
                      jpeg_set_quality(&Info, Quality, TRUE);
                  });
}

QByteArray EncodeSequential(const QImage& Bitmap, int RestartRows, bool ScanPerChannel) {
    static const jpeg_scan_info kScans[] = {
        {1, {0}, 0, 63, 0, 0}, {1, {1}, 0, 63, 0, 0}, {1, {2}, 0, 63, 0, 0}};
    return Encode(BgrRows(Bitmap), Bitmap.width(), Bitmap.height(), 3, JCS_EXT_BGR,
                  [RestartRows, ScanPerChannel](jpeg_compress_struct& Info) {
                      jpeg_set_quality(&Info, 75, TRUE);
                      Info.restart_in_rows = RestartRows;
                      if (ScanPerChannel) {
                          Info.scan_info = kScans;
                          Info.num_scans = 3;
                      }
                  });
}

QByteArray EncodeFourChannels(int W, int H, std::array<uchar, 4> Stored, bool AdobeMarker) {
    QByteArray rows;
    for (int i = 0; i < W * H; ++i) rows.append(reinterpret_cast<const char*>(Stored.data()), 4);
    return Encode(rows, W, H, 4, JCS_CMYK, [AdobeMarker](jpeg_compress_struct& Info) {
        jpeg_set_quality(&Info, 90, TRUE);
        Info.write_Adobe_marker = AdobeMarker ? TRUE : FALSE;
    });
}
