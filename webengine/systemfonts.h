#pragma once
// The faces installed on the machine, as fontconfig lists them. The text system draws a family with them
// while the host has added no face of it, as a browser falls back to the system's fonts.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace eawebkit::engine {

class installedFonts {
public:
    // The machine's faces beyond this many are not looked at.
    static constexpr size_t kMaxFaces = 4096;

    struct installedFace {
        std::string path;
        int index = 0; // of the face within its file
        bool bold = false;
        bool italic = false;
        int weight = 0; // as fontconfig grades them
        int width = 0;
    };

    // The installed face of a family (compared as the text system compares family names) that comes
    // closest to the style; null when the machine has none of that family. The machine's list is read at
    // the first call.
    const installedFace* find(std::string_view family, bool bold, bool italic);

private:
    void list();

    bool listed = false;
    std::map<std::string, std::vector<installedFace>, std::less<>> families;
};

} // namespace eawebkit::engine
