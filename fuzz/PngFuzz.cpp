// Feeds arbitrary bytes to the comparer's PNG reading: the structure checks,
// then the decoder into both forms the comparison takes. Whatever comes back
// must be a trouble or a picture of the size the header gave, and libspng,
// given the same bytes, must give the same pixels or refuse them too; we
// refuse more only behind the rows (a stream that goes on, bytes after it).
//
// Random bytes almost never keep a chunk's checksum or a zlib stream whole,
// so the mutator works inside them: it mutates the inflated image data now
// and then, deflates it again, and puts every checksum right afterwards, so
// that inputs reach the decoder and the row conversion.

#include "PngCodec.h"
#include "SpngReference.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

uint32_t Big32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void Put32(uint8_t* p, uint32_t value)
{
    p[0] = uint8_t(value >> 24), p[1] = uint8_t(value >> 16), p[2] = uint8_t(value >> 8), p[3] = uint8_t(value);
}

struct Chunk
{
    char type[4];
    std::vector<uint8_t> data;
};

// The chunks of a PNG as far as they are whole; false when there is no signature.
bool Split(const uint8_t* data, size_t size, std::vector<Chunk>& chunks)
{
    if (!IsPng(data, size))
        return false;
    for (size_t at = 8; size - at >= 12;) {
        const uint32_t length = Big32(data + at);
        if (length > size - at - 12)
            break;
        Chunk chunk;
        std::memcpy(chunk.type, data + at + 4, 4);
        chunk.data.assign(data + at + 8, data + at + 8 + length);
        chunks.push_back(std::move(chunk));
        at += 12 + size_t(length);
    }
    return true;
}

// The image data of all IDAT chunks inflated, mutated and deflated into one.
void MutateImageData(std::vector<Chunk>& chunks, size_t maxSize)
{
    std::vector<uint8_t> stream;
    size_t first = chunks.size();
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (std::memcmp(chunks[i].type, "IDAT", 4) == 0) {
            first = first < i ? first : i;
            stream.insert(stream.end(), chunks[i].data.begin(), chunks[i].data.end());
        }
    }
    if (first == chunks.size())
        return;
    std::vector<uint8_t> raw(1 << 16);
    uLongf length = uLongf(raw.size());
    if (uncompress(raw.data(), &length, stream.data(), uLong(stream.size())) != Z_OK)
        return;
    raw.resize(LLVMFuzzerMutate(raw.data(), length, raw.size()));
    std::vector<uint8_t> packed(compressBound(uLong(raw.size())));
    uLongf packedLength = uLongf(packed.size());
    if (compress(packed.data(), &packedLength, raw.data(), uLong(raw.size())) != Z_OK || packedLength > maxSize)
        return;
    packed.resize(packedLength);
    chunks[first].data = std::move(packed);
    for (size_t i = chunks.size(); i-- > first + 1;) {
        if (std::memcmp(chunks[i].type, "IDAT", 4) == 0)
            chunks.erase(chunks.begin() + long(i));
    }
}

// The bytes of a picture's rows as stored, each behind its filter type.
uint64_t StoredBytes(const PngFile& png)
{
    if (!png.bInterlaced)
        return uint64_t(png.height) * (1 + png.RowBytes(png.width));
    static const int c_pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    uint64_t bytes = 0;
    for (const auto& pass : c_pass) {
        const int64_t width = png.width > pass[0] ? (png.width - pass[0] + pass[2] - 1) / pass[2] : 0;
        const int64_t height = png.height > pass[1] ? (png.height - pass[1] + pass[3] - 1) / pass[3] : 0;
        if (width > 0)
            bytes += uint64_t(height) * (1 + png.RowBytes(int32_t(width)));
    }
    return bytes;
}

