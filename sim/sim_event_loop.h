#pragma once
// The simulator's event loop: one epoll instance on a thread of its own, with handlers for file
// descriptors, one-shot timers and functions handed over from other threads (woken by an eventfd).
// Each wake-up costs time in proportion to the descriptors that are ready, not to the number
// watched, so a fleet of hundreds of devices answers as fast as one.
//
// watch, setEvents, unwatch and addTimer belong to the loop's thread (or to the owner before
// start and after stop); call runs a function there from any thread.

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace quodra::sim {

class SimEventLoop {
public:
    using Handler = std::function<void(std::uint32_t events)>; // epoll event bits

    SimEventLoop();
    ~SimEventLoop(); // stops the thread; descriptors stay open (their owner closes them)
    SimEventLoop(const SimEventLoop&) = delete;
    SimEventLoop& operator=(const SimEventLoop&) = delete;

    // False when epoll or the eventfd could not be created; *error says why.
    bool isValid(QString* error = nullptr) const;

    // Starts the thread running the loop; stop ends it and drops every timer not yet due.
    void start();
    void stop();

    // Watches fd for the epoll events; returns a token for setEvents/unwatch, 0 on failure
    // (errno is set).
    std::uint64_t watch(int fd, std::uint32_t events, Handler handler);
    void setEvents(std::uint64_t token, std::uint32_t events);
    // Stops watching (before the descriptor is closed); safe from within any handler.
    void unwatch(std::uint64_t token);
    // Runs fn once, delayMs from now.
    void addTimer(int delayMs, std::function<void()> fn);

    // Runs fn on the loop's thread and returns when it has run (directly when called there or
    // while the loop is not running).
    void call(const std::function<void()>& fn);

private:
    using Clock = std::chrono::steady_clock;
    struct Watch {
        int fd = -1;
        Handler handler;
    };

    void run();
    void runPosted();
    int timeoutMs() const;

    int m_epoll = -1;
    int m_wake = -1; // eventfd
    QString m_error;
    std::thread m_thread;
    std::uint64_t m_nextToken = 1; // 0 is the eventfd
    std::unordered_map<std::uint64_t, Watch> m_watches;
    std::vector<Handler> m_retired; // handlers unwatched during dispatch, dropped after it
    std::multimap<Clock::time_point, std::function<void()>> m_timers;

    std::mutex m_mutex; // guards the fields below
    std::condition_variable m_done;
    std::vector<std::function<void()>> m_posted;
    bool m_running = false;
    bool m_quit = false;
};

} // namespace quodra::sim
