#include "tests/convert/TestPictures.h"

#include <cmath>
#include <regex>
#include <sstream>

#include <sys/stat.h>

#include "tests/support/TestSupport.h"

namespace
{

void PutLittleEndian(std::string& bytes, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

void WriteTestBmp(const std::string& path, int width, int height, int red, int green, int blue)
{
    const auto rowBytes = static_cast<std::uint32_t>((width * 3 + 3) / 4 * 4);
    const std::uint32_t pixelBytes = rowBytes * static_cast<std::uint32_t>(height);
    std::string bytes = "BM";
    PutLittleEndian(bytes, 54 + pixelBytes, 4);
    PutLittleEndian(bytes, 0, 4);
    PutLittleEndian(bytes, 54, 4);
    PutLittleEndian(bytes, 40, 4); // BITMAPINFOHEADER
    PutLittleEndian(bytes, static_cast<std::uint32_t>(width), 4);
    PutLittleEndian(bytes, static_cast<std::uint32_t>(height), 4);
    PutLittleEndian(bytes, 1, 2);
    PutLittleEndian(bytes, 24, 2);
    PutLittleEndian(bytes, 0, 4); // no compression
    PutLittleEndian(bytes, pixelBytes, 4);
    PutLittleEndian(bytes, 2835, 4);
    PutLittleEndian(bytes, 2835, 4);
    PutLittleEndian(bytes, 0, 4);
    PutLittleEndian(bytes, 0, 4);
    std::string row;
    for (int x = 0; x < width; ++x)
    {
        row += static_cast<char>(blue);
        row += static_cast<char>(green);
        row += static_cast<char>(red);
    }
    row.resize(rowBytes, '\0');
    for (int y = 0; y < height; ++y)
        bytes += row;
    WriteFileBytes(path, bytes);
}

std::vector<std::pair<int, int>> MediaBoxes(const std::string& pdfPath)
{
    std::string output;
    std::vector<std::pair<int, int>> boxes;
    if (RunCommand("pdfinfo -f 1 -l 100000 -box " + ShellQuoted(pdfPath), &output) != 0)
        return boxes;
    const std::regex line(R"(Page +\d+ MediaBox: +([-\d.]+) +([-\d.]+) +([-\d.]+) +([-\d.]+))");
    for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it)
    {
        const double width = std::stod((*it)[3]) - std::stod((*it)[1]);
        const double height = std::stod((*it)[4]) - std::stod((*it)[2]);
        boxes.emplace_back(static_cast<int>(std::lround(width)),
                           static_cast<int>(std::lround(height)));
    }
    return boxes;
}

bool FileExists(const std::string& path)
{
    struct stat info
    {
    };
    return lstat(path.c_str(), &info) == 0;
}

std::string ShellQuoted(const std::string& path)
{
    std::string quoted = "'";
    for (const char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
