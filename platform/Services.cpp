#include "platform/Services.h"

#include <ctime>

namespace
{

class TRealClock : public IClock
{
public:
    TDateTime Now() const override
    {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        // localtime_r may keep a zone it read earlier; tzset makes a changed TZ count.
        tzset();
        std::tm local{};
        localtime_r(&now.tv_sec, &local);
        return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                              local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                              static_cast<int>(now.tv_nsec / 1'000'000));
    }
};

class TRealTimeZone : public ITimeZone
{
public:
    long UtcOffsetSeconds(const TDateTimeParts& local) const override
    {
        std::tm parts{};
        parts.tm_year = local.Year - 1900;
        parts.tm_mon = local.Month - 1;
        parts.tm_mday = local.Day;
        parts.tm_hour = local.Hour;
        parts.tm_min = local.Minute;
        parts.tm_sec = local.Second;
        // Let the C library decide whether daylight saving is in force at that moment.
        parts.tm_isdst = -1;
        tzset();
        // A date mktime cannot represent leaves tm_gmtoff 0: UTC is the only sane answer then.
        mktime(&parts);
        return parts.tm_gmtoff;
    }
};

// The classic linear congruential generator: small, seedable and the same on every platform,
// so seeded sequences are reproducible in tests.
class TRealRandom final : public IRandom
{
public:
    TRealRandom() { Randomize(); }

    void Seed(std::uint32_t seed) override { m_state = seed; }

    void Randomize() override
    {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        m_state = static_cast<std::uint32_t>(now.tv_sec) * 1'000'003u ^
                  static_cast<std::uint32_t>(now.tv_nsec);
    }

    std::int32_t Next(std::int32_t range) override
    {
        m_state = m_state * 134775813u + 1u;
        if (range <= 0)
        {
            return 0;
        }
        return static_cast<std::int32_t>(
            (static_cast<std::uint64_t>(m_state) * static_cast<std::uint64_t>(range)) >> 32);
    }

private:
    std::uint32_t m_state = 0;
};

TRealClock& RealClock()
{
    static TRealClock clock;
    return clock;
}

TRealTimeZone& RealTimeZone()
{
    static TRealTimeZone zone;
    return zone;
}

TRealRandom& RealRandom()
{
    static TRealRandom random;
    return random;
}

// Null means "the real one".
IClock* g_clock = nullptr;
ITimeZone* g_timeZone = nullptr;
ICodePage* g_codePage = nullptr;
IRandom* g_random = nullptr;

template <class T>
T* Swap(T*& slot, T* next, T& real)
{
    T* previous = slot != nullptr ? slot : &real;
    slot = next;
    return previous;
}

} // namespace

IClock& Clock()
{
    return g_clock != nullptr ? *g_clock : RealClock();
}

IClock* SetClock(IClock* clock)
{
    return Swap<IClock>(g_clock, clock, RealClock());
}

ITimeZone& TimeZone()
{
    return g_timeZone != nullptr ? *g_timeZone : RealTimeZone();
}

ITimeZone* SetTimeZone(ITimeZone* zone)
{
    return Swap<ITimeZone>(g_timeZone, zone, RealTimeZone());
}

ICodePage& CodePage()
{
    // UTF-8 until someone selects another.
    return g_codePage != nullptr ? *g_codePage : Utf8CodePage();
}

ICodePage* SetCodePage(ICodePage* codePage)
{
    return Swap<ICodePage>(g_codePage, codePage, Utf8CodePage());
}

IRandom& Random()
{
    return g_random != nullptr ? *g_random : RealRandom();
}

IRandom* SetRandom(IRandom* random)
{
    return Swap<IRandom>(g_random, random, RealRandom());
}
