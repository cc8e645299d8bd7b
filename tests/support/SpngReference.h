#pragma once

// libspng decoding the bytes of a PNG: the reference our own decoder is held
// to, pixel for pixel and refusal for refusal.

#include "Image.h"

#include <cstddef>
#include <cstdint>

// Decodes into `channels` (3 or 4) blue, green, red (, alpha); false when
// libspng refuses the file or a palette index lies past the palette.
bool DecodeWithSpng(const uint8_t* file, size_t size, int channels, CImage& image);
