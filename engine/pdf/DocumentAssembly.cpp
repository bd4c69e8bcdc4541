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
#include "engine/encode/MemoryBudget.h"
#include "engine/encode/PagePipeline.h"
#include "engine/encode/PiecedFlate.h"
#include "engine/encode/StreamSink.h"
#include "engine/pdf/Archival.h"
#include "engine/pdf/ColourProfiles.h"
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

void beginObject(PdfOutput& out, PdfObjectTable& table, uint64_t number) {
    table.place(number, out.position());
    out.print("%llu 0 obj\r", pdfNumber(number));
}

// What a page's objects need to know of it besides its numbers.
struct PageFacts {
    uint32_t index = 0;      // counted across the whole PDF
    uint32_t imageName = 0;  // the page's index in its own TIFF (/Im0, /Im1, ...)
    ImageSize size;
};

// A fax page's image object once its coded data has been checked, or a
// bilevel page's once it is coded the smaller way.
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
    std::string lost;                       // what the page lost, in words; empty when nothing
    std::vector<std::string> extraObjects;  // the texts of objects.extras, in order
    std::vector<std::string> notes;         // what was left out on purpose
    // What follows the image data: archival files end their streams with
    // CR LF, as validators of PDF/A-1 insist.
    std::string imageEnd = kImageObjectEnd;
    // The image stream: encoded by a job, or a fax page's stored data being
    // checked apart from the file.
    std::unique_ptr<StreamJob> stream;
    std::future<CheckedFaxImage> checkedFax;
    MemoryBudget::Lease memory;  // given back once the page is written
    // Written straight into the output as it was read (a page in pieces).
    bool written = false;

    bool isFinished() {
        if (written)
            return true;
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

// Runs a page's task on the pool, or here when there is none.
void runApart(const std::shared_ptr<std::packaged_task<CheckedFaxImage()>>& task,
              WorkerPool& pool) {
    if (pool.empty())
        (*task)();
    else
        pool.submit([task] { (*task)(); });
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
    runApart(task, pool);
}

// A bilevel page that is not fax data: decoded here, coded both ways on the
// pool, the smaller kept.
void codeBilevelApart(PreparedPage& page, const PageFacts& facts, TiffDocument& document,
                      WorkerPool& pool, int level, const std::atomic<bool>* cancel) {
    PageDamage damage(document.diagnostics());
    auto bitmap = std::make_shared<const FaxBitmap>(FaxBitmap::decode(document, damage, cancel));
    auto task = std::make_shared<std::packaged_task<CheckedFaxImage()>>(
        [bitmap, facts, length = page.objects.length, level, cancel,
         lost = damage.any() ? damage.describe(page.name) : std::string()] {
            CodedBilevel coded = codeSmaller(bitmap->bitmap(), level, cancel);
            const ImagePlan plan = codedBilevelPlan(coded.codec, bitmap->bitmap().polarity);
            return CheckedFaxImage{imageDictionary(plan, facts.size, facts.index, length),
                                   std::move(coded.bytes), lost};
        });
    page.checkedFax = task->get_future();
    runApart(task, pool);
}

// Fax pages whose stored strips can go to the pool: not the bilevel pages
// the compact mode codes as Group 4, whose data is not fax data.
bool isStoredFax(const TiffDocument& document, const ImagePlan& plan) {
    return faxParametersOf(plan) != nullptr && document.page().isFax();
}

// How a page's image stream is encoded, and the share of the run's memory
// budget the page holds until it is written.
struct StreamChoice {
    // Compressed in pieces on the pool as the page is read.
    bool inPieces = false;
    PiecedFlateSink::Settings pieces;
    // Gathered whole, then compressed in pieces by every thread free to help.
    bool spreadWhole = false;
    // Longer streams go through zlib as they come, holding almost nothing.
    uint64_t wholeCap = kWholeStreamCap;
    uint64_t memory = 0;
};

// A streaming zlib sink's share: its window and output buffer, rounded up.
constexpr uint64_t kStreamingShare = uint64_t{1} << 20;

// Every worker busy with a piece, and as many more waiting, so that none
// idles while the reading thread cuts the next.
PiecedFlateSink::Settings pieceSettings(const ConversionOptions& options, unsigned workers) {
    PiecedFlateSink::Settings settings;
    settings.level = options.effectiveFlateLevel();
    settings.pieceBytes = options.flatePieces.pieceBytes != 0
                              ? options.flatePieces.pieceBytes
                              : cancellablePieceBytes(settings.level);
    const uint64_t affordable = options.memoryBudget / settings.pieceBytes;
    settings.piecesInFlight = static_cast<std::size_t>(
        std::clamp<uint64_t>(affordable > 0 ? affordable - 1 : 0, 1, uint64_t{2} * workers));
    return settings;
}

// The classic profile keeps the choices its files have always been written
// with: a one-page file's page gathered and spread, longer files' pages
// compressed side by side. The standard profile splits every large page,
// whatever the file, and gathers nothing past the memory budget.
StreamChoice chooseStream(StreamEncoding encoding, uint64_t expectedBytes, bool onlyPage,
                          unsigned workers, const ConversionOptions& options) {
    StreamChoice choice;
    const bool flate = encoding == StreamEncoding::Flate;
    if (options.profile == OutputProfile::Classic) {
        choice.spreadWhole = onlyPage;
    } else if (flate && workers > 0 &&
               (expectedBytes >= options.flatePieces.splitThreshold ||
                expectedBytes > options.memoryBudget)) {
        choice.inPieces = true;
        choice.pieces = pieceSettings(options, workers);
        choice.memory = uint64_t{choice.pieces.piecesInFlight + 1} * choice.pieces.pieceBytes;
        return choice;
    } else {
        choice.wholeCap = std::min(kWholeStreamCap, options.memoryBudget);
    }
    choice.memory = flate && expectedBytes > choice.wholeCap ? kStreamingShare : expectedBytes;
    return choice;
}

// The job that encodes a page's stream: on the pool, or right here, as the
// page is read, when every worker is busy (queued, it would wait for a worker
// while this thread waited for it).
std::unique_ptr<StreamJob> startStreamJob(const StreamChoice& choice, StreamEncoding encoding,
                                          uint64_t expectedBytes, WorkerPool& pool, int level,
                                          const std::atomic<bool>* cancel) {
    const bool encodeHere =
        pool.empty() || encoding == StreamEncoding::Raw || !pool.hasIdleThread();
    // The choice depends on the file alone, so the bytes never depend on the
    // threads.
    ParallelFor spread;
    if (choice.spreadWhole) {
        spread = [&pool](std::size_t count, const std::function<void(std::size_t)>& task) {
            pool.parallelFor(count, task);
        };
    }
    auto job = std::make_unique<StreamJob>(
        [&](PdfSink& encoded) {
            return makeStreamSink(encoded, encoding, level, expectedBytes, std::move(spread),
                                  cancel, choice.wholeCap);
        },
        encodeHere);
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

// The page's image, planned once: the table's plan, or its smaller form.
ImagePlan planPage(const TiffDocument& document, const ConversionOptions& options) {
    ImagePlan plan =
        planImage(document, options.profile);  // refuses what cannot be converted at all
    if (const std::optional<CompactForms> forms = compactFormsFor(options)) {
        if (std::optional<ImagePlan> compact = compactPlan(document, *forms))
            plan = std::move(*compact);
    }
    // PDF/A-1 knows no images deeper than 8 bits: the samples are read as
    // they are and reduced on their way to the encoder.
    if (options.archival == ArchivalLevel::PdfA1b && plan.bitsPerComponent > 8) {
        plan.bitsPerComponent = 8;
        plan.samplesReducedTo8Bits = true;
    }
    return plan;
}

// Fax data goes into the PDF only when libtiff decodes it cleanly; otherwise
// its decode is coded again (rows lost stay white). A fax page the pool does
// not check is decoded here, before any of its text is written, so that its
// plan is final by then.
std::optional<FaxBitmap> decodeFaxPage(const TiffDocument& document, ImagePlan& plan,
                                       PageDamage& damage, const std::atomic<bool>* cancel) {
    if (faxParametersOf(plan) == nullptr)
        return std::nullopt;
    FaxBitmap fax = FaxBitmap::decode(document, damage, cancel);
    if (!fax.clean())
        plan = cleanFaxPlan(plan);
    return fax;
}

// What every page of a run shares.
struct RunContext {
    const ConversionOptions& options;
    const AssemblyHooks& hooks;
    WorkerPool& pool;
    unsigned workers;  // threads of the pool
    // A page's share of the memory budget, taken once earlier pages written
    // have given back enough.
    std::function<MemoryBudget::Lease(uint64_t bytes)> reserve;
    // Writes every page before the one being read.
    std::function<void()> writeEarlierPages;
    PdfOutput& out;
    PdfObjectTable& table;
};

void writeImageStreamStart(PdfOutput& out, PdfObjectTable& table, const PreparedPage& page);
void writeImageStreamEnd(PdfOutput& out, PdfObjectTable& table, const PreparedPage& page,
                         StreamMarks marks);

// A page in pieces goes straight into the output, once the pages before it
// are written: its compressed stream, however long, is never held.
void writeInPieces(const StreamChoice& choice, const RunContext& run,
                   const std::function<void(SampleSink&)>& readSamples, PreparedPage& page) {
    run.writeEarlierPages();
    writeImageStreamStart(run.out, run.table, page);
    StreamMarks marks;
    marks.streamStart = run.out.position();
    WorkerPool& pool = run.pool;
    PiecedFlateSink sink(
        run.out, choice.pieces,
        [&pool](std::function<void()> task) { pool.submit(std::move(task)); }, run.hooks.cancel);
    readSamples(sink);
    sink.finish();
    writeImageStreamEnd(run.out, run.table, page, marks);
    page.written = true;
}

// Archival files end every stream with CR LF (see PreparedPage::imageEnd).
void endStreamsAsArchival(PreparedPage& page) {
    page.contentStream = withArchivalStreamEnd(page.contentStream);
    page.imageEnd = withArchivalStreamEnd(page.imageEnd);
    for (std::string& extra : page.extraObjects)
        extra = withArchivalStreamEnd(std::move(extra));
}

// Feeds the page's samples to its encoder: in pieces straight into the
// output, or to a stream job that holds the stream until the page's turn.
void encodeImage(const RunContext& run, const StreamChoice& choice, StreamEncoding encoding,
                 uint64_t expected, const std::function<void(SampleSink&)>& readSamples,
                 PreparedPage& page) {
    if (choice.inPieces) {
        writeInPieces(choice, run, readSamples, page);
        return;
    }
    page.stream = startStreamJob(choice, encoding, expected, run.pool,
                                 run.options.effectiveFlateLevel(), run.hooks.cancel);
    StreamJobFeeder feeder(*page.stream);
    readSamples(feeder);
    feeder.finish();
}

// Reads the selected page: its objects' texts, and its samples fed to a
// stream job (encoded here, or by the pool when it has threads).
void preparePage(TiffDocument& document, const PageFacts& facts, bool onlyPage, uint64_t parent,
                 const RunContext& run, DocumentProfiles& profiles, const ArchivalObjects& archival,
                 PreparedPage& page) {
    const ConversionOptions& options = run.options;
    const AssemblyHooks& hooks = run.hooks;
    WorkerPool& pool = run.pool;
    page.index = facts.index;
    guardWriter(LegacyReason::ImageObject, [&] {
        ImagePlan plan = planPage(document, options);
        PageProfileObjects profile = profiles.applyTo(facts.index, document, page.name, plan);
        page.extraObjects = std::move(profile.extras);
        page.notes = std::move(profile.notes);
        // A stored fax page is checked, and a bilevel page coded both ways,
        // on the pool, which settles their image there; every other page's
        // plan is final before its text is written.
        std::optional<CodedStrips> storedFax =
            isStoredFax(document, plan) ? readFaxStrips(document) : std::nullopt;
        PageDamage damage(document.diagnostics());
        std::optional<FaxBitmap> fax;
        if (!storedFax)
            fax = decodeFaxPage(document, plan, damage, hooks.cancel);
        describePage(document, facts, procSetFor(options.profile, document.page(), plan), parent,
                     page);
        if (options.archival)
            endStreamsAsArchival(page);
        if (storedFax) {
            checkFaxApart(page, facts, document.page(), plan, std::move(*storedFax), pool,
                          hooks.cancel);
            return;
        }
        if (plan.is<image::SmallerBilevel>()) {
            codeBilevelApart(page, facts, document, pool, options.effectiveFlateLevel(),
                             hooks.cancel);
            return;
        }
        page.imageHeader = withIntentColourSpace(
            imageDictionary(plan, facts.size, facts.index, page.objects.length), archival);
        const uint64_t expected = expectedSampleBytes(document.page());
        const StreamChoice choice =
            chooseStream(plan.encoding(), expected, onlyPage, run.workers, options);
        page.memory = run.reserve(choice.memory);
        const auto readSamples = [&](SampleSink& sink) {
            if (const auto* recoded = std::get_if<image::RecodedFax>(&plan.kind)) {
                fax->writeCoded(sink, ccittGroupOf(recoded->ccitt));
                return;
            }
            EightBitSamples eightBits(sink);
            PageReading reading{document, plan.samplesReducedTo8Bits ? eightBits : sink,
                                hooks.cancel, damage};
            writeImageSamples(reading, plan);
        };
        encodeImage(run, choice, plan.encoding(), expected, readSamples, page);
        if (damage.any())
            page.lost = damage.describe(page.name);
    });
}

// The page's objects up to its image's dictionary; its stream follows.
void writeImageStreamStart(PdfOutput& out, PdfObjectTable& table, const PreparedPage& page) {
    const PageObjects& objects = page.objects;
    beginObject(out, table, objects.page);
    out.write(page.pageObject);
    beginObject(out, table, objects.contents);
    out.write(page.contentStream);
    beginObject(out, table, objects.procSet);
    out.write(page.procSet);
    beginObject(out, table, objects.image);
    out.write(page.imageHeader);
}

void writeImageStreamEnd(PdfOutput& out, PdfObjectTable& table, const PreparedPage& page,
                         StreamMarks marks) {
    marks.streamEnd = out.position();
    out.write(page.imageEnd);
    beginObject(out, table, page.objects.length);
    writeLengthObject(out, marks);
    // The page's extra objects (a colour profile it is the first to carry)
    // follow its length, where their numbers were handed out.
    for (std::size_t extra = 0; extra < page.objects.extras.size(); ++extra) {
        beginObject(out, table, page.objects.extras[extra]);
        out.write(page.extraObjects.at(extra));
    }
}

void writePreparedPage(PdfOutput& out, PdfObjectTable& table, PreparedPage& page) {
    if (page.written)
        return;
    std::optional<CheckedFaxImage> fax;
    if (page.checkedFax.valid()) {
        fax = guardWriter(LegacyReason::ImageObject, [&] { return page.checkedFax.get(); });
        page.imageHeader = std::move(fax->header);
        page.lost = std::move(fax->lost);
    }
    writeImageStreamStart(out, table, page);
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
    writeImageStreamEnd(out, table, page, marks);
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
    out.print("0 %llu\r", pdfNumber(table.count() + 1));
    out.write("0000000000 65535 f \r");
    std::string entries;
    entries.reserve(table.count() * 20);
    for (uint64_t number = 1; number <= table.count(); ++number) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \r", pdfNumber(table.position(number)));
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
    out.print("/Size %llu\r", pdfNumber(table.count() + 1));
    out.print("/Root %llu 0 R\r", pdfNumber(numbers.catalog));
    out.print("/Info %llu 0 R\r", pdfNumber(numbers.info));
    out.write(identity);
    out.write(">>\r");
    out.write("startxref\r");
    out.print("%llu\r", pdfNumber(xref));
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
    std::vector<uint64_t> profileKeys() const override { return document_.profileKeys(); }

  private:
    TiffDocument& document_;
};

// The document's objects beyond its pages, numbered before anything is
// written: each distinct colour profile as an extra of its first page, and an
// archival file's metadata and output intent after every page.
struct DocumentLayout {
    DocumentProfiles profiles;
    DocumentObjectNumbers numbers;
    OutputIntent intent;
    ArchivalObjects archival;
};

DocumentLayout layOutDocument(PageSource& source, const ConversionOptions& options) {
    // Colour profiles are the standard profile's; classic files never had them.
    DocumentLayout layout{
        DocumentProfiles(options.profile == OutputProfile::Standard ? source.profileKeys()
                                                                    : std::vector<uint64_t>{},
                         newestIccVersionFor(options)),
        {},
        {},
        {}};
    layout.numbers = DocumentObjectNumbers::allocate(
        source.pageCount(), [&layout](uint32_t page) { return layout.profiles.extrasOf(page); });
    layout.profiles.takeNumbers(layout.numbers);
    if (options.archival) {
        layout.intent = chooseOutputIntent(source, options);
        layout.archival = ArchivalObjects::allocate(layout.numbers.count + 1, layout.intent);
    }
    return layout;
}

// The header, the document information, the catalog and the page tree.
void writeFrontMatter(PdfOutput& out, PdfObjectTable& table, PageSource& source,
                      const DocumentLayout& layout, const DocumentInfo& dated,
                      const ConversionOptions& options) {
    const DocumentObjectNumbers& numbers = layout.numbers;
    out.write(headerFor(source, options));
    beginObject(out, table, numbers.info);
    writeInfoObject(out, dated, options.archival.has_value());
    beginObject(out, table, numbers.catalog);
    writeCatalogObject(
        out, numbers.pages,
        options.archival ? archivalCatalogEntries(layout.archival, layout.intent) : "");
    beginObject(out, table, numbers.pages);
    writePagesObject(out, numbers.pageObjects);
}

void writeArchivalObjects(PdfOutput& out, PdfObjectTable& table, const DocumentLayout& layout,
                          const std::string& xmp) {
    for (uint64_t number = layout.numbers.count + 1; number <= layout.archival.count; ++number) {
        beginObject(out, table, number);
        writeArchivalObject(out, number, layout.archival, layout.intent, xmp);
    }
}

// Writes the oldest prepared page, tells the hooks what it lost and left out
// and that it is done, and lets it go.
void writeOldestPage(PdfOutput& out, PdfObjectTable& table, std::deque<PreparedPage>& pages,
                     const AssemblyHooks& hooks, uint32_t pageCount) {
    throwIfCancelled(hooks.cancel);
    PreparedPage& page = pages.front();
    writePreparedPage(out, table, page);
    if (!page.lost.empty() && hooks.warnings != nullptr)
        hooks.warnings->push_back(page.lost);
    if (hooks.notes != nullptr)
        hooks.notes->insert(hooks.notes->end(), page.notes.begin(), page.notes.end());
    const uint32_t done = page.index + 1;
    pages.pop_front();
    if (hooks.onPageDone)
        hooks.onPageDone(done, pageCount);
}

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
    DocumentLayout layout = layOutDocument(source, options);
    const DocumentObjectNumbers& numbers = layout.numbers;
    PdfObjectTable table(std::max(numbers.count, layout.archival.count));
    const DocumentInfo dated = datedInfo(info, options);
    writeFrontMatter(out, table, source, layout, dated, options);

    // The reading thread decodes while the pool compresses; a few pages ahead
    // at most, and no more samples than the budget, so memory stays bounded.
    const unsigned threads = threadsToUse(options.threads);
    const std::size_t pagesAhead = threads;
    MemoryBudget budget(options.memoryBudget);
    std::deque<PreparedPage> pages;
    const unsigned workers = threads > 1 ? threads : 0;
    WorkerPool pool(workers);
    struct StopStreamsOnFailure {
        std::deque<PreparedPage>& pages;
        ~StopStreamsOnFailure() {
            for (PreparedPage& page : pages) {
                if (page.stream)
                    page.stream->abort();
            }
        }
    } stopStreams{pages};

    const auto writeOldest = [&] { writeOldestPage(out, table, pages, hooks, pageCount); };
    // The page being read is the newest; only those before it can be written.
    const auto reserve = [&](uint64_t bytes) {
        while (pages.size() > 1 && !budget.fits(bytes))
            writeOldest();
        return budget.take(bytes);
    };
    const auto writeEarlierPages = [&] {
        while (pages.size() > 1)
            writeOldest();
    };
    const RunContext run{options, hooks, pool, workers, reserve, writeEarlierPages, out, table};
    for (uint32_t page = 0; page < pageCount; ++page) {
        throwIfCancelled(hooks.cancel);
        TiffDocument& document = source.selectPage(page);
        PreparedPage& prepared = pages.emplace_back();
        prepared.objects = numbers.pageObjects[page];
        prepared.name = source.pageName(page);
        const PageFacts facts{page, static_cast<uint32_t>(document.getCurrentPage()),
                              ImageSize{document.page().width, document.page().height}};
        preparePage(document, facts, pageCount == 1, numbers.pages, run, layout.profiles,
                    layout.archival, prepared);
        while (!pages.empty() && (pages.size() > pagesAhead || pages.front().isFinished())) {
            writeOldest();
        }
    }
    while (!pages.empty())
        writeOldest();
    if (options.archival)
        writeArchivalObjects(out, table, layout, xmpPacket(dated, *options.archival));
    writeCrossReference(out, table, numbers, options);
}

}  // namespace quorvex
