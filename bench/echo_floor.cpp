#include "bench/echo_floor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <unordered_set>
#include <vector>

namespace quodra::bench {

namespace {

// The requests of a poll: status, values, outputs (device frames with no data).
constexpr char kRequests[3][6] = {
    {'#', 'G', 'S', 0, 0, 0}, {'#', 'G', 'V', 0, 0, 0}, {'#', 'G', 'R', 0, 0, 0}};

sockaddr_in socketAddress(const QString& address, quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.toLatin1().constData(), &a.sin_addr);
    return a;
}

QString errnoText(const char* what, const QString& address)
{
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(what), address, QString::fromLocal8Bit(std::strerror(errno)));
}

bool readExact(int fd, char* into, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, into + got, n - got, 0);
        if (r <= 0)
            return false;
        got += std::size_t(r);
    }
    return true;
}

} // namespace

struct EchoServerImpl {
    QStringList addresses;
    quint16 tcpPort = 0;
    quint16 udpPort = 0;
    int epoll = -1;
    int stopPipe[2] = {-1, -1};
    std::unordered_set<int> listeners;
    std::unordered_set<int> datagrams;
    std::thread thread;

    void run()
    {
        epoll_event events[64];
        char buffer[2048];
        for (;;) {
            const int n = epoll_wait(epoll, events, 64, -1);
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                if (fd == stopPipe[0])
                    return;
                if (listeners.count(fd)) {
                    const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
                    if (c >= 0) {
                        const int one = 1;
                        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                        epoll_event e{};
                        e.events = EPOLLIN;
                        e.data.fd = c;
                        epoll_ctl(epoll, EPOLL_CTL_ADD, c, &e);
                    }
                } else if (datagrams.count(fd)) {
                    sockaddr_in from{};
                    socklen_t len = sizeof from;
                    const ssize_t r =
                        ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
                    if (r >= 0)
                        ::sendto(fd, buffer, std::size_t(r), 0, reinterpret_cast<sockaddr*>(&from), len);
                } else {
                    const ssize_t r = ::recv(fd, buffer, sizeof buffer, 0);
                    if (r <= 0) {
                        epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
                        ::close(fd);
                    } else {
                        ::send(fd, buffer, std::size_t(r), MSG_NOSIGNAL);
                    }
                }
            }
        }
    }
};

EchoServer::EchoServer(QStringList addresses, quint16 tcpPort, quint16 udpPort)
    : m_impl(std::make_unique<EchoServerImpl>())
{
    m_impl->addresses = std::move(addresses);
    m_impl->tcpPort = tcpPort;
    m_impl->udpPort = udpPort;
}

EchoServer::~EchoServer()
{
    if (m_impl->thread.joinable()) {
        const char x = 0;
        [[maybe_unused]] const ssize_t w = ::write(m_impl->stopPipe[1], &x, 1);
        m_impl->thread.join();
    }
    for (int fd : m_impl->listeners)
        ::close(fd);
    for (int fd : m_impl->datagrams)
        ::close(fd);
    if (m_impl->epoll >= 0)
        ::close(m_impl->epoll);
    for (int fd : m_impl->stopPipe)
        if (fd >= 0)
            ::close(fd);
}

bool EchoServer::start(QString* error)
{
    EchoServerImpl& s = *m_impl;
    s.epoll = epoll_create1(EPOLL_CLOEXEC);
    if (s.epoll < 0 || ::pipe2(s.stopPipe, O_CLOEXEC) != 0) {
        *error = errnoText("epoll", QString());
        return false;
    }
    auto watch = [&](int fd) {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.fd = fd;
        epoll_ctl(s.epoll, EPOLL_CTL_ADD, fd, &e);
    };
    watch(s.stopPipe[0]);
    const int one = 1;
    for (const QString& address : s.addresses) {
        const int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = socketAddress(address, s.tcpPort);
        if (::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(l, 64) != 0) {
            *error = errnoText("echo TCP bind", address);
            ::close(l);
            return false;
        }
        s.listeners.insert(l);
        watch(l);
        const int u = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        a = socketAddress(address, s.udpPort);
        if (::bind(u, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            *error = errnoText("echo UDP bind", address);
            ::close(u);
            return false;
        }
        s.datagrams.insert(u);
        watch(u);
    }
    s.thread = std::thread([&s] { s.run(); });
    return true;
}

bool tcpFloorPass(const QStringList& addresses, quint16 port, int roundTrips, QString* error)
{
    char reply[2048];
    for (const QString& address : addresses) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const sockaddr_in a = socketAddress(address, port);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            *error = errnoText("connect", address);
            ::close(fd);
            return false;
        }
        for (int i = 0; i < roundTrips; ++i) {
            const char* request = kRequests[i % 3];
            // A reply is a frame: the 6-byte header, then the data length it announces (an echo
            // announces none).
            bool ok = ::send(fd, request, 6, MSG_NOSIGNAL) == 6 && readExact(fd, reply, 6);
            const std::size_t length = ok ? std::size_t(quint8(reply[4]) | quint8(reply[5]) << 8) : 0;
            ok = ok && length <= sizeof reply - 6 && readExact(fd, reply + 6, length);
            if (!ok) {
                *error = errnoText("exchange", address);
                ::close(fd);
                return false;
            }
        }
        ::close(fd);
    }
    return true;
}

bool udpFloorPass(const QStringList& addresses, quint16 port, int roundTrips, QString* error)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    timeval limit{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char reply[128];
    for (const QString& address : addresses) {
        const sockaddr_in a = socketAddress(address, port);
        for (int i = 0; i < roundTrips; ++i) {
            if (::sendto(fd, kRequests[i % 3], 6, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a) < 0 ||
                ::recv(fd, reply, sizeof reply, 0) < 0) {
                *error = errnoText("datagram echo", address);
                ::close(fd);
                return false;
            }
        }
    }
    ::close(fd);
    return true;
}

} // namespace quodra::bench
