#include <chrono>
#include <sstream>
#include <string>

#include <unistd.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/imaging/PictureReader.h"
#include "app/imaging/WmfRenderer.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

// A stand-in for pictova-wmf: a shell script that misbehaves as told.
class FakeHelper
{
public:
    explicit FakeHelper(const std::string& body)
        : m_path(m_dir.File("fake-wmf")),
          m_env("PICTOVA_WMF_HELPER", m_path)
    {
        WriteFileBytes(m_path, "#!/bin/sh\n" + body + "\n");
        ::chmod(m_path.c_str(), 0755);
    }

private:
    TTempDir m_dir;
    std::string m_path;
    ScopedEnv m_env;
};

class ScopedWmfTimeout
{
public:
    explicit ScopedWmfTimeout(std::chrono::milliseconds timeout)
        : m_previous(SetWmfHelperTimeout(timeout))
    {
    }
    ~ScopedWmfTimeout() { SetWmfHelperTimeout(m_previous); }
    ScopedWmfTimeout(const ScopedWmfTimeout&) = delete;
    ScopedWmfTimeout& operator=(const ScopedWmfTimeout&) = delete;

private:
    std::chrono::milliseconds m_previous;
};

std::string ReasonFor(const std::string& wmfBytes)
{
    try
    {
        RenderWmfInHelper(wmfBytes);
        return "rendered";
    }
    catch (const EPictureError& e)
    {
        return e.what();
    }
}

std::string PlaceableWmf()
{
    return ReadFileBytes(TestDataPath("wmf_placeable.wmf"));
}

TEST(WmfHelper, TheBuiltHelperIsFound)
{
    const std::string path = WmfHelperPath();
    struct stat info{};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
}

TEST(WmfHelper, ACrashIsAFailedPicture)
{
    FakeHelper helper("kill -SEGV $$");
    EXPECT_EQ(ReasonFor(PlaceableWmf()), "WMF renderer crashed (signal 11)");
}

TEST(WmfHelper, AHangIsKilledAtTheTimeLimit)
{
    FakeHelper helper("exec sleep 30");
    ScopedWmfTimeout timeout(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReasonFor(PlaceableWmf()), "WMF renderer timed out");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(WmfHelper, ItsOwnReasonIsPassedOn)
{
    FakeHelper helper("cat >/dev/null; echo 'bad WMF: unreadable records' >&2; exit 1");
    EXPECT_EQ(ReasonFor(PlaceableWmf()), "bad WMF: unreadable records");
}

// The helper quits without reading a large input: writing to it must fail quietly, not raise
// SIGPIPE in the caller.
TEST(WmfHelper, AHelperThatStopsReadingDoesNotKillTheCaller)
{
    FakeHelper helper("exit 3");
    const std::string large = PlaceableWmf() + std::string(4 << 20, '\0');
    EXPECT_EQ(ReasonFor(large), "WMF renderer failed (exit status 3)");
}

TEST(WmfHelper, BadOrOversizedOutputIsRefused)
{
    {
        FakeHelper helper("cat >/dev/null; printf 'xx'");
        EXPECT_EQ(ReasonFor(PlaceableWmf()), "WMF renderer gave incomplete output");
    }
    {
        // Claims 70000 x 200 x 4: refused before anything of that size is allocated.
        FakeHelper helper("cat >/dev/null; printf '\\160\\021\\001\\000\\310\\000\\000\\000\\004\\000\\000\\000'");
        EXPECT_EQ(ReasonFor(PlaceableWmf()), "picture too large: 70000 x 200");
    }
    {
        // 1 x 1 x 3 followed by more bytes than announced.
        FakeHelper helper("cat >/dev/null; printf '\\001\\000\\000\\000\\001\\000\\000\\000\\003\\000\\000\\000abcdef'");
        EXPECT_EQ(ReasonFor(PlaceableWmf()), "WMF renderer gave incomplete output");
    }
}

// Ctrl+C at a terminal goes to the terminal's process group: the helper must not be in ours,
// and it is told our process id so that it can end with us.
TEST(WmfHelper, TheHelperRunsInAProcessGroupOfItsOwn)
{
    FakeHelper helper("cat >/dev/null; read -r pid name state ppid pgrp rest < /proc/$$/stat; "
                      "echo \"$pid $pgrp $1\" >&2; exit 1");
    const std::string reason = ReasonFor(PlaceableWmf());
    std::istringstream fields(reason);
    long pid = 0;
    long group = 0;
    long parent = 0;
    ASSERT_TRUE(fields >> pid >> group >> parent) << reason;
    EXPECT_EQ(group, pid);
    EXPECT_NE(group, static_cast<long>(::getpgrp()));
    EXPECT_EQ(parent, static_cast<long>(::getpid()));
}

TEST(WmfHelper, AMissingHelperIsNamed)
{
    ScopedEnv env("PICTOVA_WMF_HELPER", "/nonexistent/pictova-wmf");
    EXPECT_EQ(ReasonFor(PlaceableWmf()), "WMF renderer not found: /nonexistent/pictova-wmf");
}

// The real helper on damaged metafiles: a reason, whatever libwmf makes of them.
TEST(WmfHelper, RealHelperOnDamagedFilesGivesAReason)
{
    const std::string good = PlaceableWmf();
    std::string noRecords = good.substr(0, 40);
    std::string scrambled = good;
    for (std::size_t i = 40; i < scrambled.size(); i += 3)
        scrambled[i] = static_cast<char>(0xFF);
    for (const std::string& bytes : {noRecords, scrambled})
    {
        const std::string reason = ReasonFor(bytes);
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find("crashed"), std::string::npos) << reason;
    }
}

} // namespace
