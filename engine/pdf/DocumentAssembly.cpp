#include "engine/pdf/DocumentAssembly.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/encode/EightBitSamples.h"
#include "engine/encode/PagePipeline.h"
#include "engine/pdf/Archival.h"
#include "engine/pdf/DocumentObjects.h"
#include "engine/pdf/FileFrame.h"
#include "engine/pdf/ImageXObject.h"
#include "engine/pdf/ObjectNumbers.h"
#include "engine/pdf/PdfOutput.h"
#include "engine/plan/CompactImage.h"
#include "engine/plan/PageGeometry.h"
#include "engine/read/FaxPage.h"
#include "engine/read/PageDamage.h"
#include "engine/read/SampleRoutes.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

// The classic header: the "z" after the version has always been written;
// readers take the version from the digits and ignore the rest of the line.
constexpr char kClassicHeader[] = "%PDF-1.2z\r";

std::string headerFor(PageSource& source, const ConversionOptions& options) {
    if (options.archival)
        return standardHeader(*options.archival == ArchivalLevel::PdfA1b ? 4 : 7);
    if (options.profile == OutputProfile::Classic)
        return kClassicHeader;
    return standardHeader(minorVersionFor(source));
}

// The creation date filled in when none was given, so that every writer of
// the document sees the same one.
DocumentInfo datedInfo(const DocumentInfo& info, const ConversionOptions& options) {
    DocumentInfo dated = info;
    if (!dated.creationDate)
        dated.creationDate = defaultCreationDate(options.profile);
    return dated;
}

unsigned long asLong(uint64_t value) {
    return static_cast<unsigned long>(value);
}

void beginObject(PdfOutput& out, PdfObjectTable& table, uint64_t number) {
    table.place(number, out.position());
    out.print("%lu 0 obj\r", asLong(number));
}

// What a page's objects need to know of it besides its numbers.
struct PageFacts {
    uint32_t index = 0;      // counted across the whole PDF
    uint32_t imageName = 0;  // the page's index in its own TIFF (/Im0, /Im1, ...)
    ImageSize size;
};

// A fax page's image object once its coded data has been checked.
struct CheckedFaxImage {
    std::string header;
    std::vector<uint8_t> stream;
    std::string lost;
};

// A page read and planned, its image stream on its way: everything needed to
// write its five objects once the pages before it are written.
struct PreparedPage {
    uint32_t index = 0;
    PageObjects objects;
    std::string name;  // how damage names the page
    std::string pageObject;
    std::string contentStream;
    std::string procSet;
    std::string imageHeader;
    std::string lost;  // what the page lost, in words; empty when nothing
    // What follows the image data: archival files end their streams with
    // CR LF, as validators of PDF/A-1 insist.
    std::string imageEnd = kImageObjectEnd;
    // The image stream: encoded by a job, or a fax page's stored data being
    // checked apart from the file.
    std::unique_ptr<StreamJob> stream;
    std::future<CheckedFaxImage> checkedFax;

    bool isFinished() {
        if (checkedFax.valid())
            return checkedFax.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        return stream->isFinished();
    }
};

// About the length of a page's decoded samples, a byte or two a sample: the
// Flate sink gathers pages below its cap and streams longer ones from the
// start rather than holding the cap's worth first.
uint64_t expectedSampleBytes(const PageLayout& page) {
    const uint64_t bytesPerSample = page.bitsPerSample > 8 ? 2 : 1;
    return uint64_t{page.width} * page.height * page.colourSamples() * bytesPerSample;
}

// A fax page goes into the PDF once libtiff has decoded it: as stored when
// it is one strip and decodes without complaint, coded again otherwise. That
// decode is most of the page's cost, so it runs on the pool, on a copy of the
// page's coded strips.
void checkFaxApart(PreparedPage& page, const PageFacts& facts, const PageLayout& layout,
                   const ImagePlan& plan, CodedStrips strips, WorkerPool& pool,
                   const std::atomic<bool>* cancel) {
    auto task = std::make_shared<std::packaged_task<CheckedFaxImage()>>(
        [layout, plan, strips = std::move(strips), facts, name = page.name,
         length = page.objects.length, cancel]() mutable {
            CheckedFax fax = checkFaxStrips(layout, plan, std::move(strips), name, cancel);
            return CheckedFaxImage{imageDictionary(fax.plan, facts.size, facts.index, length),
                                   std::move(fax.stream), std::move(fax.lost)};
        });
    page.checkedFax = task->get_future();
    if (pool.empty())
        (*task)();
    else
        pool.submit([task] { (*task)(); });
}

