#include "engine/pdf/ImageXObject.h"

#include <variant>

#include "engine/EngineError.h"
#include "engine/pdf/PdfSink.h"
#include "engine/read/SampleRoutes.h"

namespace quorvex {
namespace {

template <typename... Kinds>
struct Overloaded : Kinds... {
    using Kinds::operator()...;
};
// Spelled out for the clang versions that do not deduce aggregates' arguments.
template <typename... Kinds>
Overloaded(Kinds...) -> Overloaded<Kinds...>;

void writeCcittFilter(PdfText& out, const CcittParameters& ccitt, ImageSize page) {
    out.write("/Filter /CCITTFaxDecode\r");
    out.print("/DecodeParms << /K %i /Columns %llu /Rows %llu %s>>\r", ccitt.k,
              pdfNumber(page.width), pdfNumber(page.height),
              ccitt.blackIs1 ? "/BlackIs1 true " : "");
}

void writeFlateFilter(PdfText& out, const ImagePlan& plan, bool decodeOnFilterLine) {
    if (plan.decode && decodeOnFilterLine) {
        out.print("/Decode [ %i %i ] /Filter /FlateDecode\r", (*plan.decode)[0], (*plan.decode)[1]);
        return;
    }
    out.write("/Filter /FlateDecode\r");
    if (plan.decode)
        out.print("/Decode [ %i %i ]\r", (*plan.decode)[0], (*plan.decode)[1]);
}

void writeJpegFilter(PdfText& out, const image::KeptJpeg& jpeg) {
    out.write("/Filter /DCTDecode\r");
    // Readers take three-component JPEG data for YCbCr unless told.
    if (jpeg.withoutColourTransform)
        out.write("/DecodeParms << /ColorTransform 0 >>\r");
    if (jpeg.inksInverted)
        out.write("/Decode [ 1 0 1 0 1 0 1 0 ]\r");
}

// The filter entries each kind of image is written with.
void writeFilter(PdfText& out, const ImagePlan& plan, ImageSize page) {
    std::visit(Overloaded{
                   [&](const image::StoredFax& fax) { writeCcittFilter(out, fax.ccitt, page); },
                   [&](const image::RecodedFax& fax) { writeCcittFilter(out, fax.ccitt, page); },
                   [&](const image::SmallerBilevel& bilevel) {
                       if (!bilevel.chosen)
                           throw ConversionError::internal("the bilevel page is not coded yet");
                       if (*bilevel.chosen == BilevelCodec::Flate)
                           return writeFlateFilter(out, plan, false);
                       // Group 4 codes white as white.
                       writeCcittFilter(out, CcittParameters{.k = -1, .blackIs1 = false}, page);
                   },
                   [&](const image::KeptJpeg& jpeg) { writeJpegFilter(out, jpeg); },
                   [&](const image::TableRows& rows) {
                       writeFlateFilter(out, plan, rows.decodeOnFilterLine);
                   },
                   [&](const auto&) { writeFlateFilter(out, plan, false); },
               },
               plan.kind);
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
    std::visit(Overloaded{
                   [&](const image::StoredFax&) { writeRawStrips(reading); },
                   [&](const image::TableRows& rows) {
                       if (rows.reader == image::TableReader::Scanlines)
                           writeScanlineSamples(reading);
                       else
                           writeDecodedStrips(reading);
                   },
                   [&](const image::RgbaRows&) { writeRgbaSamples(reading); },
                   [&](const image::ConvertedPixels& pixels) {
                       writeDecodedPixels(reading, pixels.layout);
                   },
                   [&](const image::MappedSamples& mapped) {
                       writeMappedSamples(reading, mapped.mapping);
                   },
                   [&](const image::KeptJpeg& jpeg) {
                       reading.sink.append(jpeg.data->data(), jpeg.data->size());
                   },
                   // Their data comes from the page's decoded bitmap, not a reader.
                   [&](const image::RecodedFax&) {
                       throw ConversionError::internal("the page's plan has no reader");
                   },
                   [&](const image::SmallerBilevel&) {
                       throw ConversionError::internal("the page's plan has no reader");
                   },
               },
               plan.kind);
}

}  // namespace quorvex
