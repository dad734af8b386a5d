#pragma once

// Plumbing shared by everything that drives libjpeg's classic interface: the reader, the
// encoder and the requantizer. libjpeg reports errors through a callback that must not return;
// ours longjmps back to a setjmp in the caller, so every function that calls libjpeg under a
// setjmp holds no C++ object with a destructor.

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <string>
#include <string_view>

#include <jpeglib.h>

struct TJpegTrap
{
    jpeg_error_mgr Error{};
    jpeg_progress_mgr Progress{};
    std::jmp_buf Jump{};
    char Message[JMSG_LENGTH_MAX] = {};
    bool HitEnd = false;  // the data ended before the picture did
    bool Corrupt = false; // libjpeg warned of damaged data and carried on
};

// A decompressor whose header has been read, with its trap. Destroyed with the object.
struct TJpegDecoder
{
    jpeg_decompress_struct Info{};
    TJpegTrap Trap;
    bool Created = false;

    TJpegDecoder() = default;
    ~TJpegDecoder();
    TJpegDecoder(const TJpegDecoder&) = delete;
    TJpegDecoder& operator=(const TJpegDecoder&) = delete;
};

// libjpeg's destination with the string it fills; the manager comes first, so libjpeg's
// pointer to it is a pointer to the whole.
struct TJpegStringDestination
{
    jpeg_destination_mgr Manager{};
    std::string* Out = nullptr;
};

// A compressor that writes into a string, with its trap.
struct TJpegEncoder
{
    jpeg_compress_struct Info{};
    TJpegTrap Trap;
    TJpegStringDestination Destination;
    bool Created = false;

    TJpegEncoder() = default;
    ~TJpegEncoder();
    TJpegEncoder(const TJpegEncoder&) = delete;
    TJpegEncoder& operator=(const TJpegEncoder&) = delete;
};

// Creates the decompressor over bytes (borrowed: they must outlive it), keeps the EXIF and ICC
// markers and reads the header. False when libjpeg failed; JpegFailure then says why.
bool StartJpegDecoder(TJpegDecoder& decoder, std::string_view bytes);

// Creates the compressor with its destination: out receives the whole file.
bool StartJpegEncoder(TJpegEncoder& encoder, std::string& out);

// "truncated JPEG", or "bad JPEG: " and libjpeg's message.
std::string JpegFailure(const TJpegTrap& trap);

// The EXIF Orientation (1..8) of IFD0 among the saved markers; 1 when absent or unreadable.
int ExifOrientation(const jpeg_decompress_struct& info);

// The embedded ICC profile (its APP2 chunks joined in sequence order); empty when there is
// none or its chunks do not add up.
std::string IccProfile(const jpeg_decompress_struct& info);
