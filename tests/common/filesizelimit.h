#pragma once

#include <csignal>
#include <sys/resource.h>

namespace nx7::test {

// While it lives, files of this process cannot grow past `bytes`: writes fail the way
// they do on a full disk (the signal the system would send is ignored).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_ok = ::getrlimit(RLIMIT_FSIZE, &m_previous) == 0;
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_previous;
        limited.rlim_cur = bytes;
        m_ok = m_ok && ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool ok() const { return m_ok; }

private:
    rlimit m_previous{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};

} // namespace nx7::test
