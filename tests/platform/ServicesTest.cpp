#include "platform/Services.h"

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <set>

#include <gtest/gtest.h>

#include "platform/NameRegistry.h"
#include "tests/support/TestSupport.h"

namespace
{

long OffsetAt(int year, int month, int day, int hour)
{
    TDateTimeParts parts;
    parts.Year = year;
    parts.Month = month;
    parts.Day = day;
    parts.Hour = hour;
    return TimeZone().UtcOffsetSeconds(parts);
}

} // namespace

TEST(TimeZone, OffsetInForceIncludesDaylightSaving)
{
    {
        ScopedTZ tz("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(OffsetAt(2024, 3, 7, 14), 3600);
        EXPECT_EQ(OffsetAt(2024, 7, 7, 14), 7200);
        EXPECT_EQ(OffsetAt(2024, 12, 24, 12), 3600);
    }
    {
        ScopedTZ tz("IST-5:30");
        EXPECT_EQ(OffsetAt(2024, 3, 7, 14), 19800);
    }
    {
        ScopedTZ tz("EST5EDT,M3.2.0,M11.1.0");
        EXPECT_EQ(OffsetAt(2024, 3, 7, 14), -18000);
        EXPECT_EQ(OffsetAt(2024, 7, 7, 14), -14400);
    }
    {
        ScopedTZ tz("UTC0");
        EXPECT_EQ(OffsetAt(2024, 7, 7, 14), 0);
    }
}

TEST(Services, SettersReturnThePreviousAndNullRestoresTheRealOne)
{
    IClock& real = Clock();
    {
        ScopedClock fixed(45358.5);
        EXPECT_DOUBLE_EQ(Clock().Now(), 45358.5);
        TFixedClock other(1.0);
        IClock* previous = SetClock(&other);
        EXPECT_EQ(previous, &fixed.Clock());
        EXPECT_DOUBLE_EQ(Clock().Now(), 1.0);
        SetClock(previous);
    }
    EXPECT_EQ(&Clock(), &real);

    TFixedClock fake(2.0);
    SetClock(&fake);
    SetClock(nullptr);
    EXPECT_EQ(&Clock(), &real);
}

TEST(Services, RealClockIsLocalTimeNow)
{
    ScopedTZ tz("UTC0");
    const double unixDays = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
    EXPECT_NEAR(Clock().Now(), unixDays, 5.0 / 86400.0);
}

TEST(Services, SeededRandomRepeatsAndStaysInRange)
{
    std::vector<std::int32_t> first;
    {
        ScopedRandomSeed seed(1234);
        for (int i = 0; i < 100; ++i)
        {
            first.push_back(Random().Next(10));
        }
    }
    std::vector<std::int32_t> second;
    {
        ScopedRandomSeed seed(1234);
        for (int i = 0; i < 100; ++i)
        {
            second.push_back(Random().Next(10));
        }
    }
    EXPECT_EQ(first, second);
    const std::set<std::int32_t> seen(first.begin(), first.end());
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), 9);
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(Random().Next(0), 0);
    EXPECT_EQ(Random().Next(-5), 0);
    EXPECT_EQ(Random().Next(1), 0);
}

TEST(Services, CodePageFollowsTheLocaleCodeset)
{
    const char* oldLcAll = std::getenv("LC_ALL");
    const std::string saved = oldLcAll != nullptr ? oldLcAll : "";
    ICodePage* previous = SetCodePage(nullptr);
    EXPECT_EQ(CodePage().Name(), "UTF-8"); // the default before any selection

    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(SelectCodePageFromLocale().Name(), "UTF-8");
    EXPECT_EQ(&CodePage(), &Utf8CodePage());

    setenv("LC_ALL", "de_DE.ISO-8859-1", 1);
    if (std::setlocale(LC_ALL, "de_DE.ISO-8859-1") != nullptr)
    {
        EXPECT_EQ(SelectCodePageFromLocale().Name(), "Windows-1252");
        EXPECT_EQ(&CodePage(), &Windows1252CodePage());
    }

    if (oldLcAll != nullptr)
    {
        setenv("LC_ALL", saved.c_str(), 1);
    }
    else
    {
        unsetenv("LC_ALL");
    }
    std::setlocale(LC_ALL, "C");
    SetCodePage(previous);
}

namespace
{

class TFakeClass : public TRegisteredClass
{
public:
    explicit TFakeClass(const char* name) : m_name(name) {}
    const char* ClassName() const override { return m_name; }

private:
    const char* m_name;
};

} // namespace

TEST(NameRegistry, FindsByNameAndClassNameIgnoringCase)
{
    static const TFakeClass first("TFakeFirstClass");
    static const TFakeClass second("TFakeSecondClass");
    TNameRegistry& registry = TNameRegistry::Instance();
    registry.RegisterClass("Fake-First", first);

    EXPECT_EQ(registry.Find("Fake-First"), &first);
    EXPECT_EQ(registry.Find("fake-first"), &first);
    EXPECT_EQ(registry.Find("FAKE-FIRST"), &first);
    EXPECT_EQ(registry.Find("tfakefirstclass"), &first);
    EXPECT_EQ(registry.Find("Fake-Firs"), nullptr);
    EXPECT_EQ(registry.Find(""), nullptr);

    registry.RegisterClass("FAKE-first", second); // the same name again replaces
    EXPECT_EQ(registry.Find("Fake-First"), &second);
    EXPECT_EQ(registry.Find("TFakeFirstClass"), &first);

    registry.UnregisterName("fake-FIRST");
    registry.UnregisterName("TFakeFirstClass");
    registry.UnregisterName("TFakeSecondClass");
    EXPECT_EQ(registry.Find("Fake-First"), nullptr);
    EXPECT_EQ(registry.Find("TFakeFirstClass"), nullptr);
}
