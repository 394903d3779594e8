#include "LibJpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <jpeglib.h>
}

namespace {

struct Decoder {
    jpeg_error_mgr Error{};
    jpeg_decompress_struct Info{};
    std::jmp_buf Jump{};
};

[[noreturn]] void DecodeErrorExit(j_common_ptr Info) {
    std::longjmp(static_cast<Decoder*>(Info->client_data)->Jump, 1);
}

// Only trivial locals here: a library error comes back by longjmp.
bool Run(Decoder& D, const QByteArray& Bytes, DecodedJpeg& Out) {
    if (setjmp(D.Jump) != 0) return false;
    jpeg_create_decompress(&D.Info);
    jpeg_mem_src(&D.Info, reinterpret_cast<const unsigned char*>(Bytes.constData()),
                 static_cast<unsigned long>(Bytes.size()));
    jpeg_read_header(&D.Info, TRUE);
    Out.Width = static_cast<int>(D.Info.image_width);
    Out.Height = static_cast<int>(D.Info.image_height);
    Out.Components = D.Info.num_components;
    Out.ColorSpace = D.Info.jpeg_color_space;
    Out.Progressive = D.Info.progressive_mode;
    Out.Jfif = D.Info.saw_JFIF_marker;
    for (int t = 0; t < 4; ++t) {
        if (!D.Info.quant_tbl_ptrs[t]) continue;
        const UINT16* q = D.Info.quant_tbl_ptrs[t]->quantval;
        Out.Quant[t].assign(q, q + DCTSIZE2);
    }
    for (int c = 0; c < D.Info.num_components && c < 4; ++c)
        Out.QuantOfComponent[c] = D.Info.comp_info[c].quant_tbl_no;
    if (D.Info.jpeg_color_space != JCS_GRAYSCALE) D.Info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&D.Info);
    const auto stride = static_cast<std::size_t>(D.Info.output_width * D.Info.output_components);
    Out.Pixels.resize(stride * D.Info.output_height);
    while (D.Info.output_scanline < D.Info.output_height) {
        JSAMPROW row = Out.Pixels.data() + stride * D.Info.output_scanline;
        jpeg_read_scanlines(&D.Info, &row, 1);
    }
    jpeg_finish_decompress(&D.Info);
    return true;
}

} // namespace

QColor DecodedJpeg::Pixel(int X, int Y) const {
    if (Components == 1) {
        const int v = Pixels.at(static_cast<std::size_t>(Y * Width + X));
        return QColor(v, v, v);
    }
    const std::size_t at = static_cast<std::size_t>((Y * Width + X) * 3);
    return QColor(Pixels.at(at), Pixels.at(at + 1), Pixels.at(at + 2));
}

DecodedJpeg DecodeJpeg(const QByteArray& Bytes) {
    DecodedJpeg out;
    Decoder d;
    d.Info.err = jpeg_std_error(&d.Error);
    d.Error.error_exit = DecodeErrorExit;
    d.Info.client_data = &d;
    out.Ok = Run(d, Bytes, out);
    if (!out.Ok) out.ErrorCode = d.Error.msg_code;
    jpeg_destroy_decompress(&d.Info);
    return out;
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
