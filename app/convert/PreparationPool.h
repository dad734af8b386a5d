#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// Pictures of a list made ready (read, decoded, encoded as JPEG) on worker threads ahead of
// the run that prints them, which takes them strictly in list order. What is held stays
// bounded: workers start an entry only while few enough prepared ones wait, in count and in
// bytes, and preparing is admitted against a memory budget, so two huge pictures are not
// decoded at once (a picture larger than the whole budget is prepared alone).

struct TPreparedPicture
{
    std::string Jpeg;    // the complete JPEG file, empty when preparing failed
    std::string Failure; // why it failed
};

struct TPreparationLimits
{
    int Workers = 2;
    int Ahead = 4;                           // prepared entries waiting, at most
    std::int64_t AheadBytes = 32LL << 20;    // and their JPEG bytes
    std::int64_t MemoryBudget = 128LL << 20; // estimated bytes being prepared at once
};

class TPreparationPool
{
public:
    // Prepares entry index; may throw (the entry then fails with the exception's text).
    using TPrepare = std::function<TPreparedPicture(int index)>;
    // What preparing entry index will hold at its peak, in bytes; 0 when unknown, which is
    // taken as the whole budget.
    using TEstimate = std::function<std::int64_t(int index)>;

    // Starts the workers on entries 0 .. count - 1. The functions are called on the workers,
    // several at once.
    TPreparationPool(int count, const TPreparationLimits& limits, TEstimate estimate,
                     TPrepare prepare);
    // Stop().
    ~TPreparationPool();
    TPreparationPool(const TPreparationPool&) = delete;
    TPreparationPool& operator=(const TPreparationPool&) = delete;

    // The prepared entry, waiting for it if need be. Indices must rise from call to call;
    // entries passed over are discarded, and work ahead of index continues.
    TPreparedPicture Take(int index);

    // No entry is started any more; waits for the workers to finish the ones they hold, and
    // discards every result. The run's cancel: what was done ahead is thrown away.
    void Stop();

private:
    void Work();
    // Entry index may be started now (lock held).
    bool MayStart(int index) const;
    // Entry index, needing the bytes, may be prepared now (lock held): entries are admitted
    // in list order, within the budget or alone.
    bool MayPrepare(int index, std::int64_t bytes) const;

    const int m_count;
    const TPreparationLimits m_limits;
    const TEstimate m_estimate;
    const TPrepare m_prepare;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    int m_next = 0;                         // the next entry to start
    int m_wanted = 0;                       // the entry the run waits for or takes next
    std::map<int, TPreparedPicture> m_done; // prepared, not yet taken
    std::int64_t m_doneBytes = 0;
    std::set<int> m_admitting;    // started, waiting for the budget
    std::int64_t m_preparing = 0; // estimated bytes being prepared
    int m_busy = 0;               // entries being prepared
    std::vector<std::thread> m_workers;
};
