#include "PngCodec.h"

#include <cstring>

bool IsPng(const unsigned char* data, size_t size)
{
    static const unsigned char c_abSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= sizeof c_abSignature && std::memcmp(data, c_abSignature, sizeof c_abSignature) == 0;
}
