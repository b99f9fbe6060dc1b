// The engine's read-only stream over one content-store file.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "client/uieavfsmemorystream.h"
#include "content/vfsfixture.h"

namespace tavrix::test {
namespace {

class memoryStreamTest : public vfsFixture {
protected:
    void SetUp() override
    {
        vfsFixture::SetUp();
        start();
    }
};

TEST_F(memoryStreamTest, positionsAndReadsStayInsideTheFile)
{
    addFile("data/ten.bin", "0123456789");
    auto* stream = new uiEAVFSMemoryStream("data/ten.bin");
    EXPECT_EQ(10u, stream->GetSize());
    EXPECT_EQ(eawebkit::kAccessRead, stream->GetAccessFlags());
    EXPECT_EQ(0, stream->GetState());
    EXPECT_EQ(0u, stream->GetType());

    char buffer[100];
    EXPECT_TRUE(stream->SetPosition(4, eawebkit::kPositionBegin));
    EXPECT_EQ(6u, stream->Read(buffer, sizeof(buffer)));
    EXPECT_EQ("456789", std::string(buffer, 6));
    EXPECT_EQ(0u, stream->Read(buffer, sizeof(buffer))) << "at the end";
    EXPECT_EQ(0u, stream->GetAvailable());

    struct positionCase {
        int64_t offset;
        int32_t kind;
        bool inRange;
        int64_t position;
    };
    const positionCase cases[] = {
        {20, eawebkit::kPositionBegin, false, 9},
        {3, eawebkit::kPositionBegin, true, 3},
        {2, eawebkit::kPositionCurrent, true, 5},
        {-6, eawebkit::kPositionCurrent, false, 9},
        {-10, eawebkit::kPositionEnd, true, 0},
        {-11, eawebkit::kPositionEnd, false, 9},
        {0, eawebkit::kPositionEnd, true, 10},
        {-1, eawebkit::kPositionBegin, false, 9},
        {std::numeric_limits<int64_t>::max(), eawebkit::kPositionEnd, false, 9},
        {std::numeric_limits<int64_t>::max(), eawebkit::kPositionCurrent, false, 9},
    };
    for (const positionCase& c : cases) {
        EXPECT_EQ(c.inRange, stream->SetPosition(c.offset, c.kind)) << c.offset << "/" << c.kind;
        EXPECT_EQ(c.position, stream->GetPosition(eawebkit::kPositionBegin)) << c.offset << "/" << c.kind;
    }
    stream->SetPosition(3, eawebkit::kPositionBegin);
    EXPECT_EQ(-7, stream->GetPosition(eawebkit::kPositionEnd));
    EXPECT_EQ(0, stream->GetPosition(eawebkit::kPositionCurrent));
    EXPECT_EQ(0u, stream->Read(buffer, 0));

    EXPECT_FALSE(stream->Close()) << "stays usable";
    EXPECT_FALSE(stream->SetSize(4));
    EXPECT_TRUE(stream->Flush());
    EXPECT_FALSE(stream->Write("x", 1));
    EXPECT_TRUE(captured.contains("uiEAVFSMemoryStream::Write() -> not supported.\n"));

    EXPECT_EQ(1, stream->AddRef());
    EXPECT_EQ(2, stream->AddRef());
    EXPECT_EQ(1, stream->Release());
    EXPECT_EQ(0, stream->Release()) << "the last reference destroys it";
    EXPECT_EQ(0u, record("data/ten.bin")->refCount) << "and gives the file back";
}

TEST_F(memoryStreamTest, anEmptyFileKeepsPositionZero)
{
    addFile("data/empty.bin", "");
    auto* stream = new uiEAVFSMemoryStream("data/empty.bin");
    EXPECT_FALSE(stream->SetPosition(1, eawebkit::kPositionBegin));
    EXPECT_EQ(0, stream->GetPosition(eawebkit::kPositionBegin));
    stream->Release();
}

TEST_F(memoryStreamTest, aMissingFileThrowsAndLogsNothing)
{
    try {
        uiEAVFSMemoryStream stream("data/none.bin");
        ADD_FAILURE() << "nothing thrown";
    } catch (VFSMemoryStreamException* e) {
        EXPECT_STREQ("", e->getMessage());
        delete e;
    }
    EXPECT_TRUE(captured.texts(util::LOG_ERROR).empty());
}

} // namespace
} // namespace tavrix::test
