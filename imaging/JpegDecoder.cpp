#include "imaging/JpegCodec.h"

using namespace jpegcodec;

TJPEGDecoder::TJPEGDecoder(const QByteArray& Data, TJPEGImage* Reporter) : Bytes(Data) {
    Install(Info, Reporter);
    Error.emit_message = EmitMessage;
    Source.init_source = InitSource;
    Source.fill_input_buffer = FillInputBuffer;
    Source.skip_input_data = SkipInputData;
    Source.resync_to_restart = jpeg_resync_to_restart;
    Source.term_source = TermSource;
    Source.next_input_byte = reinterpret_cast<const JOCTET*>(Bytes.constData());
    Source.bytes_in_buffer = static_cast<std::size_t>(Bytes.size());
}

// These warnings say that a scan's data stopped at a marker before the picture was complete (or
// a restart interval's data did); the library would fill the rest with grey and go on. They
// fail the decoding as data that physically ends does. Other warnings are dropped.
void TJPEGDecoder::EmitMessage(j_common_ptr Info, int Level) {
    if (Level >= 0) return;
    const int code = Info->err->msg_code;
    if (code != JWRN_HIT_MARKER && code != JWRN_JPEG_EOF && code != JWRN_MUST_RESYNC) return;
    Trap(Info).Leave(JERR_INPUT_EOF);
}

// All bytes are in the buffer from the start, so a call for more means the data ended early.
// That is an error, not the library's usual warning and made-up end marker: a cut-off picture
// must not pass for a whole one.
boolean TJPEGDecoder::FillInputBuffer(j_decompress_ptr Info) {
    ERREXIT(Info, Of(Info).Bytes.isEmpty() ? JERR_INPUT_EMPTY : JERR_INPUT_EOF);
    return FALSE;
}

void TJPEGDecoder::SkipInputData(j_decompress_ptr Info, long Count) {
    if (Count <= 0) return;
    jpeg_source_mgr& src = *Info->src;
    if (static_cast<unsigned long>(Count) > src.bytes_in_buffer) ERREXIT(Info, JERR_INPUT_EOF);
    src.next_input_byte += Count;
    src.bytes_in_buffer -= static_cast<std::size_t>(Count);
}

void TJPEGDecoder::ReadHeader() {
    const bool ok = Guarded([this] {
        jpeg_CreateDecompress(&Info, JPEG_LIB_VERSION, sizeof(Info));
        // jpeg_CreateDecompress clears everything but the error manager and client_data.
        Info.src = &Source;
        jpeg_read_header(&Info, TRUE);
    });
    if (!ok) Fail();
    InvertedInks = Info.saw_Adobe_marker != FALSE;
}

void TJPEGDecoder::CheckSize(std::int64_t MaxPixels) const {
    if (MaxPixels > 0 &&
        static_cast<std::int64_t>(Info.image_width) * Info.image_height > MaxPixels)
        throw EJPEG(JERR_IMAGE_TOO_BIG);
}

bool TJPEGDecoder::HasMultipleScans() {
    bool multiple = false;
    if (!Guarded([this, &multiple] { multiple = jpeg_has_multiple_scans(&Info); })) Fail();
    return multiple;
}

void TJPEGDecoder::Configure(const TDecodeSettings& Settings) {
    Wanted = Settings;
    switch (Info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        Output = TOutput::Gray;
        break;
    // The library turns these into CMYK only; Decode makes colours of that.
    case JCS_CMYK:
    case JCS_YCCK:
        Output = TOutput::Cmyk;
        break;
    default:
        Output = Settings.Gray ? TOutput::Gray : TOutput::Colour;
        break;
    }
    // The quantiser's second pass wants three channels; CMYK is reduced by Qt afterwards.
    const bool quantize = Settings.PixelFormat == jf8Bit && Output != TOutput::Cmyk;
    const bool ok = Guarded([this, &Settings, quantize] {
        Info.scale_num = 1;
        Info.scale_denom = 1u << Settings.Scale;
        Info.do_block_smoothing = Settings.Smoothing ? TRUE : FALSE;
        if (Settings.Performance == jpBestSpeed) {
            Info.dct_method = JDCT_IFAST;
            Info.do_fancy_upsampling = FALSE;
            Info.two_pass_quantize = FALSE;
            Info.dither_mode = JDITHER_ORDERED;
        }
        switch (Output) {
        case TOutput::Gray:
            Info.out_color_space = JCS_GRAYSCALE;
            break;
        case TOutput::Cmyk:
            Info.out_color_space = JCS_CMYK;
            break;
        default:
            Info.out_color_space = quantize ? JCS_RGB : kDecodedSpace;
            break;
        }
        if (quantize) {
            Info.quantize_colors = TRUE;
            Info.desired_number_of_colors = 256;
        }
        jpeg_calc_output_dimensions(&Info);
    });
    if (!ok) Fail();
    if (quantize) Output = TOutput::Indexed;
}

