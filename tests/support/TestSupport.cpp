#include "tests/support/TestSupport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include <grp.h>
#include <jpeglib.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "platform/Exceptions.h"

ScopedClock::ScopedClock(TDateTime now) : m_clock(now), m_previous(SetClock(&m_clock)) {}

ScopedClock::~ScopedClock()
{
    SetClock(m_previous);
}

ScopedEnv::ScopedEnv(const char* name) : m_name(name)
{
    const char* old = std::getenv(name);
    m_hadValue = old != nullptr;
    if (m_hadValue)
        m_oldValue = old;
    unsetenv(name);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name)
{
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (m_hadValue)
        setenv(m_name.c_str(), m_oldValue.c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

ScopedTZ::ScopedTZ(const char* tz)
{
    const char* old = std::getenv("TZ");
    m_hadValue = old != nullptr;
    if (m_hadValue)
    {
        m_oldValue = old;
    }
    setenv("TZ", tz, 1);
    tzset();
}

ScopedTZ::~ScopedTZ()
{
    if (m_hadValue)
    {
        setenv("TZ", m_oldValue.c_str(), 1);
    }
    else
    {
        unsetenv("TZ");
    }
    tzset();
}

ScopedCodePage::ScopedCodePage(ICodePage& codePage) : m_previous(SetCodePage(&codePage)) {}

ScopedCodePage::~ScopedCodePage()
{
    SetCodePage(m_previous);
}

ScopedRandomSeed::ScopedRandomSeed(std::uint32_t seed)
{
    Random().Seed(seed);
}

ScopedRandomSeed::~ScopedRandomSeed()
{
    Random().Randomize();
}

ScopedRandom::ScopedRandom(IRandom& random) : m_previous(SetRandom(&random)) {}

ScopedRandom::~ScopedRandom()
{
    SetRandom(m_previous);
}

ScopedNumericLocale::ScopedNumericLocale(const char* name)
{
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    m_previous = current != nullptr ? current : "C";
    m_active = std::setlocale(LC_NUMERIC, name) != nullptr;
}

ScopedNumericLocale::~ScopedNumericLocale()
{
    std::setlocale(LC_NUMERIC, m_previous.c_str());
}

void TFailingStream::Write(const void* data, std::size_t size)
{
    if (Position() + static_cast<std::int64_t>(size) > m_limit)
    {
        if (Position() < m_limit)
        {
            TMemoryStream::Write(data, static_cast<std::size_t>(m_limit - Position()));
        }
        throw EFileError("Cannot write file \"failing stream\": No space left on device");
    }
    TMemoryStream::Write(data, size);
}

namespace
{

// The child's side of RunUnprivileged: gives root up, runs body and exits 0 when it passed.
[[noreturn]] void RunAs(uid_t uid, gid_t gid, const std::function<void()>& body)
{
    if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 ||
        ::setresuid(uid, uid, uid) != 0 || ::geteuid() == 0)
    {
        std::fprintf(stderr, "cannot give root up: %s\n", std::strerror(errno));
        std::_Exit(2);
    }
    // The child's failures reach no listener: collect them and say them on stderr, which the
    // parent shows when the exit status is not 0.
    ::testing::TestPartResultArray results;
    {
        const ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        body();
    }
    bool failed = false;
    for (int i = 0; i < results.size(); ++i)
    {
        const ::testing::TestPartResult& result = results.GetTestPartResult(i);
        failed = failed || result.failed();
        std::fprintf(stderr, "%s:%d: %s\n", result.file_name(), result.line_number(),
                     result.message());
    }
    std::fflush(nullptr);
    std::_Exit(failed ? 1 : 0);
}

} // namespace

void RunUnprivileged(const std::function<void()>& body)
{
    if (::geteuid() != 0)
    {
        body();
        return;
    }
    const passwd* user = ::getpwnam("nobody");
    const group* noGroup = ::getgrnam("nogroup");
    const uid_t uid = user != nullptr ? user->pw_uid : 65534;
    const gid_t gid = noGroup != nullptr ? noGroup->gr_gid : 65534;
    EXPECT_EXIT(RunAs(uid, gid, body), ::testing::ExitedWithCode(0), "")
        << "the part run as nobody failed";
}

std::string SourceDir()
{
    if (const char* dir = std::getenv("PICTOVA_SOURCE_DIR"); dir != nullptr && *dir != '\0')
    {
        return dir;
    }
    // Run by hand rather than by CTest: the tree this executable was built from.
    return PICTOVA_DEFAULT_SOURCE_DIR;
}

std::string BinaryDir()
{
    return PICTOVA_DEFAULT_BINARY_DIR;
}

std::string TestDataPath(const std::string& name)
{
    return SourceDir() + "/tests/data/" + name;
}

TTempDir::TTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pictova-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
    {
        throw std::runtime_error("Cannot create a temporary directory \"" + pattern +
                                 "\": " + std::strerror(errno));
    }
    m_path = pattern;
}