// Fax pages whose stored strips can go to the pool: not the bilevel pages
// the compact mode codes as Group 4, whose data is not fax data.
bool isStoredFax(const TiffDocument& document, const ImagePlan& plan) {
    return plan.filter == ImageFilter::CcittFax && document.page().isFax() &&
           (plan.source == SampleSource::RawStrips || plan.source == SampleSource::FaxReencode);
}

// The job that encodes a page's stream: on the pool, or right here, as the
// page is read, when every worker is busy (queued, it would wait for a worker
// while this thread waited for it).
std::unique_ptr<StreamJob> startStreamJob(StreamEncoding encoding, uint64_t expectedBytes,
                                          bool onlyPage, WorkerPool& pool, int level,
                                          const std::atomic<bool>* cancel) {
    const bool encodeHere =
        pool.empty() || encoding == StreamEncoding::Raw || !pool.hasIdleThread();
    // The page of a one-page file is compressed in pieces, by every thread
    // free to help: no other page can keep them busy. The choice depends on
    // the file alone, so the bytes never depend on the threads. (Pages of
    // longer files are compressed side by side; pieces there would only add
    // the cost of joining them.)
    ParallelFor spread;
    if (onlyPage) {
        spread = [&pool](std::size_t count, const std::function<void(std::size_t)>& task) {
            pool.parallelFor(count, task);
        };
    }
    auto job = std::make_unique<StreamJob>(encoding, level, expectedBytes, encodeHere,
                                           std::move(spread), cancel);
    if (!encodeHere)
        pool.submit([raw = job.get()] { raw->run(); });
    return job;
}

// The objects of a page that are text alone: its Page, content stream and
// procedure set.
void describePage(const TiffDocument& document, const PageFacts& facts, ProcSet procSet,
                  uint64_t parent, PreparedPage& page) {
    const PageGeometry geometry = PageGeometry::of(document.page());
    PdfText text;
    writePageObject(text, page.objects, parent, geometry, facts.imageName);
    page.pageObject = text.text();
    PdfText content;
    writeContentStream(content, geometry, facts.imageName);
    page.contentStream = content.text();
    PdfText procSetText;
    writeProcSetObject(procSetText, procSet);
    page.procSet = procSetText.text();
}

// The page's image, planned once: the table's plan, or its compact form.
ImagePlan planPage(const TiffDocument& document, const ConversionOptions& options) {
    ImagePlan plan = planImage(document);  // refuses what cannot be converted at all
    if (options.compact) {
        if (std::optional<ImagePlan> compact = compactPlan(document))
            return std::move(*compact);
    }
    return plan;
}

