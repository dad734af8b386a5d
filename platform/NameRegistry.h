#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// A class that can be registered by name: fonts and image creators derive their class objects
// from it. Class objects are static, never freed.
class TRegisteredClass
{
public:
    virtual ~TRegisteredClass() = default;
    virtual const char* ClassName() const = 0;
};

// The one process-wide table from a registered name to a class. Look-ups ignore letter case
// (ASCII). Each class is entered under its registered name and, by RegisterClass, also under
// its own class name.
class TNameRegistry
{
public:
    static TNameRegistry& Instance();

    // Enters cls under name and under cls.ClassName(); a name registered again is replaced.
    void RegisterClass(std::string_view name, const TRegisteredClass& cls);
    void UnregisterName(std::string_view name);
    // The class registered under name, or null.
    const TRegisteredClass* Find(std::string_view name) const;

private:
    struct Entry
    {
        std::string Name;
        const TRegisteredClass* Class;
    };
    void Put(std::string_view name, const TRegisteredClass& cls);

    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};
