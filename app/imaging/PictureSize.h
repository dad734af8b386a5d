#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What decoding a picture file will take, guessed from its first bytes before it is decoded,
// so that work on several pictures at once can be kept within a memory budget.

struct TPictureSize
{
    std::int64_t Width = 0; // 0 when the header does not tell
    std::int64_t Height = 0;
};

// The stored size from the header of a JPEG, PNG, GIF, BMP or TIFF file (head: the file's
// first bytes, with a TIFF's first directory among them). Nothing for other formats or a
// header that does not parse. Never throws.
TPictureSize PictureSizeFromHeader(std::string_view head);

// Reads the first bytes of the file (and a TIFF's first directory) and estimates the bytes
// that preparing the picture holds at its peak: its pixels, the decoder's and the encoder's
// buffers. 0 when the size is unknown (metafiles, icons, unreadable files).
std::int64_t EstimatePreparationBytes(const std::string& path);
