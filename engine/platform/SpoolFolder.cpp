#include <stdexcept>

#include "engine/StopSignals.h"
#include "engine/platform/Platform.h"
#include "engine/platform/TemporaryRegistry.h"

namespace quorvex {

struct SpoolFolder::Listing {
    platform::TemporaryRegistration folder;
    platform::TemporaryRegistration file;
};

namespace {

constexpr int kAttempts = 16;

[[noreturn]] void refuse(const std::string& why) {
    throw std::runtime_error("cannot create a temporary folder (" + why + ")");
}

}  // namespace

SpoolFolder::SpoolFolder() : listing_(std::make_unique<Listing>()) {
    const std::string base = platform::temporaryFilesFolder();
    for (int attempt = 0; attempt < kAttempts && folder_.empty(); ++attempt) {
        const std::string candidate = platform::temporaryNameIn(base, ".spool");
        platform::TemporaryRegistration listed =
            platform::TemporaryRegistration::begin(platform::TemporaryKind::Folder, candidate);
        if (!listed)
            refuse("the program is ending");
        bool exists = false;
        std::string error;
        const bool made = platform::createPrivateFolder(candidate, exists, error);
        listed.created();
        if (made) {
            folder_ = candidate;
            listing_->folder = std::move(listed);
        } else if (!exists) {
            refuse(base + ": " + error);
        }
    }
    if (folder_.empty())
        refuse(base + ": no free name");
    file_ = folder_ + "/out.pdf";
    listing_->file = platform::TemporaryRegistration::begin(platform::TemporaryKind::File, file_);
    listing_->file.created();
    if (!listing_->file) {
        platform::removeFolder(folder_);
        refuse("the program is ending");
    }
}

SpoolFolder::~SpoolFolder() {
    platform::removeFile(file_);
    listing_->file.drop();
    platform::removeFolder(folder_);
    listing_->folder.drop();
}

}  // namespace quorvex
