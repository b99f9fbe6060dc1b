#pragma once
// The pages built into the program, served as file://embedded/<name>.
#include <cstdint>

namespace tavrix::uiEmbeddedDataProvider {

// "loading.html", "download.html" or "uninitialized.html" (exact, case-sensitive); any other name is
// logged and answered with an error text. size is the text's length without its NUL.
const char* getRessource(const char* name, uint32_t* size);

} // namespace tavrix::uiEmbeddedDataProvider
