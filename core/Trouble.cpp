#include "Trouble.h"

#include "ResultText.h"

Trouble TroubleOf(int resultCode)
{
    return static_cast<Trouble>(resultCode);
}

int TroubleCode(Trouble trouble)
{
    return static_cast<int>(trouble);
}

std::string TroubleText(Trouble trouble)
{
    switch (trouble) {
    case Trouble::None: return "";
    case Trouble::DiffImageNotWritten: return "the difference image could not be written";
    case Trouble::DiffImageIsInput: return "the difference image would overwrite an input";
    case Trouble::OnlyInFirst: return "only in the first folder";
    case Trouble::OnlyInSecond: return "only in the second folder";
    case Trouble::Png16Bit: return "16-bit PNG samples are not compared (reduced to 8 bits, different samples could look equal)";
    case Trouble::PngDamaged: return "the PNG file's data is damaged";
    case Trouble::ReportNotWritten: return "the report's pictures of the pair could not be written";
    case Trouble::JpegDamaged: return "the JPEG file's data is damaged";
    case Trouble::WebpDamaged: return "the WebP file's data is damaged";
    case Trouble::TiffDamaged: return "the TIFF file's data is damaged";
    case Trouble::GifDamaged: return "the GIF file's data is damaged";
    case Trouble::JpegCmyk: return "CMYK JPEG files are not compared (their colours depend on a colour profile)";
    case Trouble::TiffDeepSamples:
        return "TIFF samples of more than 8 bits and floating-point samples are not compared";
    case Trouble::TiffLayout:
        return "this TIFF layout is not compared (grey, palette, RGB and RGBA, samples together, alpha not premultiplied are)";
    case Trouble::WebpAnimated: return "animated WebP files are not compared";
    case Trouble::FormatUnavailable: return "this system has no decoder for the file's format";
    default: break;
    }
    const char* text = ResultText(TroubleCode(trouble));
    return text ? text : "error " + std::to_string(TroubleCode(trouble));
}
