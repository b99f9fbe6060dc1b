#pragma once
// The statements the client hands its pages, recognised exactly; the engine runs no other script.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace eawebkit::engine {

struct pageStatement {
    enum class kind { progressWidth, statusMarkup, title };
    kind what;
    uint32_t percent = 0; // progressWidth
    std::string text;     // statusMarkup, title: UTF-8, one character U+00HH for each \xHH
};

// One of
//   document.getElementById('progress').style.width ='N%';
//   document.getElementById('status').innerHTML = "\xHH...";
//   document.title = "\xHH...";
// or nothing for anything else.
std::optional<pageStatement> parsePageStatement(std::string_view script);

} // namespace eawebkit::engine
