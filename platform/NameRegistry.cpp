#include "platform/NameRegistry.h"

#include <algorithm>

namespace
{

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

} // namespace

TNameRegistry& TNameRegistry::Instance()
{
    static TNameRegistry registry;
    return registry;
}

void TNameRegistry::RegisterClass(std::string_view name, const TRegisteredClass& cls)
{
    std::lock_guard lock(m_mutex);
    Put(name, cls);
    Put(cls.ClassName(), cls);
}

void TNameRegistry::UnregisterName(std::string_view name)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [name](const Entry& entry) { return SameName(entry.Name, name); });
}

const TRegisteredClass* TNameRegistry::Find(std::string_view name) const
{
    std::lock_guard lock(m_mutex);
    for (const Entry& entry : m_entries)
    {
        if (SameName(entry.Name, name))
        {
            return entry.Class;
        }
    }
    return nullptr;
}

void TNameRegistry::Put(std::string_view name, const TRegisteredClass& cls)
{
    for (Entry& entry : m_entries)
    {
        if (SameName(entry.Name, name))
        {
            entry.Class = &cls;
            return;
        }
    }
    m_entries.push_back(Entry{std::string(name), &cls});
}
