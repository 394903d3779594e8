#include "tests/imaging/LibJpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

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

bool Run(Encoder& E, const QImage& Rows, int Quality, int DctMethod) {
    if (setjmp(E.Jump) != 0) return false;
    jpeg_create_compress(&E.Info);
    jpeg_mem_dest(&E.Info, &E.Out, &E.Size);
    E.Info.image_width = static_cast<JDIMENSION>(Rows.width());
    E.Info.image_height = static_cast<JDIMENSION>(Rows.height());
    E.Info.input_components = 3;
    E.Info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&E.Info);
    E.Info.dct_method = static_cast<J_DCT_METHOD>(DctMethod);
    jpeg_set_quality(&E.Info, Quality, TRUE);
    jpeg_start_compress(&E.Info, TRUE);
    while (E.Info.next_scanline < E.Info.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(Rows.constScanLine(static_cast<int>(E.Info.next_scanline)));
        jpeg_write_scanlines(&E.Info, &row, 1);
    }
    jpeg_finish_compress(&E.Info);
    return true;
}

} // namespace

QByteArray EncodeReference(const QImage& Bitmap, int Quality, int DctMethod) {
    const QImage rows = Bitmap.convertToFormat(QImage::Format_BGR888);
    Encoder e;
    e.Info.err = jpeg_std_error(&e.Error);
    e.Error.error_exit = EncodeErrorExit;
    e.Info.client_data = &e;
    QByteArray bytes;
    if (Run(e, rows, Quality, DctMethod))
        bytes = QByteArray(reinterpret_cast<const char*>(e.Out), static_cast<qsizetype>(e.Size));
    jpeg_destroy_compress(&e.Info);
    std::free(e.Out);
    return bytes;
}
