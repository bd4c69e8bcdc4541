#include "engine/pdf/ImageXObject.h"

#include "engine/EngineError.h"
#include "engine/pdf/PdfSink.h"
#include "engine/read/SampleRoutes.h"

namespace quorvex {
namespace {

void writeFilter(PdfText& out, const ImagePlan& plan, ImageSize page) {
    switch (plan.filter) {
        case ImageFilter::CcittFax:
            out.write("/Filter /CCITTFaxDecode\r");
            out.print("/DecodeParms << /K %i /Columns %llu /Rows %llu %s>>\r", plan.ccitt.k,
                      pdfNumber(page.width), pdfNumber(page.height),
                      plan.ccitt.blackIs1 ? "/BlackIs1 true " : "");
            return;
        case ImageFilter::Dct:
            out.write("/Filter /DCTDecode\r");
            // Readers take three-component JPEG data for YCbCr unless told.
            if (plan.jpegWithoutColourTransform)
                out.write("/DecodeParms << /ColorTransform 0 >>\r");
            if (plan.jpegInksInverted)
                out.write("/Decode [ 1 0 1 0 1 0 1 0 ]\r");
            return;
        case ImageFilter::Flate:
            if (plan.decode && plan.decodeOnFilterLine) {
                out.print("/Decode [ %i %i ] /Filter /FlateDecode\r", (*plan.decode)[0],
                          (*plan.decode)[1]);
                return;
            }
            out.write("/Filter /FlateDecode\r");
            if (plan.decode)
                out.print("/Decode [ %i %i ]\r", (*plan.decode)[0], (*plan.decode)[1]);
            return;
    }
}

}  // namespace

std::string imageDictionary(const ImagePlan& plan, ImageSize page, uint32_t imageName,
                            uint64_t lengthNumber) {
    PdfText out;
    out.write("<<\r");
    out.write("/Type /XObject\r");
    out.write("/Subtype /Image\r");
    out.print("/Name /Im%llu\r", pdfNumber(imageName));
    writeFilter(out, plan, page);
    out.write(plan.colourSpace.text());
    out.print("/Width %llu\r", pdfNumber(page.width));
    out.print("/Height %llu\r", pdfNumber(page.height));
    out.print("/BitsPerComponent %d\r", plan.bitsPerComponent);
    out.print("/Length %llu 0 R\r", pdfNumber(lengthNumber));
    out.write(">>\r");
    out.write("stream\r\n");
    return out.text();
}

void writeImageSamples(PageReading& reading, const ImagePlan& plan) {
    switch (plan.source) {
        case SampleSource::Scanlines:
            return writeScanlineSamples(reading);
        case SampleSource::RawStrips:
            return writeRawStrips(reading);
        case SampleSource::DecodedStrips:
            return writeDecodedStrips(reading);
        case SampleSource::DecodedPixels:
            return writeDecodedPixels(reading, plan.decoded);
        case SampleSource::MappedSamples:
            return writeMappedSamples(reading, plan.mapped);
        case SampleSource::Rgba:
            return writeRgbaSamples(reading);
        case SampleSource::JpegPassThrough:
            if (plan.jpeg)
                return reading.sink.append(plan.jpeg->data(), plan.jpeg->size());
            break;
        case SampleSource::FaxReencode:
        case SampleSource::SmallerBilevel:
            break;
    }
    throw ConversionError::internal("the page's plan has no reader");
}

}  // namespace quorvex
