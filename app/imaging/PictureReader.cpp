#include "app/imaging/PictureReader.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileDescriptor.h"

namespace
{

// Larger files cannot hold a picture within the pixel limits in any format we read (even
// uncompressed 32-bit pixels need at most 1 GB), so they are refused before being read.
constexpr std::int64_t kMaxFileBytes = 1100LL * 1000 * 1000;

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

} // namespace

const std::vector<std::unique_ptr<IPictureReader>>& PictureReaders()
{
    static const std::vector<std::unique_ptr<IPictureReader>> readers = [] {
        std::vector<std::unique_ptr<IPictureReader>> list;
        list.push_back(NewJpegReader());
        list.push_back(NewPngReader());
        list.push_back(NewGifReader());
        list.push_back(NewTiffReader());
        list.push_back(NewBmpReader());
        list.push_back(NewIcoReader());
        list.push_back(NewEmfReader());
        list.push_back(NewWmfReader());
        return list;
    }();
    return readers;
}

const IPictureReader* FindPictureReader(std::string_view bytes)
{
    for (const auto& reader : PictureReaders())
        if (reader->Recognises(bytes))
            return reader.get();
    return nullptr;
}

TRaster DecodePicture(std::string_view bytes)
{
    const IPictureReader* reader = FindPictureReader(bytes);
    if (reader == nullptr)
        throw EPictureError(bytes.empty() ? "empty file" : "not a picture", fkUnknownFormat);
    TRaster raster = reader->Read(bytes);
    // Every reader checks the size itself before allocating; this only guards the contract.
    CheckPictureSize(raster.Width, raster.Height);
    FlattenOntoWhite(raster);
    return raster;
}

std::string ReadPictureFile(const std::string& path)
{
    TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
    {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            throw EPictureError("file not found", fkFileNotFound);
        throw EPictureError("cannot read: " + ErrnoText(error), fkCannotRead);
    }
    struct stat info
    {
    };
    if (::fstat(fd.Get(), &info) != 0)
        throw EPictureError("cannot read: " + ErrnoText(errno), fkCannotRead);
    if (!S_ISREG(info.st_mode))
        throw EPictureError("not a regular file", fkCannotRead);
    if (info.st_size > kMaxFileBytes)
        throw EPictureError("file too large", fkTooLarge);
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    // The size is read again as we go: a file that shrinks or grows meanwhile is read as it is.
    for (;;)
    {
        if (done == bytes.size())
        {
            if (bytes.size() >= static_cast<std::size_t>(kMaxFileBytes))
                throw EPictureError("file too large", fkTooLarge);
            bytes.resize(bytes.size() + 65536);
        }
        const ssize_t n = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            throw EPictureError("cannot read: " + ErrnoText(errno), fkCannotRead);
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

TRaster DecodePictureFile(const std::string& path)
{
    return DecodePicture(ReadPictureFile(path));
}
