#pragma once
// One fetch through the host's transport handler: InitJob, Connect, Transfer until done, Disconnect,
// ShutdownJob. Every handler call returns at once; advance() runs the steps as far as they go.
#include "webengine/eawebkit.h"

#include <string>
#include <string_view>

namespace eawebkit::engine {

class transferJob final : public TransportServer {
public:
    static constexpr double kTimeOutSeconds = 15.0;
    static constexpr int64_t kMaxBytes = int64_t(64) << 20;

    // `clock` is called for the start (not at all when the handler bounds its jobs itself).
    transferJob(TransportHandler& handler, std::u16string_view url, std::u16string_view scheme, TimeSource clock);
    // A job still open is ended with ShutdownJob (no Disconnect): the fetch is cancelled.
    ~transferJob();
    transferJob(const transferJob&) = delete;
    transferJob& operator=(const transferJob&) = delete;

    // InitJob is called once (one not done puts Connect off to the next call); Connect and Transfer are
    // repeated on later calls until the handler reports them done; Disconnect and ShutdownJob once. A job
    // the handler has not finished times out once `now` (the cycle's time, read before any of its work, on
    // the same clock) is 15 s past its start: what the engine does with other jobs' data in the same cycle
    // is not transfer time.
    void advance(double now);
    bool finished() const { return at == step::ended; }
    bool succeeded() const { return finished() && failure == kLoadErrorNone; }
    int32_t status() const { return info.status; }
    LoadError error() const { return failure; }
    std::string takeData() { return std::move(data); }

    void SetExpectedLength(TransportInfo* job, int64_t length) override;
    void DataReceived(TransportInfo* job, const void* bytes, int64_t length) override;
    void DataDone(TransportInfo* job, bool success) override;

private:
    enum class step { initJob, connect, transfer, disconnect, ended };

    bool timedOut(double now) const;
    void runSteps();
    void transferDone();
    void end(LoadError why);
    bool ours(const TransportInfo* job) const { return job == &info && at != step::ended; }

    TransportHandler& handler;
    TransportInfo info{};
    TimeSource clock;
    bool boundedByEngine;
    double startedAt = 0;
    step at = step::initJob;
    bool open = false; // InitJob succeeded and ShutdownJob has not been called
    bool dataDone = false;
    bool dataGood = false;
    bool overflow = false;
    LoadError failure = kLoadErrorNone;
    std::string data;
};

} // namespace eawebkit::engine
