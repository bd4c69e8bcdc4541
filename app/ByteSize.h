// Short, human-readable text for a file size, as the window's "Size" column
// shows it.
#pragma once

#include <cstdint>
#include <string>

namespace quorvex::gui {

// Sizes below 1024 are the count followed by "bytes" ("0 bytes", "1023 bytes").
// Larger sizes use units of 1024 (KB, MB, GB, then TB, PB, EB) with three
// significant digits, the last one truncated rather than rounded: "1.00 KB",
// "1.49 KB" (1535 bytes), "10.0 KB", "100 KB", "999 KB". A value that would
// need 1000 or more of one unit moves to the next: 1,024,000 bytes is "0.97 MB".
std::string formatByteSize(uint64_t bytes);

}  // namespace quorvex::gui
