#pragma once
// A real HTTP/1.1 server on 127.0.0.1 inside the test process. It serves a folder and bytes put in memory,
// records every request in order, and can be told per path to misbehave.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tavrix::test {

struct httpRequest {
    std::string method;
    std::string target; // as sent: the path and any query
    std::vector<std::pair<std::string, std::string>> headers;
    // The first header of that name, compared without case; empty when absent.
    std::string header(const std::string& name) const;
};

// How one path is answered. The defaults give 200 with the path's bytes and their exact Content-Length.
struct httpAnswer {
    enum framing { EXACT_LENGTH, NO_LENGTH, CHUNKED, GIVEN_LENGTH };

    int status = 200;
    framing frame = EXACT_LENGTH;
    // Sent as the Content-Length text with GIVEN_LENGTH, whatever the body's size.
    std::string contentLength;
    // Served in place of the path's own bytes (which need not exist).
    std::optional<std::string> body;
    // Extra header lines, without their CR LF ("Location: /b").
    std::vector<std::string> headers;
    // The connection is closed after this many bytes behind the headers.
    std::size_t closeAfter = SIZE_MAX;
    // Nothing is sent for this long, before the status line or, when stallAfter is set, after that many
    // bytes behind the headers. Cut short when the server stops.
    uint32_t stallMs = 0;
    std::optional<std::size_t> stallAfter;
    // With trickleBytes set, the body (what follows a stall) goes out in pieces of that many bytes,
    // trickleMs apart.
    std::size_t trickleBytes = 0;
    uint32_t trickleMs = 0;

    static httpAnswer withStatus(int status);
    static httpAnswer redirectTo(const std::string& target, int status = 302);
};

class httpFixture {
public:
    // Serves the files below `folder` (nothing when empty) besides what put() adds, on `port` or, when it
    // is 0, on a free one.
    explicit httpFixture(std::string folder = "", uint16_t port = 0);
    ~httpFixture();
    httpFixture(const httpFixture&) = delete;
    httpFixture& operator=(const httpFixture&) = delete;

    uint16_t port() const { return boundPort; }
    // "http://127.0.0.1:<port>" followed by the target, which starts with '/'.
    std::string url(const std::string& target) const;

    void put(const std::string& path, std::string bytes);
    void answer(const std::string& path, httpAnswer how);
    // Requests for the path get nothing, not even the status line, until it is released (or the server
    // stops); then they are answered as usual.
    void holdBack(const std::string& path);
    void release(const std::string& path);
    std::vector<httpRequest> requests() const;
    void clearRequests();
    // From now on a connection stays open after a whole answer, for the client's next request; by default
    // each answer closes it.
    void keepConnections();
    // Connections accepted so far.
    std::size_t acceptedConnections() const { return accepted.load(); }

private:
    struct connection {
        std::thread worker;
        std::shared_ptr<std::atomic<bool>> ended;
    };

    void acceptLoop();
    void serve(int socket);
    // False when the connection is to be closed after the answer.
    bool answerRequest(int socket, const httpRequest& request);
    bool receiveRequest(int socket, httpRequest& request);
    bool sendAll(int socket, const char* data, std::size_t length);
    bool sendBody(int socket, const std::string& raw, const httpAnswer& how);
    // False when the server stopped during the pause.
    bool pause(uint32_t milliseconds);
    // False when the server stopped while the path was held back.
    bool waitWhileHeld(const std::string& path);
    std::shared_ptr<const std::string> contentOf(const std::string& path) const;
    void reapEnded(bool all);

    std::string root;
    int listener = -1;
    uint16_t boundPort = 0;
    std::atomic<bool> stopping{false};
    std::atomic<bool> keepAlive{false};
    std::atomic<std::size_t> accepted{0};
    mutable std::mutex lock;
    // Told when the server stops and when a held path is released.
    std::condition_variable stopped;
    std::map<std::string, std::shared_ptr<const std::string>> files;
    std::map<std::string, httpAnswer> answers;
    std::set<std::string> heldBack;
    std::vector<httpRequest> recorded;
    std::vector<connection> connections;
    std::thread acceptor;
};

// A port on 127.0.0.1 that is bound but not listening, so connections to it are refused, for as long as
// the object lives.
class refusingPort {
public:
    refusingPort();
    ~refusingPort();
    refusingPort(const refusingPort&) = delete;
    refusingPort& operator=(const refusingPort&) = delete;
    uint16_t port() const { return boundPort; }

private:
    int socket = -1;
    uint16_t boundPort = 0;
};

} // namespace tavrix::test