// Whether zlib finds the image data stream of `file` (pixel chunks only)
// sound to its end: every byte inflated, its Adler-32 right, nothing after
// it, no more than a little past the rows; and how much it inflated.
bool StreamSound(const std::vector<uint8_t>& file, const PngFile& png, uint64_t& total)
{
    std::vector<uint8_t> stream;
    std::vector<Chunk> chunks;
    Split(file.data(), file.size(), chunks);
    for (const Chunk& chunk : chunks) {
        if (std::memcmp(chunk.type, "IDAT", 4) == 0)
            stream.insert(stream.end(), chunk.data.begin(), chunk.data.end());
    }
    z_stream zs = {};
    if (inflateInit(&zs) != Z_OK)
        return false;
    std::vector<uint8_t> out(1 << 16);
    zs.next_in = stream.data();
    zs.avail_in = uInt(stream.size());
    total = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        zs.next_out = out.data();
        zs.avail_out = uInt(out.size());
        status = inflate(&zs, Z_NO_FLUSH);
        total += out.size() - zs.avail_out;
        if (total > StoredBytes(png) + c_cbImageDataSlack)
            break;
    }
    const bool sound = status == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return sound;
}

} // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed)
{
    std::vector<Chunk> chunks;
    if (seed % 3 == 0 && Split(data, size, chunks))
        MutateImageData(chunks, maxSize);
    else
        size = LLVMFuzzerMutate(data, size, maxSize);
    if (chunks.empty() && !Split(data, size, chunks))
        return size;
    // Laid out again, every checksum right.
    std::vector<uint8_t> out(data, data + 8);
    for (const Chunk& chunk : chunks) {
        const size_t at = out.size();
        out.resize(at + 12 + chunk.data.size());
        Put32(&out[at], uint32_t(chunk.data.size()));
        std::memcpy(&out[at + 4], chunk.type, 4);
        if (!chunk.data.empty())
            std::memcpy(&out[at + 8], chunk.data.data(), chunk.data.size());
        Put32(&out[at + 8 + chunk.data.size()], Crc32(&out[at + 4], 4 + chunk.data.size()));
    }
    if (out.size() > maxSize)
        return size;
    std::memcpy(data, out.data(), out.size());
    return out.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PngFile png;
    if (ReadPngFile(data, size, png) != Trouble::None)
        return 0;
    Check(png.width > 0 && png.height > 0);
    // Pictures within the fuzzer's memory limit only: larger ones are the
    // comparer's memory check's business.
    if (int64_t(png.width) * png.height > (1 << 22))
        return 0;
    CImage images[2];
    bool sound[2];
    for (const int channels : {3, 4}) {
        CImage& image = images[channels - 3];
        sound[channels - 3] = DecodePng(png, channels, image) == Trouble::None;
        if (sound[channels - 3]) {
            const ImageView& view = image.View();
            Check(view.width == png.width && view.height == png.height && view.channels == channels);
            // Touch the last byte the image promises; ASan knows the block's end.
            volatile uint8_t last = view.Row(view.height - 1)[channels * view.width - 1];
            (void)last;
        }
    }
    Check(sound[0] == sound[1]);
    std::vector<uint8_t> bytes;
    Check(png.Bytes(bytes));
    CImage reference;
    const bool referenceSound = DecodeWithSpng(bytes.data(), bytes.size(), 4, reference);
    const size_t pictureBytes = size_t(png.width) * size_t(png.height) * 4;
    uint64_t inflated = 0;
    const bool streamSound = StreamSound(bytes, png, inflated);
    // A little data past the rows we take, as other decoders do; libspng
    // may refuse it where it sees it.
    if (sound[1] && inflated <= StoredBytes(png))
        Check(referenceSound && std::memcmp(images[1].Row(0), reference.Row(0), pictureBytes) == 0);
    // libspng stops at the last row: damage behind it is ours alone to find.
    if (referenceSound && !sound[1])
        Check(!streamSound);
    if (!CPngRowDecoder::Streams(png))
        return 0;
    // Checked without decoding, a file is as sound as decoded.
    CPngRowDecoder checked(png, 3);
    Check((checked.Check() == Trouble::None) == sound[0]);
    // Row by row in the file's order: the same pixels, red and blue swapped.
    for (const int channels : {3, 4}) {
        CPngRowDecoder decoder(png, channels, true);
        std::vector<uint8_t> row(size_t(png.width) * size_t(channels));
        bool rowsSound = true;
        for (int32_t y = 0; y < png.height && rowsSound; ++y) {
            rowsSound = decoder.Rows(1, row.data()) == Trouble::None;
            for (int32_t x = 0; rowsSound && sound[0] && x < png.width; ++x) {
                const uint8_t* mine = row.data() + size_t(x) * size_t(channels);
                const uint8_t* whole = images[channels - 3].View().Row(y) + size_t(x) * size_t(channels);
                Check(mine[0] == whole[2] && mine[1] == whole[1] && mine[2] == whole[0] &&
                      (channels == 3 || mine[3] == whole[3]));
            }
        }
        Check((rowsSound && decoder.Finish() == Trouble::None) == sound[0]);
    }
    return 0;
}
