#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Services.h"
#include "platform/Stream.h"

// Test doubles and scoped guards shared by every test executable.

// Runs action and expects it to raise E with exactly message.
template <class E>
void ExpectThrowWithMessage(const std::function<void()>& action, const std::string& message)
{
    try
    {
        action();
        ADD_FAILURE() << "nothing raised, expected: " << message;
    }
    catch (const E& e)
    {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

// A clock that always answers the same local date-time.
class TFixedClock : public IClock
{
public:
    explicit TFixedClock(TDateTime now) : m_now(now) {}
    TDateTime Now() const override { return m_now; }
    void Set(TDateTime now) { m_now = now; }

private:
    TDateTime m_now;
};

// Installs a clock for the guard's lifetime (the guard owns a TFixedClock).
class ScopedClock
{
public:
    explicit ScopedClock(TDateTime now);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
    TFixedClock& Clock() { return m_clock; }

private:
    TFixedClock m_clock;
    IClock* m_previous;
};

// Sets the TZ environment variable (a POSIX zone string such as "CET-1CEST,M3.5.0,M10.5.0/3")
// and calls tzset(); restores the previous value on destruction.
class ScopedTZ
{
public:
    explicit ScopedTZ(const char* tz);
    ~ScopedTZ();
    ScopedTZ(const ScopedTZ&) = delete;
    ScopedTZ& operator=(const ScopedTZ&) = delete;

private:
    bool m_hadValue;
    std::string m_oldValue;
};

// Sets an environment variable (or, given no value, unsets it) for the guard's lifetime.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const std::string& value);
    explicit ScopedEnv(const char* name);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    bool m_hadValue;
    std::string m_oldValue;
};

// Installs a code page for the guard's lifetime.
class ScopedCodePage
{
public:
    explicit ScopedCodePage(ICodePage& codePage);
    ~ScopedCodePage();
    ScopedCodePage(const ScopedCodePage&) = delete;
    ScopedCodePage& operator=(const ScopedCodePage&) = delete;

private:
    ICodePage* m_previous;
};

// Seeds the process-wide random generator for the guard's lifetime, restoring a clock seed
// afterwards.
class ScopedRandomSeed
{
public:
    explicit ScopedRandomSeed(std::uint32_t seed);
    ~ScopedRandomSeed();
    ScopedRandomSeed(const ScopedRandomSeed&) = delete;
    ScopedRandomSeed& operator=(const ScopedRandomSeed&) = delete;
};

// Installs a random generator for the guard's lifetime.
class ScopedRandom
{
public:
    explicit ScopedRandom(IRandom& random);
    ~ScopedRandom();
    ScopedRandom(const ScopedRandom&) = delete;
    ScopedRandom& operator=(const ScopedRandom&) = delete;

private:
    IRandom* m_previous;
};

// A random sequence that ignores every seed and counts up (0, 1, 2, ... modulo the range), so
// the image names of a document do not depend on the clock.
class TCountingRandom : public IRandom
{
public:
    void Seed(std::uint32_t) override {}
    void Randomize() override {}
    std::int32_t Next(std::int32_t range) override;

private:
    std::uint32_t m_next = 0;
};

// Sets LC_NUMERIC to a locale (for example "de_DE.UTF-8" or "C.UTF-8") when available; Active()
// tells whether it could be set. Restores the previous one.
class ScopedNumericLocale
{
public:
    explicit ScopedNumericLocale(const char* name);
    ~ScopedNumericLocale();
    ScopedNumericLocale(const ScopedNumericLocale&) = delete;
    ScopedNumericLocale& operator=(const ScopedNumericLocale&) = delete;
    bool Active() const { return m_active; }

private:
    bool m_active = false;
    std::string m_previous;
};

// A memory stream that holds at most limit bytes, like a full disk: a write that goes past it
// takes the part that fits, then fails (throws EFileError).
class TFailingStream : public TMemoryStream
{
public:
    explicit TFailingStream(std::int64_t limit) : m_limit(limit) {}
    void Write(const void* data, std::size_t size) override;
    using TStream::Write;

private:
    std::int64_t m_limit;
};

// A stream that keeps no bytes and whose position 0 lies at a given offset (to test offsets past
// 32 bits without writing gigabytes): SetPosition(0) goes back to that offset.
class TOffsetCountingStream : public TStream
{
public:
    explicit TOffsetCountingStream(std::int64_t start) : m_origin(start), m_position(start) {}
    std::size_t Read(void*, std::size_t) override { return 0; }
    void Write(const void*, std::size_t size) override
    {
        m_position += static_cast<std::int64_t>(size);
    }
    std::int64_t Position() const override { return m_position; }
    void SetPosition(std::int64_t position) override { m_position = m_origin + position; }
    std::int64_t Size() const override { return m_position; }
    void SetSize(std::int64_t) override {}

private:
    std::int64_t m_origin;
    std::int64_t m_position;
};

// Runs body as a user without privileges, so that permission checks apply to it: as root in a
// child process that has given root up (the user nobody and the group nogroup, no supplementary
// groups, hence no capabilities), otherwise right here. A failure inside body fails the calling
// test. body makes its own temporary folders: the child cannot enter a TTempDir of root's.
void RunUnprivileged(const std::function<void()>& body);

// Paths and external checks.
std::string SourceDir();                           // the project's root
std::string BinaryDir();                           // the build tree the tests were built in
std::string TestDataPath(const std::string& name); // tests/data/<name>
// A fresh, empty temporary directory for one test; removed with everything in it on
// destruction.
class TTempDir
{
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The names in a folder (no "." or ".."), sorted; empty for a folder that cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder);
// Runs a shell command; returns its exit status and puts stdout+stderr in output.
int RunCommand(const std::string& command, std::string* output = nullptr);
// qpdf --check on the file: true only for exit status 0 (3, warnings, counts as a failure).
bool QpdfCheckPasses(const std::string& pdfPath, std::string* output = nullptr);
// pdftoppm renders every page at low resolution without error.
bool PdftoppmRenders(const std::string& pdfPath, std::string* output = nullptr);
// Index of the first differing byte, or -1 when equal; for readable golden-byte failures.
std::int64_t FirstDifference(const std::string& a, const std::string& b);

// A small baseline JPEG made with libjpeg: 1 component (grey), 3 (RGB) or 4 (CMYK, with or
// without the Adobe marker that libjpeg writes for CMYK by default); any other count makes a
// JPEG of unknown colour space. The samples are a gradient, or all equal to fill when fill is
// 0..255.
std::string MakeTestJpeg(int width, int height, int components, bool adobeMarker = true,
                         int fill = -1);
