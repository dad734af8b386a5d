#pragma once

#include <string>

class TStream;

// Loads a picture file of any accepted format and writes it as a complete JPEG at the quality
// (1..100, handed to the encoder unchanged) from the stream's position on. Returns "" on
// success, else the reason ("file not found", "not a picture", "truncated PNG",
// "picture too large: 70000 x 200", ...); the stream is then as it was, also after a write
// that failed partway (unless the stream refuses to be put back too). Never throws.
// The path is handed to the system unchanged.
std::string TryReencodeAsJpeg(const std::string& fileName, int quality, TStream& stream);

// The same without the reason: on failure the stream holds nothing new.
void ReencodeAsJpeg(const std::string& fileName, int quality, TStream& stream);
