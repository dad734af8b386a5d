#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/convert/ConversionRun.h"

// Pictures and PDF look-ups for the conversion and command-line tests.

// Writes an uncompressed 24-bit BMP of one colour.
void WriteTestBmp(const std::string& path, int width, int height, int red, int green, int blue);

// The MediaBox width and height of every page, in page order, as pdfinfo reads them; empty when
// pdfinfo cannot read the file.
std::vector<std::pair<int, int>> MediaBoxes(const std::string& pdfPath);

bool FileExists(const std::string& path);

// The path quoted for /bin/sh.
std::string ShellQuoted(const std::string& path);

// An observer that shows nothing and never cancels.
class TQuietObserver : public IConversionObserver
{
public:
    void SetStatusText(const std::string&) override {}
    void SetPercentText(const std::string&) override {}
    void SetProgressMax(int) override {}
    void SetProgressPosition(int) override {}
    void ProcessMessages() override {}
    bool CancelRequested() override { return false; }
    void PictureSkipped(int, const std::string&, const std::string&) override {}
};
