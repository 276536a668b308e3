#pragma once
// Makes every write of this process that would grow a file past `bytes` fail (EFBIG) while the
// object lives: a real way to make a save fail half way, which works even for the superuser.

#include <csignal>
#include <sys/resource.h>

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_handler = std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of killing the process
        struct rlimit small = m_old;
        small.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return m_active; }

private:
    struct rlimit m_old {};
    void (*m_handler)(int) = nullptr;
    bool m_active = false;
};
