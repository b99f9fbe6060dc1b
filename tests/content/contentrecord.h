#pragma once
// A content file and its record in the content store's table, as a download or the meta database makes it.
#include <gtest/gtest.h>

#include <string>

#include "client/vfslocal.h"
#include "platformlib/util/crc32.h"
#include "support/tempdir.h"

namespace tavrix::test {

inline vfs::fileDataINFO* addContentFile(const tempDir& dir, const std::string& path, const std::string& bytes)
{
    dir.write(path, bytes);
    vfs::fileDataINFO* record = vfs::newRecord(path.data(), uint32_t(path.size()));
    record->size = uint32_t(bytes.size());
    record->crc32 = crc32_update(0, bytes.data(), uint32_t(bytes.size()));
    EXPECT_TRUE(vfs::fileDB_addEntry(record));
    return record;
}

} // namespace tavrix::test
