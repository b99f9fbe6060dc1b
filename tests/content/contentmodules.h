#pragma once
// The content layer's modules as the tests start them, above the base layer's.
#include "client/vfshttplib.h"
#include "client/vfslocal.h"
#include "core/coremodules.h"

namespace tavrix::test {

inline const testModule CONTENT_STORE = {"content store", vfs::init, vfs::final};
inline const testModule HTTP = {"http", vfsHttpLib::init, vfsHttpLib::final};

} // namespace tavrix::test
