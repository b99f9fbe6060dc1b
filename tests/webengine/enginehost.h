#pragma once
// The host's side of the engine for tests and benchmarks: font streams over files, a client that records
// what the engine tells it, a transport handler that serves a table of addresses as the client's asset
// scheme does, and a clock the caller moves.
#include "webengine/eawebkit.h"

#include <cairo.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace tavrix::test {

inline std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline std::string narrow(const char16_t* text)
{
    std::string out;
    for (; text && *text; ++text)
        out.push_back(*text < 0x80 ? char(*text) : '?');
    return out;
}

// A read-only stream over bytes, counting references as the client's memory stream does: the last
// Release destroys it.
class bytesStream final : public eawebkit::Stream {
public:
    struct counters {
        int addRefs = 0;
        int releases = 0;
        int destroyed = 0;
    };

    bytesStream(std::string bytes, counters& count) : bytes(std::move(bytes)), count(count) {}
    ~bytesStream() override { ++count.destroyed; }

    int32_t AddRef() override
    {
        ++count.addRefs;
        return ++refCount;
    }
    int32_t Release() override
    {
        ++count.releases;
        if (refCount < 2) {
            delete this;
            return 0;
        }
        return --refCount;
    }
    uint32_t GetType() override { return 0; }
    int32_t GetAccessFlags() override { return eawebkit::kAccessRead; }
    int32_t GetState() override { return 0; }
    bool Close() override { return false; }
    uint64_t GetSize() override { return bytes.size(); }
    bool SetSize(uint64_t) override { return false; }
    int64_t GetPosition(int32_t kind) override
    {
        return kind == eawebkit::kPositionBegin ? int64_t(position)
               : kind == eawebkit::kPositionEnd ? int64_t(position) - int64_t(bytes.size())
                                                : 0;
    }
    bool SetPosition(int64_t offset, int32_t kind) override
    {
        int64_t target = kind == eawebkit::kPositionBegin ? offset
                         : kind == eawebkit::kPositionCurrent ? int64_t(position) + offset
                                                              : int64_t(bytes.size()) + offset;
        if (target < 0 || target > int64_t(bytes.size()))
            return false;
        position = size_t(target);
        return true;
    }
    uint64_t GetAvailable() override { return bytes.size() - position; }
    uint64_t Read(void* buffer, uint64_t n) override
    {
        uint64_t count = std::min<uint64_t>(n, bytes.size() - position);
        std::copy_n(bytes.data() + position, count, static_cast<char*>(buffer));
        position += size_t(count);
        return count;
    }
    bool Flush() override { return true; }
    bool Write(const void*, uint64_t) override { return false; }

private:
    std::string bytes;
    counters& count;
    int32_t refCount = 0;
    size_t position = 0;
};

// What the engine told the host.
class recordingClient final : public eawebkit::Client {
public:
    struct load {
        int32_t event;
        std::string uri;
        int32_t number;
        uint32_t code;
        void* userData;
    };

    void LoadUpdate(eawebkit::LoadInfo& info) override
    {
        loads.push_back({info.event, narrow(info.uri), info.number, info.code, info.userData});
    }
    void DebugLog(eawebkit::DebugLogInfo& info) override { warnings.push_back(info.text); }
    void NetworkError(eawebkit::NetworkErrorInfo&) override { ++networkErrors; }
    void ViewUpdate(eawebkit::ViewUpdateInfo& info) override
    {
        if (info.phase == eawebkit::kViewUpdateRepaint)
            ++repaints;
    }

    std::vector<load> loads;
    std::vector<std::string> warnings;
    int networkErrors = 0;
    int repaints = 0;
};

// Serves addresses from a table. A file is handed over at the first Transfer, or after a number of
// pending Transfers; a missing one is answered with 404, as the asset scheme does.
class tableHandler final : public eawebkit::TransportHandler {
public:
    struct file {
        std::string data;
        int pendingTransfers = 0;
        bool never = false; // stays pending for ever
    };

    std::map<std::string, file> files;
    std::vector<std::string> calls; // "<operation> <url>"
    int liveJobs = 0;
    bool initJobsDone = true; // false: InitJob takes the job but leaves `done` unset
    std::function<void(const std::string& url)> onTransfer; // called at every Transfer