TTempDir::~TTempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::int32_t TCountingRandom::Next(std::int32_t range)
{
    return range > 0 ? static_cast<std::int32_t>(m_next++ % static_cast<std::uint32_t>(range)) : 0;
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        throw std::runtime_error("Cannot read file \"" + path + "\"");
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
    {
        throw std::runtime_error("Cannot write file \"" + path + "\"");
    }
}

int RunCommand(const std::string& command, std::string* output)
{
    const std::string full = command + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr)
    {
        if (output != nullptr)
        {
            *output = std::string("popen failed: ") + std::strerror(errno);
        }
        return -1;
    }
    std::string text;
    std::array<char, 4096> chunk{};
    std::size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
    {
        text.append(chunk.data(), got);
    }
    const int status = pclose(pipe);
    if (output != nullptr)
    {
        *output = std::move(text);
    }
    if (status == -1 || !WIFEXITED(status))
    {
        return -1;
    }
    return WEXITSTATUS(status);
}

namespace
{

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
    {
        if (c == '\'')
        {
            quoted += "'\\''";
        }
        else
        {
            quoted += c;
        }
    }
    return quoted + "'";
}

} // namespace

bool QpdfCheckPasses(const std::string& pdfPath, std::string* output)
{
    return RunCommand("qpdf --check " + ShellQuote(pdfPath), output) == 0;
}

bool PdftoppmRenders(const std::string& pdfPath, std::string* output)
{
    TTempDir pages;
    std::string text;
    const int status = RunCommand(
        "pdftoppm -r 10 -png " + ShellQuote(pdfPath) + " " + ShellQuote(pages.File("page")), &text);
    bool rendered = false;
    for (const auto& entry : std::filesystem::directory_iterator(pages.Path()))
    {
        rendered = rendered || entry.path().extension() == ".png";
    }
    if (output != nullptr)
    {
        *output = text;
    }
    // poppler repairs some broken files and still exits 0; its complaints count as failure.
    return status == 0 && rendered && text.find("Error") == std::string::npos;
}

std::int64_t FirstDifference(const std::string& a, const std::string& b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i)
    {
        if (a[i] != b[i])
        {
            return static_cast<std::int64_t>(i);
        }
    }
    return a.size() == b.size() ? -1 : static_cast<std::int64_t>(common);
}

std::string MakeTestJpeg(int width, int height, int components, bool adobeMarker, int fill)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors); // a failure here exits the test program, loudly
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = components == 1   ? JCS_GRAYSCALE
                          : components == 3 ? JCS_RGB
                          : components == 4 ? JCS_CMYK
                                            : JCS_UNKNOWN;
    jpeg_set_defaults(&info);
    if (components == 4)
    {
        info.write_Adobe_marker = adobeMarker ? TRUE : FALSE;
    }
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(static_cast<std::size_t>(width * components));
    while (info.next_scanline < info.image_height)
    {
        for (std::size_t i = 0; i < row.size(); ++i)
        {
            row[i] = static_cast<unsigned char>(
                fill >= 0 ? fill : static_cast<int>((i * 7 + info.next_scanline * 13) & 0xFF));
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}