// Reads the selected page: its objects' texts, and its samples fed to a
// stream job (encoded here, or by the pool when it has threads).
void preparePage(TiffDocument& document, const PageFacts& facts, bool onlyPage, uint64_t parent,
                 WorkerPool& pool, const ConversionOptions& options, const AssemblyHooks& hooks,
                 const ArchivalObjects& archival, PreparedPage& page) {
    page.index = facts.index;
    guardWriter(LegacyReason::ImageObject, [&] {
        ImagePlan plan = planPage(document, options);
        describePage(document, facts, procSetFor(options.profile, document.page(), plan), parent,
                     page);
        if (options.archival) {
            page.contentStream = withArchivalStreamEnd(page.contentStream);
            page.imageEnd = withArchivalStreamEnd(page.imageEnd);
        }
        if (isStoredFax(document, plan)) {
            if (std::optional<CodedStrips> strips = readFaxStrips(document)) {
                checkFaxApart(page, facts, document.page(), plan, std::move(*strips), pool,
                              hooks.cancel);
                return;
            }
        }
        PageDamage damage(document.diagnostics());
        // Fax data goes into the PDF only when libtiff decodes it cleanly;
        // otherwise its decode is coded again (rows lost stay white).
        std::optional<FaxBitmap> fax;
        if (plan.filter == ImageFilter::CcittFax) {
            fax = FaxBitmap::decode(document, damage, hooks.cancel);
            if (!fax->clean())
                plan = cleanFaxPlan(plan);
        }
        // PDF/A-1 knows no images deeper than 8 bits.
        const bool reduceTo8Bits =
            options.archival == ArchivalLevel::PdfA1b && plan.bitsPerComponent > 8;
        ImagePlan written = plan;
        if (reduceTo8Bits)
            written.bitsPerComponent = 8;
        page.imageHeader = withIntentColourSpace(
            imageDictionary(written, facts.size, facts.index, page.objects.length), archival);
        page.stream = startStreamJob(plan.encoding(), expectedSampleBytes(document.page()),
                                     onlyPage, pool, options.effectiveFlateLevel(), hooks.cancel);
        StreamJobFeeder feeder(*page.stream);
        EightBitSamples eightBits(feeder);
        SampleSink& sink = reduceTo8Bits ? static_cast<SampleSink&>(eightBits) : feeder;
        if (plan.source == SampleSource::FaxReencode) {
            fax->writeCoded(feeder, ccittGroupOf(plan.ccitt));
        } else {
            PageReading reading{document, sink, hooks.cancel, damage};
            writeImageSamples(reading, plan);
        }
        sink.finish();
        if (damage.any())
            page.lost = damage.describe(page.name);
    });
}

void writePreparedPage(PdfOutput& out, PdfObjectTable& table, PreparedPage& page) {
    const PageObjects& objects = page.objects;
    std::optional<CheckedFaxImage> fax;
    if (page.checkedFax.valid()) {
        fax = guardWriter(LegacyReason::ImageObject, [&] { return page.checkedFax.get(); });
        page.imageHeader = std::move(fax->header);
        page.lost = std::move(fax->lost);
    }
    beginObject(out, table, objects.page);
    out.write(page.pageObject);
    beginObject(out, table, objects.contents);
    out.write(page.contentStream);
    beginObject(out, table, objects.procSet);
    out.write(page.procSet);
    beginObject(out, table, objects.image);
    out.write(page.imageHeader);
    StreamMarks marks;
    marks.streamStart = out.position();
    if (fax) {
        out.write(fax->stream.data(), fax->stream.size());
    } else {
        const ChunkedBytes& stream =
            guardWriter(LegacyReason::ImageObject,
                        [&]() -> const ChunkedBytes& { return page.stream->result(); });
        for (const ByteChunk& chunk : stream.chunks())
            out.write(chunk.data(), chunk.size());
    }
    marks.streamEnd = out.position();
    out.write(page.imageEnd);
    beginObject(out, table, objects.length);
    writeLengthObject(out, marks);
}

unsigned threadsToUse(unsigned requested) {
    if (requested != 0)
        return requested;
    return std::max(1U, std::thread::hardware_concurrency());
}

void writeCrossReference(PdfOutput& out, const PdfObjectTable& table,
                         const DocumentObjectNumbers& numbers, const ConversionOptions& options) {
    if (!table.complete())
        throw std::logic_error("PDF objects were numbered but not written");
    const uint64_t xref = out.position();
    out.write("xref\r");
    out.print("0 %lu\r", asLong(table.count() + 1));
    out.write("0000000000 65535 f \r");
    std::string entries;
    entries.reserve(table.count() * 20);
    for (uint64_t number = 1; number <= table.count(); ++number) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010lu 00000 n \r", asLong(table.position(number)));
        entries += entry;
    }
    out.write(entries);
    std::string identity;
    if (options.profile != OutputProfile::Classic) {
        DocumentIdentity id;
        id.addContent(out.contentCrc32(), out.position());
        identity = id.trailerEntry();
    }
    out.write("trailer\r");
    out.write("<<\r");
    out.print("/Size %lu\r", asLong(table.count() + 1));
    out.print("/Root %lu 0 R\r", asLong(numbers.catalog));
    out.print("/Info %lu 0 R\r", asLong(numbers.info));
    out.write(identity);
    out.write(">>\r");
    out.write("startxref\r");
    out.print("%lu\r", asLong(xref));
    out.write("%%EOF\r");
}

