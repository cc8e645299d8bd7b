#pragma once

// PNG files written byte by byte for tests: any colour type and depth,
// interlaced or not, every filter; the image data in stored deflate blocks
// (or compressed by zlib), so what a decoder must give is plain.

#include "BmpBuilder.h"

#include <cstdint>
#include <functional>
#include <vector>

struct PngSpec
{
    int width = 5, height = 4;
    uint8_t colourType = 2, bitDepth = 8;
    bool interlaced = false;
    std::vector<uint8_t> palette, trns;
    // Sample values of pixel (x, y) in the file's own layout (one index for
    // a palette image).
    std::function<std::vector<uint8_t>(int x, int y)> samples;
    int unknownFilterRow = -1;  // a row behind a filter type that does not exist
    // The filter of every row (1 Sub, 2 Up, 3 Average, 4 Paeth); 5 takes
    // each in turn, row after row.
    uint8_t filter = 0;
    bool compressed = false;  // deflated by zlib, not stored
};

// The CRC-32 of PNG chunks, computed bit by bit.
uint32_t PngCrc(const uint8_t* data, size_t size);
void PutBig32(std::vector<uint8_t>& out, uint32_t value);
// A chunk of `type` and `data` after `out`.
void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data);

// Samples of a truecolour pixel function.
std::function<std::vector<uint8_t>(int x, int y)> RgbSamples(const PixelFn& pixel);

// The stream the image data chunks carry, inflated: rows behind their
// filter types, with Adam7 the seven passes one after the other.
std::vector<uint8_t> RawRows(const PngSpec& spec);
// A zlib stream of `raw` in stored blocks.
std::vector<uint8_t> StoredStream(const std::vector<uint8_t>& raw);

std::vector<uint8_t> BuildPng(const PngSpec& spec);
// The same file with `stream` as its image data, in chunks of `chunk`
// bytes (one when 0).
std::vector<uint8_t> BuildPng(const PngSpec& spec, const std::vector<uint8_t>& stream, size_t chunk = 0);

// The same file with its image data in two chunks, the second from byte
// `at` of the stream on.
std::vector<uint8_t> SplitImageData(const std::vector<uint8_t>& png, size_t at);
