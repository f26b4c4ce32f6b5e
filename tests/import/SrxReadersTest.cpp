// ByteStream and ChunkReader: little-endian fields, bounds, and chunk framing.
#include "import/ByteStream.h"
#include "import/ChunkReader.h"
#include "import/SrxFormat.h"
#include "import/SrxWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(ByteStream, ReadsLittleEndianFieldsAtAnyOffset) {
    const uint8_t bytes[] = {0x7F, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x80, 0x3F, 'V', 'T', 'X', '2'};
    ByteStream stream(bytes, sizeof(bytes));
    EXPECT_EQ(stream.ReadU8(), 0x7F);
    EXPECT_EQ(stream.ReadU16(), 0x1234);
    EXPECT_EQ(stream.ReadU32(), 0x12345678u);
    EXPECT_EQ(stream.ReadF32(), 1.0f);
    EXPECT_EQ(stream.ReadU32(), 0x32585456u);
    EXPECT_EQ(srx::ChunkTexCoords2, 0x32585456u);
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_FALSE(stream.Overran());
}

TEST(ByteStream, ReadsPastTheEndGiveZerosAndStopAtTheEnd) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03};
    ByteStream stream(bytes, sizeof(bytes));
    stream.ReadU8();
    EXPECT_EQ(stream.ReadU32(), 0x0302u);
    EXPECT_TRUE(stream.Overran());
    EXPECT_EQ(stream.Position(), 3u);
    float values[2] = {7, 7};
    stream.ReadF32Array(values, 2);
    EXPECT_EQ(values[0], 0.0f);
    EXPECT_EQ(values[1], 0.0f);

    ByteStream empty(nullptr, 0);
    EXPECT_TRUE(empty.AtEnd());
    EXPECT_EQ(empty.ReadU16(), 0);
    EXPECT_TRUE(empty.Overran());
}

TEST(ByteStream, SkipAndSeekStayInsideTheBlock) {
    const uint8_t bytes[8] = {};
    ByteStream stream(bytes, sizeof(bytes));
    stream.Skip(5);
    EXPECT_EQ(stream.Remaining(), 3u);
    stream.Skip(10);
    EXPECT_EQ(stream.Position(), 8u);
    EXPECT_TRUE(stream.Overran());
    stream.Seek(100);
    EXPECT_EQ(stream.Position(), 8u);
}

namespace {

std::vector<uint8_t> TwoChunks() {
    SrxWriter writer;
    writer.BeginChunk(srx::ChunkCamera);
    writer.PutU16(7);
    writer.PutZeros(20);  // longer than the 14 bytes of fields
    writer.EndChunk();
    writer.Light(SrxLight{3, {}, {}});
    return writer.Data();
}

}  // namespace

TEST(ChunkReader, NextHeaderIsFoundFromStartPlusSizeWhateverWasRead) {
    std::vector<uint8_t> data = TwoChunks();
    ByteStream stream(data.data(), data.size());
    ChunkReader reader(stream);
    uint32_t id = 0;
    EXPECT_EQ(reader.ReadHeader(id), 30u);
    EXPECT_EQ(id, srx::ChunkCamera);
    EXPECT_EQ(stream.Position(), 8u);
    EXPECT_EQ(stream.ReadU16(), 7);
    EXPECT_EQ(reader.ReadHeader(id), 26u);
    EXPECT_EQ(id, srx::ChunkLight);
    EXPECT_EQ(reader.ChunkStart(), 30u);
    // Reading beyond the chunk is stepped back over by the next header.
    stream.Skip(40);
    EXPECT_EQ(reader.ReadHeader(id), 0u);
    EXPECT_EQ(reader.Status(), HeaderStatus::EndOfData);
}

TEST(ChunkReader, StepsBackOverReadsBeyondTheChunk) {
    std::vector<uint8_t> data = TwoChunks();
    ByteStream stream(data.data(), data.size());
    ChunkReader reader(stream);
    uint32_t id = 0;
    reader.ReadHeader(id);
    stream.Skip(25);  // into the LITE chunk
    EXPECT_EQ(reader.ReadHeader(id), 26u);
    EXPECT_EQ(id, srx::ChunkLight);
    EXPECT_EQ(stream.ReadU16(), 3);
}

