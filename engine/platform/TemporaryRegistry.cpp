#include "engine/platform/TemporaryRegistry.h"

#include <array>
#include <atomic>
#include <cstring>
#include <stdexcept>

#include "engine/platform/Platform.h"

namespace quorvex::platform {
namespace {

// Every file written at once needs one: -j allows 256 files, the window one
// per processor, and a spool adds two.
constexpr std::size_t kSlots = 1024;
constexpr std::size_t kPathBytes = 4096;  // PATH_MAX on Linux, the NUL included

enum SlotState : int { kFree, kFilling, kListed };

struct Slot {
    std::atomic<int> state{kFree};
    TemporaryKind kind = TemporaryKind::File;
    char path[kPathBytes];
};

// The last resort reads these from a signal's context: lock-free atomics only.
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

std::array<Slot, kSlots> gSlots;
std::atomic<bool> gEnding{false};
// Registrations between begin() and created(): their files may be about to
// appear, so the last resort waits for them.
std::atomic<int> gCreating{0};

int claimSlot() {
    for (std::size_t i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (gSlots[i].state.compare_exchange_strong(expected, kFilling))
            return static_cast<int>(i);
    }
    return -1;
}

// Waits, briefly, for creations under way: a file is created in a moment,
// and one stuck longer (a hung network file system) must not keep the
// process from ending. Only sleeps and atomics: safe in the last resort.
void waitForCreations() noexcept {
    for (int round = 0; round < 500 && gCreating.load() > 0; ++round)
        sleepOneMillisecond();
}

void removeListed(TemporaryKind kind) noexcept {
    for (Slot& slot : gSlots) {
        if (slot.state.load() != kListed || slot.kind != kind)
            continue;
        if (kind == TemporaryKind::File)
            removeFileNow(slot.path);
        else
            removeFolderNow(slot.path);
    }
}

}  // namespace

TemporaryRegistration TemporaryRegistration::begin(TemporaryKind kind, const std::string& path) {
    if (path.size() >= kPathBytes)
        throw std::length_error("the path of a temporary file is too long: " + path);
    // Counted before the check: the last resort sets gEnding and then reads
    // the count, this reads them the other way round, so one of the two
    // always sees the other (both are sequentially consistent).
    ++gCreating;
    if (gEnding.load()) {
        --gCreating;
        return {};
    }
    const int index = claimSlot();
    if (index < 0) {
        --gCreating;
        throw std::runtime_error("too many temporary files at once");
    }
    Slot& slot = gSlots[static_cast<std::size_t>(index)];
    slot.kind = kind;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.state.store(kListed);
    return TemporaryRegistration(index);
}

TemporaryRegistration::~TemporaryRegistration() {
    drop();
}

TemporaryRegistration::TemporaryRegistration(TemporaryRegistration&& other) noexcept
    : slot_(other.slot_), creating_(other.creating_) {
    other.slot_ = -1;
    other.creating_ = false;
}

TemporaryRegistration& TemporaryRegistration::operator=(TemporaryRegistration&& other) noexcept {
    if (this != &other) {
        drop();
        slot_ = other.slot_;
        creating_ = other.creating_;
        other.slot_ = -1;
        other.creating_ = false;
    }
    return *this;
}

void TemporaryRegistration::created() noexcept {
    if (creating_) {
        creating_ = false;
        --gCreating;
    }
}

void TemporaryRegistration::drop() noexcept {
    created();
    if (slot_ >= 0) {
        gSlots[static_cast<std::size_t>(slot_)].state.store(kFree);
        slot_ = -1;
    }
}

void removeListedTemporaries() noexcept {
    gEnding.store(true);
    waitForCreations();
    // A spool's file lives in its folder: files first, so the folders are empty.
    removeListed(TemporaryKind::File);
    removeListed(TemporaryKind::Folder);
}

}  // namespace quorvex::platform
