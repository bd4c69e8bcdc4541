// A disk that fills up mid-conversion, for the tests of a conversion's write
// failures; handed to a TiffToPdfConverter as the writer of its PDF. Only for
// tests linked with the engine's internals.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/pdf/PdfOutput.h"
#include "engine/platform/Platform.h"

namespace support {

// Takes `room` bytes of the PDF, then fails every write with "No space left
// on device", as a full file system does.
inline quorvex::PdfOutput::Writer diskFullAfter(uint64_t room) {
    return [room](const quorvex::platform::FileHandle& file, const uint8_t* data, std::size_t size,
                  std::string& error) mutable -> int64_t {
        if (room == 0) {
            error = std::strerror(ENOSPC);
            return -1;
        }
        const auto taken = static_cast<std::size_t>(std::min<uint64_t>(size, room));
        const int64_t written = quorvex::platform::writeSome(file, data, taken, error);
        if (written > 0)
            room -= static_cast<uint64_t>(written);
        return written;
    };
}

}  // namespace support