TEST(ChunkReader, PeekLeavesTheHeaderForTheNextRead) {
    std::vector<uint8_t> data = TwoChunks();
    ByteStream stream(data.data(), data.size());
    ChunkReader reader(stream);
    uint32_t id = 0;
    reader.ReadHeader(id);
    uint32_t peeked = 0;
    EXPECT_EQ(reader.PeekHeader(peeked), 26u);
    EXPECT_EQ(peeked, srx::ChunkLight);
    EXPECT_FALSE(reader.ChunkOpen());
    EXPECT_EQ(stream.Position(), 30u);
    EXPECT_EQ(reader.ReadHeader(id), 26u);
    EXPECT_EQ(id, srx::ChunkLight);
}

TEST(ChunkReader, EmptyDataAndZeroSizeEndTheChunks) {
    ByteStream empty(nullptr, 0);
    ChunkReader emptyReader(empty);
    uint32_t id = 0x11111111;
    EXPECT_EQ(emptyReader.ReadHeader(id), 0u);
    EXPECT_EQ(id, 0x11111111u);
    EXPECT_EQ(emptyReader.Status(), HeaderStatus::EndOfData);

    SrxWriter writer;
    writer.BeginChunk(srx::ChunkNode);
    writer.EndChunkWithSize(0);
    writer.Light(SrxLight{});
    ByteStream stream(writer.Data().data(), writer.Size());
    ChunkReader reader(stream);
    EXPECT_EQ(reader.ReadHeader(id), 0u);
    EXPECT_EQ(id, srx::ChunkNode);
    EXPECT_EQ(reader.Status(), HeaderStatus::ZeroSize);
    EXPECT_EQ(reader.ReadHeader(id), 0u);
    EXPECT_EQ(reader.PeekHeader(id), 0u);
}

TEST(ChunkReader, RefusesHeadersThatDoNotFrameAChunkInsideTheData) {
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        HeaderStatus status;
    };
    SrxWriter small;
    small.BeginChunk(srx::ChunkMesh);
    small.EndChunkWithSize(5);
    SrxWriter past;
    past.Camera(SrxCamera{});
    past.Truncate(21);
    std::vector<Case> cases = {
        {"cut header", {'M', 'E', 'S', 'H', 12}, HeaderStatus::CutHeader},
        {"size below header", small.Data(), HeaderStatus::SizeBelowHeader},
        {"past the end", past.Data(), HeaderStatus::PastEnd},
    };
    for (const Case& c : cases) {
        ByteStream stream(c.data.data(), c.data.size());
        ChunkReader reader(stream);
        uint32_t id = 0;
        EXPECT_EQ(reader.ReadHeader(id), 0u) << c.what;
        EXPECT_EQ(reader.Status(), c.status) << c.what;
        EXPECT_FALSE(reader.ChunkOpen()) << c.what;
        EXPECT_EQ(reader.Body().Size(), 0u) << c.what;
        // The reader stays at the bad header, so every later call stops there as well.
        EXPECT_EQ(reader.ReadHeader(id), 0u) << c.what;
        EXPECT_EQ(reader.Status(), c.status) << c.what;
        EXPECT_EQ(stream.Position(), 0u) << c.what;
    }
}

TEST(ChunkReader, BodyIsConfinedToTheOpenChunk) {
    std::vector<uint8_t> data = TwoChunks();
    ByteStream stream(data.data(), data.size());
    ChunkReader reader(stream);
    uint32_t id = 0;
    reader.ReadHeader(id);
    ByteStream body = reader.Body();
    EXPECT_EQ(body.Size(), 22u);
    body.Skip(22);
    EXPECT_EQ(body.ReadU32(), 0u);
    EXPECT_TRUE(body.Overran());
    stream.Skip(2);
    EXPECT_EQ(reader.Body().Size(), 20u);
}
