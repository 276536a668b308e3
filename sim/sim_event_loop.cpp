#include "sim/sim_event_loop.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace quodra::sim {

SimEventLoop::SimEventLoop()
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        m_error = QStringLiteral("epoll: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = 0;
    if (m_wake < 0 || ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &e) != 0)
        m_error = QStringLiteral("eventfd: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
}

SimEventLoop::~SimEventLoop()
{
    stop();
    if (m_wake >= 0)
        ::close(m_wake);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool SimEventLoop::isValid(QString* error) const
{
    if (error)
        *error = m_error;
    return m_error.isEmpty();
}

void SimEventLoop::start()
{
    if (m_thread.joinable())
        return;
    std::lock_guard lock(m_mutex);
    m_quit = false;
    m_thread = std::thread([this] {
        ::pthread_setname_np(::pthread_self(), "quodra-sim");
        run();
    });
    m_running = true;
}

void SimEventLoop::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
    m_thread.join();
    m_timers.clear();
}

std::uint64_t SimEventLoop::watch(int fd, std::uint32_t events, Handler handler)
{
    const std::uint64_t token = m_nextToken++;
    epoll_event e{};
    e.events = events;
    e.data.u64 = token;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &e) != 0)
        return 0;
    m_watches.emplace(token, Watch{fd, std::move(handler)});
    return token;
}

void SimEventLoop::setEvents(std::uint64_t token, std::uint32_t events)
{
    const auto it = m_watches.find(token);
    if (it == m_watches.end())
        return;
    epoll_event e{};
    e.events = events;
    e.data.u64 = token;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, it->second.fd, &e);
}

void SimEventLoop::unwatch(std::uint64_t token)
{
    const auto it = m_watches.find(token);
    if (it == m_watches.end())
        return;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, it->second.fd, nullptr);
    // The handler may be the one running now: it is destroyed after the dispatch.
    m_retired.push_back(std::move(it->second.handler));
    m_watches.erase(it);
}

void SimEventLoop::addTimer(int delayMs, std::function<void()> fn)
{
    m_timers.emplace(Clock::now() + std::chrono::milliseconds(std::max(0, delayMs)), std::move(fn));
}

void SimEventLoop::call(const std::function<void()>& fn)
{
    std::unique_lock lock(m_mutex);
    if (!m_running || std::this_thread::get_id() == m_thread.get_id()) {
        lock.unlock();
        fn();
        return;
    }
    bool done = false;
    m_posted.push_back([&] {
        fn();
        std::lock_guard doneLock(m_mutex);
        done = true;
        m_done.notify_all();
    });
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
    m_done.wait(lock, [&] { return done; });
}

void SimEventLoop::runPosted()
{
    std::vector<std::function<void()>> posted;
    {
        std::lock_guard lock(m_mutex);
        posted.swap(m_posted);
    }
    for (const auto& fn : posted)
        fn();
}

int SimEventLoop::timeoutMs() const
{
    if (m_timers.empty())
        return -1;
    const auto left = m_timers.begin()->first - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    // Rounded up: waking early would only spin until the deadline.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return int(std::min<decltype(ms)>(ms, INT_MAX));
}

void SimEventLoop::run()
{
    constexpr int kBatch = 64;
    epoll_event events[kBatch];
    for (;;) {
        const int n = ::epoll_wait(m_epoll, events, kBatch, timeoutMs());
        for (int i = 0; i < n; ++i) {
            const std::uint64_t token = events[i].data.u64;
            if (token == 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t r = ::read(m_wake, &count, sizeof count);
                runPosted();
                continue;
            }
            // A handler earlier in this batch may have unwatched this one.
            const auto it = m_watches.find(token);
            if (it != m_watches.end())
                it->second.handler(events[i].events);
        }
        m_retired.clear();
        while (!m_timers.empty() && m_timers.begin()->first <= Clock::now()) {
            std::function<void()> fn = std::move(m_timers.begin()->second);
            m_timers.erase(m_timers.begin());
            fn();
        }
        m_retired.clear();
        std::lock_guard lock(m_mutex);
        if (m_quit)
            break;
    }
    // Release every caller that posted while the loop was ending; only then may callers run
    // their functions directly.
    for (;;) {
        runPosted();
        std::lock_guard lock(m_mutex);
        if (m_posted.empty()) {
            m_running = false;
            return;
        }
    }
}

} // namespace quodra::sim
