// A loopback link with a round trip of its own: listens on a free port of
// 127.0.0.1 and forwards every connection to 127.0.0.1:TO, delaying the bytes
// in each direction by half the round trip (as a network does: what is sent
// together stays together, and what follows it is not held up behind it
// longer than the delay). Prints the port it listens on, then serves until
// it is killed.
//   link_proxy --to PORT --round-trip-ms MS
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    std::string bytes;  // empty: the sender closed its side
};

// One direction of a connection: a reader takes what arrives and stamps it,
// a writer passes it on once it is due.
class Direction {
  public:
    Direction(int from, int to, Clock::duration delay) : from_(from), to_(to), delay_(delay) {}

    void Run() {
        std::thread writer([this] { Write(); });
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::recv(from_, buffer, sizeof buffer, 0);
            Push(got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string());
            if (got <= 0)
                break;
        }
        writer.join();
    }

  private:
    void Push(std::string bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({Clock::now() + delay_, std::move(bytes)});
        ready_.notify_one();
    }

    void Write() {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !queue_.empty(); });
                chunk = std::move(queue_.front());
                queue_.pop_front();
            }
            std::this_thread::sleep_until(chunk.due);
            if (chunk.bytes.empty()) {
                ::shutdown(to_, SHUT_WR);
                return;
            }
            const char* p = chunk.bytes.data();
            std::size_t left = chunk.bytes.size();
            while (left > 0) {
                const ssize_t sent = ::send(to_, p, left, MSG_NOSIGNAL);
                if (sent <= 0)
                    return;
                p += sent;
                left -= static_cast<std::size_t>(sent);
            }
        }
    }

    int from_, to_;
    Clock::duration delay_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Chunk> queue_;
};

void NoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void Serve(int client, int to_port, Clock::duration delay) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(to_port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(client);
        ::close(server);
        return;
    }
    NoDelay(client);
    NoDelay(server);
    Direction up(client, server, delay), down(server, client, delay);
    std::thread back([&down] { down.Run(); });
    up.Run();
    back.join();
    ::close(client);
    ::close(server);
}

}  // namespace

int main(int argc, char** argv) {
    int to_port = 0;
    double round_trip_ms = 1.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--to") == 0)
            to_port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--round-trip-ms") == 0)
            round_trip_ms = std::atof(argv[i + 1]);
    }
    if (to_port <= 0) {
        std::fprintf(stderr, "usage: link_proxy --to PORT --round-trip-ms MS\n");
        return 2;
    }
    const auto delay = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(round_trip_ms / 2));
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("link_proxy");
        return 2;
    }
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0)
            continue;
        std::thread(Serve, client, to_port, delay).detach();
    }
}
