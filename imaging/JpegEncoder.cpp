#include "imaging/JpegCodec.h"

using namespace jpegcodec;

TJPEGEncoder::TJPEGEncoder(TJPEGImage& Owner) : Image(Owner), Stream(Owner.EncodedSizeLimit()) {
    Install(Info, &Owner);
    Dest.Pub.init_destination = InitDestination;
    Dest.Pub.empty_output_buffer = EmptyOutputBuffer;
    Dest.Pub.term_destination = TermDestination;
    Dest.Stream = &Stream;
}

void TJPEGEncoder::InitDestination(j_compress_ptr Info) {
    TDestination& d = Of(Info).Dest;
    d.Buffer = static_cast<JOCTET*>((*Info->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(Info), JPOOL_IMAGE, kBlockSize * sizeof(JOCTET)));
    d.Pub.next_output_byte = d.Buffer;
    d.Pub.free_in_buffer = kBlockSize;
}

boolean TJPEGEncoder::EmptyOutputBuffer(j_compress_ptr Info) {
    TDestination& d = Of(Info).Dest;
    if (d.Stream->Write(d.Buffer, kBlockSize) != static_cast<qsizetype>(kBlockSize))
        ERREXIT(Info, JERR_FILE_WRITE);
    d.Pub.next_output_byte = d.Buffer;
    d.Pub.free_in_buffer = kBlockSize;
    return TRUE;
}

void TJPEGEncoder::TermDestination(j_compress_ptr Info) {
    TDestination& d = Of(Info).Dest;
    const auto count = static_cast<qsizetype>(kBlockSize - d.Pub.free_in_buffer);
    if (d.Stream->Write(d.Buffer, count) != count) ERREXIT(Info, JERR_FILE_WRITE);
}

void TJPEGEncoder::Create() {
    if (!Guarded([this] { jpeg_CreateCompress(&Info, JPEG_LIB_VERSION, sizeof(Info)); })) Fail();
    // jpeg_CreateCompress clears everything but the error manager and client_data.
    Info.progress = &Progress.Pub;
    Info.dest = &Dest.Pub;
}

void TJPEGEncoder::Configure(int Quality, bool Gray, bool Progressive) {
    const bool ok = Guarded([this, Quality, Gray, Progressive] {
        jpeg_set_defaults(&Info);
        Info.dct_method = JDCT_FLOAT;
        jpeg_set_quality(&Info, Quality, TRUE);
        if (Gray) jpeg_set_colorspace(&Info, JCS_GRAYSCALE);
        if (Progressive) jpeg_simple_progression(&Info);
    });
    if (!ok) Fail();
}

void TJPEGEncoder::Run() {
    jpeg_start_compress(&Info, TRUE);
    const uchar* const top = Rows.constBits();
    const qsizetype stride = Rows.bytesPerLine();
    while (Info.next_scanline < Info.image_height) {
        // The library only reads the rows; its interface just lacks the const.
        JSAMPROW row =
            const_cast<JSAMPROW>(top + static_cast<qsizetype>(Info.next_scanline) * stride);
        jpeg_write_scanlines(&Info, &row, 1);
    }
    jpeg_finish_compress(&Info);
}