    bool Init(const char16_t* scheme) override
    {
        calls.push_back("Init " + narrow(scheme));
        return true;
    }
    bool Shutdown(const char16_t* scheme) override
    {
        calls.push_back("Shutdown " + narrow(scheme));
        return true;
    }
    bool InitJob(eawebkit::TransportInfo* info, bool& done) override
    {
        calls.push_back("InitJob " + narrow(info->effectiveURL));
        info->handlerData = new job{narrow(info->effectiveURL), 0};
        ++liveJobs;
        done = initJobsDone;
        return true;
    }
    bool Connect(eawebkit::TransportInfo* info, bool& done) override
    {
        done = true;
        return info->requestType == eawebkit::kRequestGet;
    }
    bool Transfer(eawebkit::TransportInfo* info, bool& done) override
    {
        auto* j = static_cast<job*>(info->handlerData);
        if (onTransfer)
            onTransfer(j->url);
        auto found = files.find(j->url);
        info->status = 404;
        if (found == files.end()) {
            done = true;
            info->server->DataDone(info, false);
            return false;
        }
        if (found->second.never || j->transfers++ < found->second.pendingTransfers)
            return false;
        const std::string& data = found->second.data;
        info->server->SetExpectedLength(info, int64_t(data.size()));
        info->server->DataReceived(info, data.data(), int64_t(data.size()));
        done = true;
        bool result = !data.empty();
        info->status = result ? 200 : 404;
        info->server->DataDone(info, result);
        return result;
    }
    bool Disconnect(eawebkit::TransportInfo*, bool& done) override
    {
        done = true;
        return true;
    }
    bool ShutdownJob(eawebkit::TransportInfo* info, bool& done) override
    {
        auto* j = static_cast<job*>(info->handlerData);
        calls.push_back("ShutdownJob " + (j ? j->url : std::string("-")));
        liveJobs -= j != nullptr;
        delete j;
        info->handlerData = nullptr;
        done = true;
        return true;
    }
    bool ManagesTimeOut() override { return false; }
    bool CanCacheToDisk() override { return false; }
    bool IsLocal() override { return true; }

    // The calls of one operation, in order.
    std::vector<std::string> callsOf(const std::string& operation) const
    {
        std::vector<std::string> out;
        for (const std::string& call : calls)
            if (call.starts_with(operation + " "))
                out.push_back(call.substr(operation.size() + 1));
        return out;
    }

private:
    struct job {
        std::string url;
        int transfers;
    };
};

// The time source handed to the engine: the test sets the time, the engine's calls are counted.
inline double fakeTime = 100.0;
inline int fakeTimeCalls = 0;
inline double fakeClock()
{
    ++fakeTimeCalls;
    return fakeTime;
}

inline const char* const kFontDir = "/usr/share/fonts/truetype/liberation/";
inline const char* const kFamilies[] = {"LiberationMono", "LiberationSerif", "LiberationSans"};
inline const char* const kStyles[] = {"Regular", "Italic", "Bold", "BoldItalic"};

inline void setFamily(char16_t (&slot)[eawebkit::kFontFamilyNameChars], std::u16string_view name)
{
    std::fill(std::begin(slot), std::end(slot), u'\0');
    std::copy(name.begin(), name.end(), slot);
}

using BGRA = std::array<uint8_t, 4>;

// A PNG file of one colour.
inline std::string solidPng(int width, int height, double red, double green, double blue)
{
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(image);
    cairo_set_source_rgb(cr, red, green, blue);
    cairo_paint(cr);
    cairo_destroy(cr);
    std::string png;
    cairo_surface_write_to_png_stream(
        image,
        [](void* closure, const unsigned char* data, unsigned int length) {
            static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    cairo_surface_destroy(image);
    return png;
}

inline std::string base64(const std::string& bytes)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size())
            n |= uint8_t(bytes[i + 2]);
        out.push_back(kDigits[n >> 18]);
        out.push_back(kDigits[(n >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=');
        out.push_back(i + 2 < bytes.size() ? kDigits[n & 63] : '=');
    }
    return out;
}

inline std::string dataPng(int width, int height, double red, double green, double blue)
{
    return "data:image/png;base64," + base64(solidPng(width, height, red, green, blue));
}

inline bool addFontFile(eawebkit::Instance& engine, const std::string& path, bytesStream::counters& count)
{
    return engine.GetTextSystem()->AddFace(new bytesStream(readWholeFile(path), count));
}

// The family slots as the client sets them.
inline void setClientFamilies(eawebkit::Instance& engine)
{
    eawebkit::Parameters& parameters = engine.GetParameters();
    for (uint32_t slot = 0; slot < eawebkit::kFontSlotCount; ++slot)
        setFamily(parameters.fontFamilies[slot], slot == eawebkit::kFontMonospace ? u"Liberation Mono" : u"Liberation Sans");
    parameters.pluginsEnabled = false;
    engine.SetParameters(parameters);
}

inline void addClientFaces(eawebkit::Instance& engine, bytesStream::counters& count)
{
    for (const char* family : kFamilies)
        for (const char* style : kStyles)
            addFontFile(engine, std::string(kFontDir) + family + "-" + style + ".ttf", count);
}

// The twelve faces and the family slots as the client sets them.
inline void addClientFonts(eawebkit::Instance& engine, bytesStream::counters& count)
{
    addClientFaces(engine, count);
    setClientFamilies(engine);
}

// The view parameters the client passes.
inline eawebkit::ViewParameters clientViewParameters(void* userData, int32_t width, int32_t height)
{
    return {0, 0, userData, 0, width, height, 0xFFFFFFFFu, 512, true, true, true, true, false};
}

// A status text as the loading screen sets it: the markup with every byte escaped.
inline std::string statusStatement(const std::string& markup)
{
    std::string script = "document.getElementById('status').innerHTML = \"";
    char escape[8];
    for (unsigned char c : markup) {
        std::snprintf(escape, sizeof escape, "\\x%02x", c);
        script += escape;
    }
    return script + "\";";
}

} // namespace tavrix::test