class SingleDocument final : public PageSource {
  public:
    explicit SingleDocument(TiffDocument& document) : document_(document) {}
    uint32_t pageCount() const override {
        return static_cast<uint32_t>(std::max(document_.getPageCount(), 0));
    }
    TiffDocument& selectPage(uint32_t page) override {
        if (document_.getCurrentPage() != static_cast<int32_t>(page) &&
            !document_.selectPage(static_cast<int32_t>(page))) {
            throw ConversionError::unreadable("page " + std::to_string(page + 1) +
                                              " cannot be read");
        }
        return document_;
    }

  private:
    TiffDocument& document_;
};

}  // namespace

void writeDocument(PdfOutput& out, TiffDocument& document, const DocumentInfo& info,
                   const ConversionOptions& options, const AssemblyHooks& hooks) {
    SingleDocument source(document);
    writeDocument(out, source, info, options, hooks);
}

void writeDocument(PdfOutput& out, PageSource& source, const DocumentInfo& info,
                   const ConversionOptions& requested, const AssemblyHooks& hooks) {
    ConversionOptions options = requested;
    if (options.archival)
        options.profile = OutputProfile::Standard;
    const uint32_t pageCount = source.pageCount();
    const DocumentObjectNumbers numbers = DocumentObjectNumbers::allocate(pageCount);
    const OutputIntent intent =
        options.archival ? chooseOutputIntent(source, options) : OutputIntent{};
    const ArchivalObjects archival =
        options.archival ? ArchivalObjects::allocate(numbers.count + 1, intent) : ArchivalObjects{};
    PdfObjectTable table(std::max(numbers.count, archival.count));
    out.write(headerFor(source, options));

    const DocumentInfo dated = datedInfo(info, options);
    beginObject(out, table, numbers.info);
    writeInfoObject(out, dated, options.archival.has_value());
    beginObject(out, table, numbers.catalog);
    writeCatalogObject(out, numbers.pages,
                       options.archival ? archivalCatalogEntries(archival, intent) : "");
    beginObject(out, table, numbers.pages);
    writePagesObject(out, numbers.pageObjects);

    // The reading thread decodes while the pool compresses; a few pages ahead
    // at most, so memory stays bounded.
    const unsigned threads = threadsToUse(options.threads);
    const std::size_t pagesAhead = threads;
    std::deque<PreparedPage> pages;
    WorkerPool pool(threads > 1 ? threads : 0);
    struct StopStreamsOnFailure {
        std::deque<PreparedPage>& pages;
        ~StopStreamsOnFailure() {
            for (PreparedPage& page : pages) {
                if (page.stream)
                    page.stream->abort();
            }
        }
    } stopStreams{pages};

    const auto writeOldest = [&] {
        throwIfCancelled(hooks.cancel);
        writePreparedPage(out, table, pages.front());
        if (!pages.front().lost.empty() && hooks.warnings != nullptr)
            hooks.warnings->push_back(pages.front().lost);
        const uint32_t done = pages.front().index + 1;
        pages.pop_front();
        if (hooks.onPageDone)
            hooks.onPageDone(done, pageCount);
    };
    for (uint32_t page = 0; page < pageCount; ++page) {
        throwIfCancelled(hooks.cancel);
        TiffDocument& document = source.selectPage(page);
        PreparedPage& prepared = pages.emplace_back();
        prepared.objects = numbers.pageObjects[page];
        prepared.name = source.pageName(page);
        const PageFacts facts{page, static_cast<uint32_t>(document.getCurrentPage()),
                              ImageSize{document.page().width, document.page().height}};
        preparePage(document, facts, pageCount == 1, numbers.pages, pool, options, hooks, archival,
                    prepared);
        while (!pages.empty() && (pages.size() > pagesAhead || pages.front().isFinished())) {
            writeOldest();
        }
    }
    while (!pages.empty())
        writeOldest();
    if (options.archival) {
        const std::string xmp = xmpPacket(dated, *options.archival);
        for (uint64_t number = numbers.count + 1; number <= archival.count; ++number) {
            beginObject(out, table, number);
            writeArchivalObject(out, number, archival, intent, xmp);
        }
    }
    writeCrossReference(out, table, numbers, options);
}

}  // namespace quorvex
