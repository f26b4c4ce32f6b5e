// ChunkReader: walks the 8-byte chunk headers of an SRX block (four id characters, then
// the uint32 size of the whole chunk, header included).
//
// The next chunk is always found from the open chunk's start and size, whatever was read
// of its body, so bodies longer than their fields are skipped and reads that strayed past
// a body are undone. A header is only accepted when the whole chunk lies inside the data;
// Body() then gives a stream confined to that chunk, so body reads cannot spill into the
// next chunk or past the block. What the chunks mean is the importer's business.
#pragma once

#include "import/ByteStream.h"

#include <cstddef>
#include <cstdint>

// Why the last ReadHeader or PeekHeader returned the size it did.
enum class HeaderStatus {
    Ok,
    EndOfData,        // nothing left to read
    ZeroSize,         // a header with size 0, which ends a chunk sequence by convention
    CutHeader,        // fewer than 8 bytes left: the data ends inside a header
    SizeBelowHeader,  // a size of 1 to 7, smaller than the header itself
    PastEnd,          // the chunk's size runs past the end of the data
};

class ChunkReader {
public:
    explicit ChunkReader(ByteStream& stream) : stream_(stream) {}

    // Closes the open chunk (moving to its start + size), then reads the next header and
    // opens that chunk, leaving the position at its body. Returns the chunk's size, or 0
    // when there is no acceptable chunk: then Status() says why, no chunk is open, the
    // position stays at the offending header (so every later call stops there too), and
    // id is set only if a header could be read.
    uint32_t ReadHeader(uint32_t& id);
    // Like ReadHeader, but leaves the position at the header and no chunk open, so that
    // the next ReadHeader reads the same header.
    uint32_t PeekHeader(uint32_t& id);

    HeaderStatus Status() const { return status_; }
    bool ChunkOpen() const { return open_; }
    // Offset of the open chunk, or of the header that stopped the last call.
    size_t ChunkStart() const { return chunkStart_; }
    uint32_t ChunkSize() const { return open_ ? chunkSize_ : 0; }
    // The id and size fields of the last header read, accepted or not (for messages).
    uint32_t LastHeaderId() const { return lastId_; }
    uint32_t LastHeaderSize() const { return lastSize_; }
    // The rest of the open chunk, from the current position to the chunk's end; empty
    // when no chunk is open or the position is already past the chunk.
    ByteStream Body() const;
    ByteStream& Stream() { return stream_; }
    const ByteStream& Stream() const { return stream_; }

private:
    uint32_t NextHeader(uint32_t& id, bool open);

    ByteStream& stream_;
    size_t chunkStart_ = 0;
    uint32_t chunkSize_ = 0;
    uint32_t lastId_ = 0;
    uint32_t lastSize_ = 0;
    bool open_ = false;
    HeaderStatus status_ = HeaderStatus::Ok;
};
