#include "import/ChunkReader.h"

#include "import/SrxFormat.h"

uint32_t ChunkReader::ReadHeader(uint32_t& id) { return NextHeader(id, true); }

uint32_t ChunkReader::PeekHeader(uint32_t& id) { return NextHeader(id, false); }

uint32_t ChunkReader::NextHeader(uint32_t& id, bool open) {
    if (open_) {
        stream_.Seek(chunkStart_ + chunkSize_);
        open_ = false;
    }
    size_t start = stream_.Position();
    chunkStart_ = start;
    if (stream_.AtEnd()) {
        status_ = HeaderStatus::EndOfData;
        return 0;
    }
    if (stream_.Remaining() < srx::ChunkHeaderSize) {
        status_ = HeaderStatus::CutHeader;
        return 0;
    }
    id = stream_.ReadU32();
    uint32_t size = stream_.ReadU32();
    lastId_ = id;
    lastSize_ = size;
    if (size == 0) {
        status_ = HeaderStatus::ZeroSize;
    } else if (size < srx::ChunkHeaderSize) {
        status_ = HeaderStatus::SizeBelowHeader;
    } else if (size > stream_.Size() - start) {
        status_ = HeaderStatus::PastEnd;
    } else {
        status_ = HeaderStatus::Ok;
    }
    if (status_ != HeaderStatus::Ok || !open) {
        stream_.Seek(start);
        return status_ == HeaderStatus::Ok ? size : 0;
    }
    chunkSize_ = size;
    open_ = true;
    return size;
}

ByteStream ChunkReader::Body() const {
    size_t end = chunkStart_ + chunkSize_;
    size_t position = stream_.Position();
    if (!open_ || position >= end) return ByteStream(stream_.Data() + end, 0);
    return ByteStream(stream_.Data() + position, end - position);
}
