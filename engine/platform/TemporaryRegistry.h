// The temporary files and folders of this process that must never outlive it
// (a PDF being written, the command line's spool for standard output). They
// are listed where a signal's last resort can read them without allocating
// or locking: a fixed array of path buffers, so that the process can remove
// them all and end even while a worker is stuck inside a long call.
#pragma once

#include <cstdint>
#include <string>

namespace quorvex::platform {

enum class TemporaryKind : uint8_t { File, Folder };

class TemporaryRegistration {
  public:
    TemporaryRegistration() = default;
    ~TemporaryRegistration();
    TemporaryRegistration(TemporaryRegistration&& other) noexcept;
    TemporaryRegistration& operator=(TemporaryRegistration&& other) noexcept;
    TemporaryRegistration(const TemporaryRegistration&) = delete;
    TemporaryRegistration& operator=(const TemporaryRegistration&) = delete;

    // Lists `path` before it is created, and holds the last resort off until
    // created() is called, so that the last resort either removes what the
    // caller creates or has ended the process before the caller creates it.
    // Empty when the process is already ending: the caller must then create
    // nothing. Throws std::length_error for a path longer than a buffer and
    // std::runtime_error when every buffer is taken.
    static TemporaryRegistration begin(TemporaryKind kind, const std::string& path);

    explicit operator bool() const { return slot_ >= 0; }

    // The path now exists, or its creation failed: the last resort may run.
    void created() noexcept;
    // The path is gone (removed, or renamed to its final name): unlists it.
    void drop() noexcept;

  private:
    explicit TemporaryRegistration(int slot) : slot_(slot), creating_(true) {}

    int slot_ = -1;
    bool creating_ = false;
};

// Removes every listed file, then every listed folder, and lists nothing
// more from then on: the process is about to end. Async-signal-safe.
void removeListedTemporaries() noexcept;

}  // namespace quorvex::platform
