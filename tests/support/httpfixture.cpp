#include "support/httpfixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tavrix::test {

namespace {

constexpr int TICK_MS = 50;
constexpr std::size_t MAX_REQUEST_BYTES = 64 * 1024;
constexpr auto REQUEST_DEADLINE = std::chrono::seconds(10);
// After the answer, how long the server waits for the client to close first (so the close is clean).
constexpr int DRAIN_TICKS = 20;
constexpr auto FIXED_PORT_WAIT = std::chrono::seconds(120);
constexpr std::size_t CHUNK_BYTES = 4000;

bool equalNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

const char* reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// On `port`, or on a free one when it is 0; port is then the one bound.
int boundSocket(uint16_t& port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        throw std::runtime_error("socket failed");
    // A fixed port may still hold the connections of the previous run that used it.
    const int reuse = 1;
    if (port != 0)
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    // Another test run on the machine may hold a fixed port for a while.
    const auto deadline = std::chrono::steady_clock::now() + FIXED_PORT_WAIT;
    int bound;
    while ((bound = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address))) != 0 && port != 0 &&
           errno == EADDRINUSE && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (bound != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(s);
        throw std::runtime_error("bind on 127.0.0.1 failed");
    }
    port = ntohs(address.sin_port);
    return s;
}

std::string chunked(const std::string& body)
{
    std::string out;
    char size[32];
    for (std::size_t at = 0; at < body.size(); at += CHUNK_BYTES) {
        const std::size_t n = std::min(CHUNK_BYTES, body.size() - at);
        std::snprintf(size, sizeof(size), "%zx\r\n", n);
        out += size;
        out.append(body, at, n);
        out += "\r\n";
    }
    return out + "0\r\n\r\n";
}

} // namespace

std::string httpRequest::header(const std::string& name) const
{
    for (const auto& [key, value] : headers)
        if (equalNoCase(key, name))
            return value;
    return "";
}

httpAnswer httpAnswer::withStatus(int status)
{
    httpAnswer how;
    how.status = status;
    return how;
}

httpAnswer httpAnswer::redirectTo(const std::string& target, int status)
{
    httpAnswer how = withStatus(status);
    how.body = "";
    how.headers.push_back("Location: " + target);
    return how;
}

httpFixture::httpFixture(std::string folder, uint16_t port)
    : root(folder.empty() ? "" : std::filesystem::absolute(folder).string()), boundPort(port)
{
    listener = boundSocket(boundPort);
    if (::listen(listener, 64) != 0) {
        ::close(listener);
        throw std::runtime_error("listen failed");
    }
    acceptor = std::thread([this] { acceptLoop(); });
}

httpFixture::~httpFixture()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    stopped.notify_all();
    acceptor.join();
    ::close(listener);
}

std::string httpFixture::url(const std::string& target) const
{
    return "http://127.0.0.1:" + std::to_string(boundPort) + target;
}

void httpFixture::put(const std::string& path, std::string bytes)
{
    std::lock_guard<std::mutex> guard(lock);
    files[path] = std::make_shared<const std::string>(std::move(bytes));
}

void httpFixture::answer(const std::string& path, httpAnswer how)
{
    std::lock_guard<std::mutex> guard(lock);
    answers[path] = std::move(how);
}

std::vector<httpRequest> httpFixture::requests() const
{
    std::lock_guard<std::mutex> guard(lock);
    return recorded;
}

void httpFixture::clearRequests()
{
    std::lock_guard<std::mutex> guard(lock);
    recorded.clear();
}

void httpFixture::acceptLoop()
{
    while (!stopping) {
        reapEnded(false);
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, TICK_MS) <= 0)
            continue;
        const int s = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0)
            continue;
        ++accepted;
        auto ended = std::make_shared<std::atomic<bool>>(false);
        connections.push_back({std::thread([this, s, ended] {
                                   serve(s);
                                   *ended = true;
                               }),
                               ended});
    }
    reapEnded(true);
}

void httpFixture::reapEnded(bool all)
{
    for (auto it = connections.begin(); it != connections.end();) {
        if (all || *it->ended) {
            it->worker.join();
            it = connections.erase(it);
        } else {
            ++it;
        }
    }
}

bool httpFixture::receiveRequest(int s, httpRequest& request)
{
    std::string raw;
    const auto deadline = std::chrono::steady_clock::now() + REQUEST_DEADLINE;
    std::size_t end;
    while ((end = raw.find("\r\n\r\n")) == std::string::npos) {
        if (stopping || raw.size() > MAX_REQUEST_BYTES || std::chrono::steady_clock::now() > deadline)
            return false;
        pollfd waiting{s, POLLIN, 0};
        if (::poll(&waiting, 1, TICK_MS) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::recv(s, buffer, sizeof(buffer), 0);
        if (n <= 0)
            return false;
        raw.append(buffer, std::size_t(n));
    }
    std::istringstream lines(raw.substr(0, end));
    std::string line;
    std::getline(lines, line);
    std::istringstream first(line);
    first >> request.method >> request.target;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::size_t value = line.find_first_not_of(" \t", colon + 1);
        request.headers.emplace_back(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
    }
    return !request.method.empty() && !request.target.empty();
}

bool httpFixture::sendAll(int s, const char* data, std::size_t length)
{
    while (length > 0) {
        if (stopping)
            return false;
        pollfd waiting{s, POLLOUT, 0};
        if (::poll(&waiting, 1, TICK_MS) <= 0)
            continue;
        const ssize_t n = ::send(s, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= std::size_t(n);
    }
    return true;
}

bool httpFixture::pause(uint32_t milliseconds)
{
    std::unique_lock<std::mutex> guard(lock);
    return !stopped.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return stopping.load(); });
}

