#include "app/convert/LatestJob.h"

#include <sys/resource.h>
#include <unistd.h>

TLatestJobWorker::~TLatestJobWorker()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_pending = nullptr;
        if (m_running)
            m_running->store(true);
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TLatestJobWorker::Post(TJob job)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = std::move(job);
        if (m_running)
            m_running->store(true);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Loop(); });
    }
    m_wake.notify_all();
}

void TLatestJobWorker::Cancel()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_pending = nullptr;
    if (m_running)
        m_running->store(true);
}

void TLatestJobWorker::Stop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_pending = nullptr;
    if (m_running)
        m_running->store(true);
    m_idle.wait(lock, [this] { return !m_running && !m_pending; });
}

bool TLatestJobWorker::Busy() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_running != nullptr || m_pending != nullptr;
}

void TLatestJobWorker::Loop()
{
    // On Linux a thread has a nice value of its own; failing to lower it costs nothing.
    if (m_background)
        (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;)
    {
        m_wake.wait(lock, [this] { return m_quit || m_pending != nullptr; });
        if (m_quit)
            return;
        TJob job = std::move(m_pending);
        m_pending = nullptr;
        auto cancelled = std::make_shared<std::atomic<bool>>(false);
        m_running = cancelled;
        lock.unlock();
        try
        {
            job(*cancelled);
        }
        catch (...)
        {
            // A job reports its own failures; one that escapes must not end the program.
        }
        job = nullptr; // what the job captured goes before the worker reports idle
        lock.lock();
        m_running = nullptr;
        if (!m_pending)
            m_idle.notify_all();
    }
}
