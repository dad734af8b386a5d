#include "app/convert/PreparationPool.h"

#include <algorithm>
#include <stdexcept>

TPreparationPool::TPreparationPool(int count, const TPreparationLimits& limits, TEstimate estimate,
                                   TPrepare prepare)
    : m_count(count), m_limits(limits), m_estimate(std::move(estimate)),
      m_prepare(std::move(prepare))
{
    const int workers = std::max(1, std::min(limits.Workers, count));
    m_workers.reserve(static_cast<std::size_t>(workers));
    try
    {
        for (int i = 0; i < workers; ++i)
            m_workers.emplace_back([this] { Work(); });
    }
    catch (...)
    {
        Stop(); // a thread that could not start: the ones running must not outlive the pool
        throw;
    }
}

TPreparationPool::~TPreparationPool()
{
    Stop();
}

bool TPreparationPool::MayStart(int index) const
{
    return index <= m_wanted ||
           (index - m_wanted <= m_limits.Ahead && m_doneBytes <= m_limits.AheadBytes);
}

bool TPreparationPool::MayPrepare(int index, std::int64_t bytes) const
{
    return *m_admitting.begin() == index &&
           (m_busy == 0 || m_preparing + bytes <= m_limits.MemoryBudget);
}

void TPreparationPool::Work()
{
    std::unique_lock lock(m_mutex);
    for (;;)
    {
        m_changed.wait(lock,
                       [this] { return m_stopping || m_next >= m_count || MayStart(m_next); });
        if (m_stopping || m_next >= m_count)
            return;
        const int index = m_next++;

        lock.unlock();
        std::int64_t bytes = 0;
        try
        {
            bytes = m_estimate(index);
        }
        catch (...)
        {
            // Unknown, as for a picture whose header does not tell.
        }
        lock.lock();
        if (bytes <= 0 || bytes > m_limits.MemoryBudget)
            bytes = m_limits.MemoryBudget;
        m_admitting.insert(index);
        m_changed.wait(lock, [&] { return m_stopping || MayPrepare(index, bytes); });
        m_admitting.erase(index);
        if (m_stopping)
        {
            m_changed.notify_all();
            return;
        }
        ++m_busy;
        m_preparing += bytes;
        m_changed.notify_all(); // the next one in line may fit beside this one

        lock.unlock();
        TPreparedPicture result;
        try
        {
            result = m_prepare(index);
        }
        catch (const std::exception& e)
        {
            result = {std::string(), e.what()};
        }
        catch (...)
        {
            result = {std::string(), "unknown failure"};
        }
        lock.lock();
        --m_busy;
        m_preparing -= bytes;
        if (!m_stopping && index >= m_wanted)
        {
            m_doneBytes += static_cast<std::int64_t>(result.Jpeg.size());
            m_done.emplace(index, std::move(result));
        }
        m_changed.notify_all();
    }
}

TPreparedPicture TPreparationPool::Take(int index)
{
    std::unique_lock lock(m_mutex);
    if (index < m_wanted || index >= m_count)
        throw std::logic_error("TPreparationPool::Take: entries are taken once, in order");
    m_wanted = index;
    // Entries passed over (their files were gone when the run came to them) are dropped.
    while (!m_done.empty() && m_done.begin()->first < index)
    {
        m_doneBytes -= static_cast<std::int64_t>(m_done.begin()->second.Jpeg.size());
        m_done.erase(m_done.begin());
    }
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_stopping || m_done.count(index) != 0; });
    if (m_stopping)
        return {std::string(), "cancelled"};
    const auto found = m_done.find(index);
    TPreparedPicture result = std::move(found->second);
    m_doneBytes -= static_cast<std::int64_t>(result.Jpeg.size());
    m_done.erase(found);
    m_wanted = index + 1;
    m_changed.notify_all();
    return result;
}

void TPreparationPool::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& worker : m_workers)
        if (worker.joinable())
            worker.join();
    m_workers.clear();
    std::lock_guard lock(m_mutex);
    m_done.clear();
    m_doneBytes = 0;
}
