#include "platform/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

namespace
{

std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
    {
        bytes[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
    }
    return bytes;
}

std::string ReadAll(TStream& stream, std::size_t chunk)
{
    std::string bytes;
    std::string buffer(chunk, '\0');
    for (std::size_t got = stream.Read(buffer.data(), chunk); got > 0;
         got = stream.Read(buffer.data(), chunk))
    {
        bytes.append(buffer.data(), got);
    }
    return bytes;
}

} // namespace

TEST(MemoryStream, WritesOverwriteExtendAndZeroFillGaps)
{
    TMemoryStream stream;
    stream.Write("abcdef");
    stream.SetPosition(2);
    stream.Write("XY");
    EXPECT_EQ(stream.Bytes(), "abXYef");
    EXPECT_EQ(stream.Position(), 4);

    stream.SetPosition(4);
    stream.Write("1234"); // overwrites the tail and extends
    EXPECT_EQ(stream.Bytes(), "abXY1234");

    stream.SetPosition(10);
    EXPECT_EQ(stream.Size(), 8); // moving alone does not grow the stream
    stream.Write("!");
    EXPECT_EQ(stream.Bytes(), std::string("abXY1234\0\0!", 11));

    EXPECT_THROW(stream.SetPosition(-1), Exception);
}

TEST(MemoryStream, ReadStopsAtTheEndAndCopyFromTakesTheWholeSource)
{
    TMemoryStream source(std::string("hello world"));
    char buffer[8];
    source.SetPosition(6);
    EXPECT_EQ(source.Read(buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(source.Read(buffer, sizeof buffer), 0u);
    source.SetPosition(100);
    EXPECT_EQ(source.Read(buffer, sizeof buffer), 0u);

    // CopyFrom starts at the source's beginning whatever its position is.
    TMemoryStream target;
    target.Write(">>");
    target.CopyFrom(source);
    EXPECT_EQ(target.Bytes(), ">>hello world");

    target.Clear();
    EXPECT_EQ(target.Size(), 0);
    EXPECT_EQ(target.Position(), 0);
}

TEST(FileStream, RoundTripsSmallAndLargeWritesThroughTheBuffer)
{
    TTempDir dir;
    const std::string path = dir.File("out.bin");
    const std::string big = Pattern(200'000);
    {
        TFileStream out(path, TFileStream::Mode::Create);
        out.Write("head");
        out.Write(big.data(), big.size()); // larger than the buffer
        for (int i = 0; i < 20'000; ++i)
        {
            out.Write("0123456789"); // many small writes crossing buffer boundaries
        }
        EXPECT_EQ(out.Size(), out.Position()); // pending bytes count
        for (int i = 0; i < 25; ++i)
        {
            out.Write(big.data(), big.size()); // megabytes: written out as they come
        }
        out.Close();
    }
    std::string expected = "head" + big;
    for (int i = 0; i < 20'000; ++i)
    {
        expected += "0123456789";
    }
    for (int i = 0; i < 25; ++i)
    {
        expected += big;
    }
    EXPECT_EQ(ReadFileBytes(path), expected);

    TFileStream in(path, TFileStream::Mode::Read);
    EXPECT_EQ(in.Size(), static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(ReadAll(in, 7), expected);
    in.SetPosition(4);
    EXPECT_EQ(ReadAll(in, 100'000), expected.substr(4));
    in.Close();
}

TEST(FileStream, WritingAfterReadingLandsAtTheLogicalPosition)
{
    TTempDir dir;
    const std::string path = dir.File("rw.bin");
    TFileStream stream(path, TFileStream::Mode::Create);
    stream.Write("abcdefghij");
    stream.SetPosition(0);
    char two[2];
    ASSERT_EQ(stream.Read(two, 2), 2u); // reads ahead into its buffer
    stream.Write("XY");
    stream.SetPosition(12); // beyond the end leaves a zero gap
    stream.Write("Z");
    stream.Close();
    EXPECT_EQ(ReadFileBytes(path), std::string("abXYefghij\0\0Z", 13));
}

TEST(FileStream, CreateUsesTheUmaskAndTruncates)
{
    TTempDir dir;
    const std::string path = dir.File("mode.bin");
    WriteFileBytes(path, "old contents");
    const mode_t old = umask(027);
    {
        TFileStream out(path, TFileStream::Mode::Create);
        out.Write("new");
        out.Close();
    }
    umask(old);
    EXPECT_EQ(ReadFileBytes(path), "new");
    // An existing file keeps its mode; a new one gets 0666 & ~umask.
    const std::string fresh = dir.File("fresh.bin");
    const mode_t previous = umask(027);
    TFileStream(fresh, TFileStream::Mode::Create).Close();
    umask(previous);
    struct stat info
    {
    };
    ASSERT_EQ(stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(FileStream, FailuresNameTheFileAndTheReason)
{
    try
    {
        TFileStream out("/nonexistent-dir/x.pdf", TFileStream::Mode::Create);
        FAIL() << "expected EFileError";
    }
    catch (const EFileError& e)
    {
        EXPECT_STREQ(e.what(),
                     "Cannot create file \"/nonexistent-dir/x.pdf\": No such file or directory");
    }
    try
    {
        TFileStream in("/nonexistent-dir/x.jpg", TFileStream::Mode::Read);
        FAIL() << "expected EFileError";
    }
    catch (const EFileError& e)
    {
        EXPECT_STREQ(e.what(),
                     "Cannot read file \"/nonexistent-dir/x.jpg\": No such file or directory");
    }
}

TEST(FileStream, ADiskFullIsReportedByCloseNotSwallowed)
{
    if (access("/dev/full", W_OK) != 0)
    {
        GTEST_SKIP() << "no /dev/full";
    }
    TFileStream out("/dev/full", TFileStream::Mode::Create);
    out.Write("buffered, so no error yet");
    try
    {
        out.Close();
        FAIL() << "expected EFileError";
    }
    catch (const EFileError& e)
    {
        EXPECT_STREQ(e.what(), "Cannot write file \"/dev/full\": No space left on device");
    }
    EXPECT_NO_THROW(out.Close()); // already closed: nothing more to report

    // A write that must reach the disk at once fails at once.
    TFileStream direct("/dev/full", TFileStream::Mode::Create);
    const std::string big(100'000, 'x');
    EXPECT_THROW(direct.Write(big.data(), big.size()), EFileError);
}

TEST(FileStream, SetSizeTakesPendingWritesIntoAccount)
{
    TTempDir dir;
    TFileStream out(dir.File("cut"), TFileStream::Mode::Create);
    out.Write("abcdef"); // still buffered
    out.SetPosition(4);
    out.SetSize(2);
    EXPECT_EQ(out.Size(), 2);
    out.Write("xy");
    out.Close();
    EXPECT_EQ(ReadFileBytes(dir.File("cut")), std::string("ab\0\0xy", 6));
}

TEST(FileStream, TakesOverADescriptor)
{
    TTempDir dir;
    std::string path = dir.File("fd-XXXXXX");
    const int fd = mkstemp(path.data());
    ASSERT_GE(fd, 0);
    {
        TFileStream out(fd, path);
        EXPECT_EQ(out.Path(), path);
        out.Write("through fd");
        out.Close();
    }
    EXPECT_EQ(ReadFileBytes(path), "through fd");
    EXPECT_EQ(fcntl(fd, F_GETFD), -1); // the stream closed it
}

TEST(FailingStream, FailsOnceTheLimitIsPassed)
{
    TFailingStream stream(5);
    stream.Write("12345");
    EXPECT_THROW(stream.Write("6"), EFileError);
    EXPECT_EQ(stream.Bytes(), "12345");

    // A write across the limit takes the part that fits.
    TFailingStream partly(7);
    partly.Write("12345");
    EXPECT_THROW(partly.Write("6789"), EFileError);
    EXPECT_EQ(partly.Bytes(), "1234567");
}

TEST(MemoryStream, SetSizeCutsOrExtendsAndKeepsThePosition)
{
    TMemoryStream stream(std::string("abcdef"));
    stream.SetPosition(4);
    stream.SetSize(2);
    EXPECT_EQ(stream.Bytes(), "ab");
    EXPECT_EQ(stream.Position(), 4);
    stream.SetSize(3);
    EXPECT_EQ(stream.Bytes(), std::string("ab\0", 3));
    EXPECT_THROW(stream.SetSize(-1), Exception);
}