void httpFixture::holdBack(const std::string& path)
{
    std::lock_guard<std::mutex> guard(lock);
    heldBack.insert(path);
}

void httpFixture::release(const std::string& path)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        heldBack.erase(path);
    }
    stopped.notify_all();
}

bool httpFixture::waitWhileHeld(const std::string& path)
{
    std::unique_lock<std::mutex> guard(lock);
    stopped.wait(guard, [&] { return stopping.load() || !heldBack.contains(path); });
    return !stopping;
}

bool httpFixture::sendBody(int s, const std::string& raw, const httpAnswer& how)
{
    const std::size_t limit = std::min(raw.size(), how.closeAfter);
    std::size_t at = 0;
    if (how.stallAfter) {
        at = std::min(*how.stallAfter, limit);
        if (!sendAll(s, raw.data(), at) || !pause(how.stallMs))
            return false;
    }
    if (how.trickleBytes == 0)
        return sendAll(s, raw.data() + at, limit - at);
    for (; at < limit; at += how.trickleBytes) {
        if ((at > 0 && !pause(how.trickleMs)) || !sendAll(s, raw.data() + at, std::min(how.trickleBytes, limit - at)))
            return false;
    }
    return true;
}

std::shared_ptr<const std::string> httpFixture::contentOf(const std::string& path) const
{
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto found = files.find(path);
        if (found != files.end())
            return found->second;
    }
    if (root.empty() || path.empty() || path[0] != '/' || path.find("/../") != std::string::npos ||
        path.ends_with("/.."))
        return nullptr;
    const std::filesystem::path file = root + path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return nullptr;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::make_shared<const std::string>(bytes.str());
}

bool httpFixture::answerRequest(int s, const httpRequest& request)
{
    const std::string path = request.target.substr(0, request.target.find('?'));
    std::optional<httpAnswer> given;
    {
        std::lock_guard<std::mutex> guard(lock);
        recorded.push_back(request);
        const auto found = answers.find(path);
        if (found != answers.end())
            given = found->second;
    }
    httpAnswer how = given.value_or(httpAnswer{});
    std::shared_ptr<const std::string> content;
    if (how.body)
        content = std::make_shared<const std::string>(*how.body);
    else
        content = contentOf(path);
    if (!content) {
        if (!given)
            how.status = 404;
        content = std::make_shared<const std::string>();
    }

    std::string head = "HTTP/1.1 " + std::to_string(how.status) + " " + reasonOf(how.status) + "\r\n";
    switch (how.frame) {
    case httpAnswer::EXACT_LENGTH:
        head += "Content-Length: " + std::to_string(content->size()) + "\r\n";
        break;
    case httpAnswer::GIVEN_LENGTH:
        head += "Content-Length: " + how.contentLength + "\r\n";
        break;
    case httpAnswer::CHUNKED:
        head += "Transfer-Encoding: chunked\r\n";
        break;
    case httpAnswer::NO_LENGTH:
        break;
    }
    const bool kept = keepAlive && how.frame != httpAnswer::NO_LENGTH && how.closeAfter == SIZE_MAX;
    if (!kept)
        head += "Connection: close\r\n";
    for (const std::string& line : how.headers)
        head += line + "\r\n";
    head += "\r\n";

    const bool early = how.stallMs > 0 && !how.stallAfter;
    return waitWhileHeld(path) && (!early || pause(how.stallMs)) && sendAll(s, head.data(), head.size()) &&
           sendBody(s, how.frame == httpAnswer::CHUNKED ? chunked(*content) : *content, how) && kept;
}

void httpFixture::keepConnections() { keepAlive = true; }

void httpFixture::serve(int s)
{
    for (httpRequest request; receiveRequest(s, request) && answerRequest(s, request);)
        request = httpRequest{};
    ::shutdown(s, SHUT_WR);
    for (int tick = 0; tick < DRAIN_TICKS && !stopping; ++tick) {
        pollfd waiting{s, POLLIN, 0};
        if (::poll(&waiting, 1, TICK_MS) == 0)
            continue;
        char buffer[4096];
        if (::recv(s, buffer, sizeof(buffer), 0) <= 0)
            break;
    }
    ::close(s);
}

refusingPort::refusingPort() { socket = boundSocket(boundPort); }

refusingPort::~refusingPort() { ::close(socket); }

} // namespace tavrix::test