QImage TJPEGDecoder::Decode(const std::function<void(const QImage&, int)>& Pass) {
    const bool wanted = Pass && (Output == TOutput::Gray || Output == TOutput::Colour);
    bool incremental = false;
    if (!Guarded([this, wanted, &incremental] {
            incremental = wanted && jpeg_has_multiple_scans(&Info);
            Info.buffered_image = incremental ? TRUE : FALSE;
            if (Progress.Image) Info.progress = &Progress.Pub;
            jpeg_start_decompress(&Info);
        }))
        Fail();
    const int width = static_cast<int>(Info.output_width);
    const int height = static_cast<int>(Info.output_height);
    switch (Output) {
    case TOutput::Gray:
        Rows = QImage(width, height, QImage::Format_Grayscale8);
        break;
    case TOutput::Indexed:
        Rows = QImage(width, height, QImage::Format_Indexed8);
        break;
    // Four bytes a pixel, C M Y K, turned into 0xffRRGGBB in place below.
    case TOutput::Cmyk:
        Rows = QImage(width, height, QImage::Format_RGB32);
        break;
    case TOutput::Colour:
        Rows = QImage(width, height, kDecodedFormat);
        break;
    }
    if (Rows.isNull()) throw EJPEG(JERR_OUT_OF_MEMORY);
    uchar* const top = Rows.bits();
    const qsizetype stride = Rows.bytesPerLine();
    const auto readRows = [this, top, stride] {
        while (Info.output_scanline < Info.output_height) {
            JSAMPROW row = top + static_cast<qsizetype>(Info.output_scanline) * stride;
            jpeg_read_scanlines(&Info, &row, 1);
        }
    };
    // One output pass per scan; the last one, made once all input is read, is the whole picture.
    for (bool complete = !incremental; !complete;) {
        if (!Guarded([this, &readRows, &complete] {
                jpeg_start_output(&Info, Info.input_scan_number);
                readRows();
                jpeg_finish_output(&Info);
                complete = jpeg_input_complete(&Info);
            }))
            Fail();
        if (!complete)
            Pass(Rows,
                 static_cast<int>((Bytes.size() - static_cast<qsizetype>(Source.bytes_in_buffer)) *
                                  100 / Bytes.size()));
    }
    const bool ok = Guarded([this, &readRows, incremental] {
        if (Output == TOutput::Indexed) {
            ColourCount = std::min(Info.actual_number_of_colors, 256);
            for (int i = 0; i < ColourCount; ++i) {
                const auto at = [this, i](int c) {
                    return static_cast<int>(
                        Info.colormap[Info.out_color_components == 1 ? 0 : c][i]);
                };
                Colours[static_cast<std::size_t>(i)] = qRgb(at(0), at(1), at(2));
            }
        }
        if (!incremental) readRows();
        jpeg_finish_decompress(&Info);
    });
    if (!ok) Fail();
    if (Output == TOutput::Indexed)
        Rows.setColorTable(QList<QRgb>(Colours.begin(), Colours.begin() + ColourCount));
    if (Output == TOutput::Cmyk) {
        // Adobe's files, the usual kind, store the inks inverted (255 is no ink) and say so with
        // their marker; any other four-channel file stores them as they are (0 is no ink).
        // light() is what an ink lets through: 255 where there is none of it.
        const bool inverted = InvertedInks;
        const auto light = [inverted](uchar Ink) { return inverted ? Ink : 255 - Ink; };
        for (int y = 0; y < height; ++y) {
            auto* px = reinterpret_cast<QRgb*>(Rows.scanLine(y));
            const uchar* ink = Rows.constScanLine(y);
            for (int x = 0; x < width; ++x) {
                const int c = light(ink[4 * x]), m = light(ink[4 * x + 1]),
                          yel = light(ink[4 * x + 2]), k = light(ink[4 * x + 3]);
                px[x] = qRgb(c * k / 255, m * k / 255, yel * k / 255);
            }
        }
        if (Wanted.Gray)
            Rows = Rows.convertToFormat(QImage::Format_Grayscale8);
        else if (Wanted.PixelFormat == jf8Bit)
            Rows = Rows.convertToFormat(QImage::Format_Indexed8);
        if (Rows.isNull()) throw EJPEG(JERR_OUT_OF_MEMORY);
    }
    return std::move(Rows);
}
