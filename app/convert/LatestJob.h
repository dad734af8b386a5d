#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Work in the background of a window, where only the latest request matters (the preview of the
// entry just selected, the size estimate of the list as it is now): one job runs at a time on
// the worker's own thread; a new request replaces one still waiting and tells the running one
// to stop. A job reads its flag between steps; what it delivers it hands on itself.
class TLatestJobWorker
{
public:
    using TJob = std::function<void(const std::atomic<bool>& cancelled)>;

    // A background worker runs at a lower scheduling priority than the rest of the program,
    // so what it works out never slows what the user waits for.
    explicit TLatestJobWorker(bool background = false) : m_background(background) {}
    // Cancels what runs and waits for it.
    ~TLatestJobWorker();
    TLatestJobWorker(const TLatestJobWorker&) = delete;
    TLatestJobWorker& operator=(const TLatestJobWorker&) = delete;

    void Post(TJob job);
    // Drops the waiting job and tells the running one to stop; does not wait.
    void Cancel();
    // Cancel, then wait until no job runs. The worker takes new jobs afterwards.
    void Stop();
    // True while a job waits or runs.
    bool Busy() const;

private:
    void Loop();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    TJob m_pending;
    std::shared_ptr<std::atomic<bool>> m_running; // the running job's flag, null when idle
    bool m_quit = false;
    bool m_background = false;
    std::thread m_thread; // started with the first job
};
