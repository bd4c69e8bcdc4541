#include "engine/pdf/PdfOutput.h"

#include <libdeflate.h>

#include <cstring>

#include "engine/EngineError.h"
#include "engine/platform/Platform.h"
#include "engine/platform/TemporaryRegistry.h"

namespace quorvex {

class PdfOutput::Destination {
  public:
    // Without a commit, what was written is discarded where that is possible.
    virtual ~Destination() = default;
    virtual const platform::FileHandle& file() const = 0;
    virtual void commit() = 0;
};

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;

ConversionError writeFailure(std::string detail) {
    return ConversionError::outputFailed(std::move(detail), LegacyReason::UnableToWrite);
}

// A regular file: written under a hidden name beside it and renamed over it
// once complete. The hidden name is listed for the last resort of a signal
// from before it exists until it is renamed or removed.
class ReplacedFile final : public PdfOutput::Destination {
  public:
    static std::unique_ptr<ReplacedFile> create(const std::string& finalPath);

    ReplacedFile(platform::FileHandle file, std::string temporaryPath, std::string finalPath,
                 platform::TemporaryRegistration listed)
        : file_(std::move(file)),
          temporaryPath_(std::move(temporaryPath)),
          finalPath_(std::move(finalPath)),
          listed_(std::move(listed)) {}
    ~ReplacedFile() override {
        if (!committed_)
            discard();
    }
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;

    const platform::FileHandle& file() const override { return file_; }

    // Synced before the rename and the folder after it: after a power loss
    // the name shows the old PDF or the whole new one, never an empty file.
    void commit() override {
        platform::copyAttributes(finalPath_, file_);
        if (const std::string error = platform::syncFile(file_); !error.empty())
            fail("cannot save the PDF to the disk: " + error);
        if (const std::string error = file_.close(); !error.empty())
            fail("cannot close the PDF: " + error);
        if (const std::string error = platform::replaceFile(temporaryPath_, finalPath_);
            !error.empty()) {
            fail("cannot rename the PDF to " + finalPath_ + ": " + error);
        }
        committed_ = true;
        listed_.drop();
        platform::syncFolderOf(finalPath_);
    }

  private:
    [[noreturn]] void fail(const std::string& detail) {
        discard();
        throw writeFailure(detail);
    }
    void discard() noexcept {
        file_.reset();
        platform::removeFile(temporaryPath_);
        listed_.drop();  // only once it is gone
    }

    platform::FileHandle file_;
    std::string temporaryPath_;
    std::string finalPath_;
    platform::TemporaryRegistration listed_;
    bool committed_ = false;
};

platform::TemporaryRegistration listTemporary(const std::string& path) {
    try {
        return platform::TemporaryRegistration::begin(platform::TemporaryKind::File, path);
    } catch (const std::exception& failure) {
        throw ConversionError::outputFailed(failure.what(), LegacyReason::UnableToOpen);
    }
}

std::unique_ptr<ReplacedFile> ReplacedFile::create(const std::string& finalPath) {
    const std::string folder = platform::folderOf(finalPath);
    std::string error;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string temporaryPath = platform::temporaryNameIn(folder);
        platform::TemporaryRegistration listed = listTemporary(temporaryPath);
        if (!listed)
            throw ConversionError::cancelled();  // the process is ending
        bool exists = false;
        platform::FileHandle file = platform::createNewFile(temporaryPath, exists, error);
        listed.created();
        if (file) {
            return std::make_unique<ReplacedFile>(std::move(file), std::move(temporaryPath),
                                                  finalPath, std::move(listed));
        }
        if (!exists)
            break;
    }
    throw ConversionError::outputFailed("cannot create a file in " + folder + ": " + error,
                                        LegacyReason::UnableToOpen);
}

// A device, FIFO, socket or open descriptor: written into as the PDF is
// made, like standard output; never renamed over, never removed.
class WrittenStream final : public PdfOutput::Destination {
  public:
    explicit WrittenStream(platform::FileHandle file) : file_(std::move(file)) {}
    const platform::FileHandle& file() const override { return file_; }
    void commit() override {
        if (const std::string error = file_.close(); !error.empty())
            throw writeFailure("cannot close the PDF: " + error);
    }

  private:
    platform::FileHandle file_;
};

std::unique_ptr<PdfOutput::Destination> openDestination(const std::string& path,
                                                        const std::atomic<bool>* cancel) {
    const platform::OutputTarget target = platform::findOutputTarget(path);
    switch (target.kind) {
        case platform::OutputTarget::Kind::Refused:
            throw ConversionError::outputFailed(target.refusal, LegacyReason::UnableToOpen);
        case platform::OutputTarget::Kind::File:
            return ReplacedFile::create(target.path);
        case platform::OutputTarget::Kind::Stream:
            break;
    }
    std::string error;
    platform::FileHandle stream = platform::openStream(target, cancel, error);
    if (!stream) {
        if (cancel != nullptr && cancel->load())
            throw ConversionError::cancelled();
        throw ConversionError::outputFailed(error, LegacyReason::UnableToOpen);
    }
    return std::make_unique<WrittenStream>(std::move(stream));
}

}  // namespace

std::unique_ptr<PdfOutput> PdfOutput::create(const std::string& finalPath,
                                             const std::atomic<bool>* cancel, Writer writer) {
    return std::make_unique<PdfOutput>(openDestination(finalPath, cancel), std::move(writer),
                                       CreateKey{});
}

PdfOutput::PdfOutput(std::unique_ptr<Destination> destination, Writer writer, CreateKey)
    : destination_(std::move(destination)), writer_(std::move(writer)), buffer_(kBufferSize) {}

PdfOutput::~PdfOutput() = default;

void PdfOutput::write(const void* data, std::size_t size) {
    if (position_ + size > kMaxFileSize) {
        throw writeFailure("the PDF would be larger than 9,999,999,999 bytes");
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    crc32_ = libdeflate_crc32(crc32_, bytes, size);
    if (buffered_ + size > buffer_.size())
        flush();
    if (size >= buffer_.size()) {
        writeAll(bytes, size);
    } else {
        std::memcpy(buffer_.data() + buffered_, bytes, size);
        buffered_ += size;
    }
    position_ += size;
}

void PdfOutput::flush() {
    if (buffered_ == 0)
        return;
    writeAll(buffer_.data(), buffered_);
    buffered_ = 0;
}

void PdfOutput::writeAll(const uint8_t* data, std::size_t size) {
    while (size > 0) {
        std::string error;
        const int64_t written = writer_(destination_->file(), data, size, error);
        if (written < 0)
            throw writeFailure("cannot write the PDF: " + error);
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void PdfOutput::commit() {
    flush();
    destination_->commit();
}

}  // namespace quorvex
