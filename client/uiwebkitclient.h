#pragma once
// The engine's notifications (loads, debug text, network errors, view updates) as log lines and window
// state. Called on the UI Worker.
#include "platformlib/allocator/roalloc.h"
#include "webengine/eawebkit.h"

namespace tavrix {

class uiWebKitClient : public wkClientBase, public roAlloc {
public:
    uiWebKitClient() = default;
    ~uiWebKitClient() override = default;

    void LoadUpdate(eawebkit::LoadInfo& info) override;
    void DebugLog(eawebkit::DebugLogInfo& info) override;
    void NetworkError(eawebkit::NetworkErrorInfo& info) override;
    void ViewUpdate(eawebkit::ViewUpdateInfo& info) override;
};

} // namespace tavrix
