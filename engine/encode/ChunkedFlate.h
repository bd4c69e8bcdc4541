// One zlib stream compressed in independent pieces, so that several threads
// can compress one large page. libdeflate compresses whole buffers only and
// always marks its last block final; each piece but the last has that mark
// cleared and is closed by an empty stored block (what zlib's sync flush
// writes), so the next piece's blocks follow on a byte boundary. Readers see
// one ordinary stream.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/pdf/PdfSink.h"

namespace quorvex {

// Calls `task(i)` for every i below `count`, perhaps on several threads, and
// returns once all have returned (rethrowing the first failure).
using ParallelFor =
    std::function<void(std::size_t count, const std::function<void(std::size_t)>& task)>;

// Pieces are about this long. They depend on the stream's length alone, so
// the bytes written never depend on the number of threads.
inline constexpr std::size_t kFlatePieceBytes = std::size_t{16} << 20;

// Streams up to this long are compressed in one call. Joining pieces costs an
// inflate of all but the last (about a tenth of the compression's time),
// worth it only for pages so long that one thread compressing them keeps the
// user waiting (an A3 page at 600 dpi is 200 MB).
inline constexpr std::size_t kPiecedStreamBytes = std::size_t{64} << 20;

// A run that can be cancelled compresses a stream longer than this in
// pieces of this length, looking at the flag before each: one libdeflate
// call polls nothing, and a whole 256 MiB stream takes seconds, far longer
// than a signal gives the process to end. The slowest levels take the
// shortest pieces, so that no piece takes much more than a tenth of a second
// on a desktop processor.
std::size_t cancellablePieceBytes(int level);

// `size` bytes as one zlib stream at libdeflate `level` (0-12), in one call.
ByteChunk deflateWholeStream(const uint8_t* data, std::size_t size, int level);

// The same in pieces of about `pieceBytes`, compressed through `parallelFor`;
// with `cancel`, a piece not yet begun once it is set is not compressed and
// the call throws the cancellation.
ByteChunk deflateInPieces(const uint8_t* data, std::size_t size, int level,
                          const ParallelFor& parallelFor, std::size_t pieceBytes = kFlatePieceBytes,
                          const std::atomic<bool>* cancel = nullptr);

// The two bytes a zlib stream at `level` starts with, as libdeflate writes
// them, so that a stream in pieces starts as one compressed in a single call.
std::array<uint8_t, 2> zlibHeader(int level);

// `size` bytes as raw DEFLATE blocks that more blocks may follow: none marked
// final, ending on a byte boundary. Whoever joins such pieces ends the stream.
ByteChunk deflateOpenPiece(const uint8_t* data, std::size_t size, int level);

// A raw DEFLATE stream (no zlib header) whose last block is marked final,
// turned into one that can be continued: the mark cleared, an empty stored
// block appended. False, and `raw` untouched, when it is not one complete
// DEFLATE stream.
bool openFinalBlock(ByteChunk& raw);

}  // namespace quorvex
