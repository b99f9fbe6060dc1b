#include "webengine/transferjob.h"

#include <algorithm>

namespace eawebkit::engine {
namespace {

template <size_t N>
bool copyText(char16_t (&to)[N], std::u16string_view text)
{
    if (text.size() >= N)
        return false;
    std::copy(text.begin(), text.end(), to);
    to[text.size()] = 0;
    return true;
}

} // namespace

transferJob::transferJob(TransportHandler& handler, std::u16string_view url, std::u16string_view scheme,
                         TimeSource clock)
    : handler(handler), clock(clock), boundedByEngine(!handler.ManagesTimeOut())
{
    info.requestType = kRequestGet;
    info.server = this;
    if (!copyText(info.effectiveURL, url) || !copyText(info.scheme, scheme)) {
        at = step::ended;
        failure = kLoadErrorURITooLong;
        return;
    }
    if (boundedByEngine)
        startedAt = clock();
}

transferJob::~transferJob()
{
    if (open) {
        bool done = false;
        handler.ShutdownJob(&info, done);
    }
}

bool transferJob::timedOut(double now) const
{
    return boundedByEngine && now - startedAt >= kTimeOutSeconds;
}

void transferJob::advance(double now)
{
    runSteps();
    if (at != step::ended && timedOut(now))
        end(kLoadErrorTimeOut);
}

void transferJob::runSteps()
{
    while (at != step::ended) {
        bool done = false;
        switch (at) {
        case step::initJob:
            // Called once: the handler takes its job here, a second call would take another.
            if (!handler.InitJob(&info, done)) {
                at = step::ended;
                failure = kLoadErrorRefused;
                return;
            }
            open = true;
            at = step::connect;
            if (!done)
                return;
            break;
        case step::connect:
            if (!handler.Connect(&info, done)) {
                end(kLoadErrorRefused);
                return;
            }
            if (!done)
                return;
            at = step::transfer;
            break;
        case step::transfer:
            // What a Transfer that is not done answers (and the status it leaves) does not count.
            handler.Transfer(&info, done);
            if (!done)
                return;
            transferDone();
            break;
        case step::disconnect:
            handler.Disconnect(&info, done);
            end(failure);
            break;
        case step::ended:
            break;
        }
    }
}

void transferJob::transferDone()
{
    at = step::disconnect;
    if (overflow)
        failure = kLoadErrorTooLarge;
    else if (info.status != 200 || (dataDone && !dataGood))
        failure = kLoadErrorTransfer;
}

void transferJob::end(LoadError why)
{
    failure = why;
    at = step::ended;
    if (open) {
        open = false;
        bool done = false;
        handler.ShutdownJob(&info, done);
    }
    if (failure != kLoadErrorNone)
        data.clear();
}

void transferJob::SetExpectedLength(TransportInfo* job, int64_t length)
{
    if (ours(job) && length > 0)
        data.reserve(size_t(std::min(length, kMaxBytes)));
}

void transferJob::DataReceived(TransportInfo* job, const void* bytes, int64_t length)
{
    if (!ours(job) || length <= 0 || !bytes || overflow)
        return;
    if (length > kMaxBytes - int64_t(data.size())) {
        overflow = true;
        data.clear();
        return;
    }
    data.append(static_cast<const char*>(bytes), size_t(length));
}

void transferJob::DataDone(TransportInfo* job, bool success)
{
    if (!ours(job))
        return;
    dataDone = true;
    dataGood = success;
}

} // namespace eawebkit::engine
