// Integer keyed tables: a random model test against std::map and the walks.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "platformlib/posix/heap.h"
#include "platformlib/util/rbdb.h"
#include "rbdbcheck.h"

using rbdbtest::countingAllocator;
using rbdbtest::errorSink;
using rbdbtest::tableValid;
using rbdbtest::valueOf;

namespace {

struct tableOwner {
    rbdb* table;
    explicit tableOwner(rbdb* t) : table(t) {}
    ~tableOwner() { db_destroy(table); }
};

// Keys that crowd a few buckets (deep trees), negative keys and the extremes.
std::vector<uint32_t> crowdedKeys()
{
    std::vector<uint32_t> keys;
    for (uint32_t m = 0; m < 150; ++m)
        keys.push_back(1 + 3840 * m);
    for (int32_t m = 0; m < 100; ++m)
        keys.push_back(static_cast<uint32_t>(-1 - 3840 * m));
    for (int32_t k : {0, 3839, 3840, -3840, -3839, INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 3840})
        keys.push_back(static_cast<uint32_t>(k));
    std::mt19937 random(7);
    for (int i = 0; i < 100; ++i)
        keys.push_back(random());
    return keys;
}

using intModel = std::map<int32_t, void*>;

class modelTest : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(modelTest, randomOperationsMatchStdMap)
{
    const auto [usePool, locking] = GetParam();
    countingAllocator::reset();
    const std::vector<uint32_t> keys = crowdedKeys();
    for (uint32_t seed : {1u, 2u, 3u}) {
        rbdb* table = db_create("model", locking, usePool, 16, errorSink::report, countingAllocator::alloc,
                                countingAllocator::release);
        ASSERT_NE(table, nullptr);
        std::map<int32_t, void*> model;
        std::mt19937 random(seed);
        for (uint64_t step = 1; step <= 6000; ++step) {
            const uint32_t key = keys[random() % keys.size()];
            const int32_t k = static_cast<int32_t>(key);
            void* value = valueOf(step);
            const auto it = model.find(k);
            void* present = it == model.end() ? nullptr : it->second;
            const uint32_t op = random() % 100;
            if (op < 40) {
                ASSERT_EQ(db_insertLocked(table, key, value), present ? present : value) << "insert " << k;
                model.emplace(k, value);
            } else if (op < 55) {
                ASSERT_EQ(db_setLocked(table, key, value), present ? present : value) << "set " << k;
                model[k] = value;
            } else if (op < 80) {
                ASSERT_EQ(db_deleteLocked(table, key), present) << "delete " << k;
                model.erase(k);
            } else {
                ASSERT_EQ(db_fetchLocked(table, key), present) << "fetch " << k;
            }
            ASSERT_TRUE(tableValid(table)) << "after step " << step;
            ASSERT_EQ(table->count, model.size());
        }
        std::map<int32_t, void*> walked;
        int lastBucket = -1;
        bool ascending = true;
        auto collect = [](uint32_t key, void* value, va_list args) {
            auto* out = va_arg(args, intModel*);
            int* last = va_arg(args, int*);
            bool* ordered = va_arg(args, bool*);
            const int bucket = static_cast<int>(key % RBDB_BUCKET_COUNT);
            *ordered = *ordered && bucket >= *last;
            *last = bucket;
            EXPECT_TRUE(out->emplace(static_cast<int32_t>(key), value).second) << "offered twice";
            return 0;
        };
        EXPECT_EQ(db_foreach(table, collect, &walked, &lastBucket, &ascending), 0);
        EXPECT_EQ(walked, model);
        EXPECT_TRUE(ascending) << "buckets visited out of order";
        db_destroy(table);
        EXPECT_TRUE(countingAllocator::live.empty()) << countingAllocator::live.size() << " blocks left";
    }
    EXPECT_TRUE(errorSink::messages.empty());
}

INSTANTIATE_TEST_SUITE_P(poolAndLocking, modelTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

TEST(rbdbTest, keysSharingABucketInEveryOrder)
{
    const uint32_t keys[] = {1, 3841, 7681};
    std::vector<int> insertOrder = {0, 1, 2};
    do {
        std::vector<int> deleteOrder = {0, 1, 2};
        do {
            tableOwner owner(db_create("shared", 0, 0, 0, nullptr, nullptr, nullptr));
            rbdb* table = owner.table;
            for (int i : insertOrder)
                ASSERT_EQ(db_insertLocked(table, keys[i], valueOf(i)), valueOf(i));
            ASSERT_TRUE(tableValid(table));
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(db_fetchLocked(table, keys[i]), valueOf(i));
            int offered = 0;
            db_foreach(table, [](uint32_t key, void*, va_list args) {
                EXPECT_EQ(key % RBDB_BUCKET_COUNT, 1u);
                ++*va_arg(args, int*);
                return 0;
            }, &offered);
            EXPECT_EQ(offered, 3);
            for (int i : deleteOrder) {
                ASSERT_EQ(db_deleteLocked(table, keys[i]), valueOf(i));
                ASSERT_TRUE(tableValid(table));
                EXPECT_EQ(db_fetchLocked(table, keys[i]), nullptr);
            }
            EXPECT_EQ(table->buckets[1], nullptr);
        } while (std::next_permutation(deleteOrder.begin(), deleteOrder.end()));
    } while (std::next_permutation(insertOrder.begin(), insertOrder.end()));
}

// A table with keys 1..n, one per bucket, so a walk offers them in ascending order.
class walkTest : public ::testing::Test {
protected:
    static constexpr uint32_t keyCount = 10;
    rbdb* table = nullptr;
    void SetUp() override
    {
        errorSink::clear();
        table = db_create(nullptr, 1, 1, 8, errorSink::report, nullptr, nullptr);
        ASSERT_NE(table, nullptr);
        for (uint32_t k = 1; k <= keyCount; ++k)
            db_insertLocked(table, k, valueOf(k));
    }
    void TearDown() override
    {
        EXPECT_TRUE(tableValid(table));
        EXPECT_EQ(table->walkDepth, 0u);
        EXPECT_TRUE(errorSink::messages.empty());
        db_destroy(table);
    }
    static std::vector<uint32_t>& offered()
    {
        static std::vector<uint32_t> keys;
        return keys;
    }
};

TEST_F(walkTest, deletionIsDeferredUntilTheWalkEnds)
{
    offered().clear();
    EXPECT_EQ(db_foreach(table, [](uint32_t key, void* value, va_list args) {
        rbdb* t = va_arg(args, rbdb*);
        offered().push_back(key);
        EXPECT_EQ(value, valueOf(key));
        if (key == 1) {
            EXPECT_EQ(db_deleteLocked(t, 1), valueOf(1));
            EXPECT_EQ(db_deleteLocked(t, 10), valueOf(10));
            EXPECT_EQ(db_deleteLocked(t, 10), nullptr) << "deleted twice";
            EXPECT_EQ(db_fetchLocked(t, 10), nullptr);
            EXPECT_EQ(t->count, keyCount) << "queued nodes still count";
            EXPECT_TRUE(tableValid(t));
        }
        return 0;
    }, table), 0);
    EXPECT_EQ(offered(), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(table->count, keyCount - 2);
    EXPECT_EQ(db_fetchLocked(table, 1), nullptr);
    EXPECT_EQ(db_fetchLocked(table, 10), nullptr);
    EXPECT_EQ(table->pending, nullptr);
}

TEST_F(walkTest, reinsertDuringTheWalkRevivesTheKey)
{
    offered().clear();
    db_foreach(table, [](uint32_t key, void* value, va_list args) {
        rbdb* t = va_arg(args, rbdb*);
        offered().push_back(key);
        if (key == 2) {
            EXPECT_EQ(db_deleteLocked(t, 2), valueOf(2));
            EXPECT_EQ(db_deleteLocked(t, 5), valueOf(5));
            EXPECT_EQ(db_insertLocked(t, 5, valueOf(500)), valueOf(500));
            EXPECT_EQ(db_insertLocked(t, 2, valueOf(200)), valueOf(200));
        }
        if (key == 5) {
            EXPECT_EQ(value, valueOf(500));
        }
        return 0;
    }, table);
    EXPECT_EQ(offered().size(), keyCount);
    EXPECT_EQ(table->count, keyCount);
    EXPECT_EQ(db_fetchLocked(table, 2), valueOf(200));
    EXPECT_EQ(db_fetchLocked(table, 5), valueOf(500));
    EXPECT_EQ(rbdbtest::listLength(table->freeNodes), 64u) << "revived records go back to the free list";
}

TEST_F(walkTest, nestedWalkDefersToTheOuterEnd)
{
    offered().clear();
    db_foreach(table, [](uint32_t key, void*, va_list args) {
        rbdb* t = va_arg(args, rbdb*);
        offered().push_back(key);
        if (key == 1) {
            EXPECT_EQ(db_foreach(t, [](uint32_t inner, void*, va_list innerArgs) {
                rbdb* same = va_arg(innerArgs, rbdb*);
                if (inner == 3 || inner == 4) {
                    EXPECT_NE(db_deleteLocked(same, inner), nullptr);
                }
                return 0;
            }, t), 0);
            EXPECT_EQ(t->walkDepth, 1u);
            EXPECT_EQ(t->count, keyCount);
            EXPECT_EQ(rbdbtest::listLength(t->pending), 2u);
        }
        return 0;
    }, table);
    EXPECT_EQ(offered(), (std::vector<uint32_t>{1, 2, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(table->count, keyCount - 2);
}

TEST_F(walkTest, stopAtTheFirstNodeCarriesOutQueuedDeletions)
{
    EXPECT_EQ(db_foreach(table, [](uint32_t key, void*, va_list args) {
        rbdb* t = va_arg(args, rbdb*);
        db_deleteLocked(t, key);
        db_deleteLocked(t, 7);
        return 1;
    }, table), 1);
    EXPECT_EQ(table->count, keyCount - 2);
    EXPECT_EQ(db_fetchLocked(table, 1), nullptr);
    EXPECT_EQ(db_fetchLocked(table, 7), nullptr);
    EXPECT_EQ(db_fetchLocked(table, 2), valueOf(2));
}

TEST_F(walkTest, manyDeletionsGrowTheRecordsBy64)
{
    for (uint32_t k = keyCount + 1; k <= 200; ++k)
        db_insertLocked(table, k * 3840 + 5, valueOf(k));
    db_foreach(table, [](uint32_t key, void*, va_list args) {
        EXPECT_NE(db_deleteLocked(va_arg(args, rbdb*), key), nullptr);
        return 0;
    }, table);
    EXPECT_EQ(table->count, 0u);
    EXPECT_EQ(rbdbtest::listLength(table->freeNodes), 256u);
    for (uint32_t b = 0; b < RBDB_BUCKET_COUNT; ++b)
        EXPECT_EQ(table->buckets[b], nullptr);
}

TEST_F(walkTest, everyCallbackGetsTheArgumentsFromTheirStart)
{
    int calls = 0;
    db_foreach(table, [](uint32_t, void*, va_list args) {
        EXPECT_EQ(va_arg(args, int), -42);
        EXPECT_STREQ(va_arg(args, const char*), "text");
        EXPECT_EQ(va_arg(args, double), 2.5);
        ++*va_arg(args, int*);
        return 0;
    }, -42, "text", 2.5, &calls);
    EXPECT_EQ(calls, static_cast<int>(keyCount));
}

TEST(rbdbTest, destroyReleasesEveryPartAndNoValue)
{
    for (bool usePool : {false, true}) {
        countingAllocator::reset();
        rbdb* table = db_create("parts", 1, usePool, 3, nullptr, countingAllocator::alloc, countingAllocator::release);
        ASSERT_NE(table, nullptr);
        std::vector<int> values(300);
        for (uint32_t k = 0; k < values.size(); ++k)
            db_insertLocked(table, k * 7, &values[k]);
        for (uint32_t k = 0; k < values.size(); k += 2)
            db_deleteLocked(table, k * 7);
        db_destroy(table);
        EXPECT_TRUE(countingAllocator::live.empty()) << "pool " << usePool;
    }
}

// Lookups go through the index beside the trees; they agree with the trees while the index grows, through
// deletions queued in a walk, and when the heap refuses a larger index: the trees answer then, until the
// count has doubled and the index is made again.
TEST(rbdbTest, indexAgreesWithTheTreesAndFallsBackWhenItCannotGrow)
{
    tableOwner owner(db_create("index", 1, 1, 16, errorSink::report, nullptr, nullptr));
    rbdb* table = owner.table;
    errorSink::clear();
    intModel model;
    auto insert = [&](uint32_t key) {
        ASSERT_EQ(db_insertLocked(table, key, valueOf(key)), valueOf(key));
        model[static_cast<int32_t>(key)] = valueOf(key);
    };
    auto expectModel = [&](const char* when) {
        ASSERT_TRUE(tableValid(table)) << when;
        ASSERT_EQ(table->count, model.size()) << when;
        for (const auto& [key, value] : model)
            ASSERT_EQ(db_fetchLocked(table, static_cast<uint32_t>(key)), value) << when << ", key " << key;
        EXPECT_EQ(db_fetchLocked(table, 3), nullptr) << when;
    };
    for (uint32_t key : crowdedKeys())
        if (key != 3)
            insert(key);
    ASSERT_NE(table->index, nullptr);
    expectModel("grown");

    db_foreach(table, [](uint32_t key, void*, va_list args) {
        rbdb* t = va_arg(args, rbdb*);
        if (key % 3 == 0) {
            db_deleteLocked(t, key);
            EXPECT_EQ(db_fetchLocked(t, key), nullptr);
        }
        if (key % 9 == 0)
            db_insertLocked(t, key, valueOf(key));
        return 0;
    }, table);
    std::erase_if(model, [](const auto& entry) { return uint32_t(entry.first) % 3 == 0 && uint32_t(entry.first) % 9 != 0; });
    expectModel("after the walk");

    uint32_t key = 1u << 20;
    while ((table->index->used + 1) * 2 <= table->index->mask + 1)
        insert(key++);
    tavrix::sys::heapFailNext(1);
    insert(key++);
    EXPECT_EQ(table->index, nullptr) << "no larger index";
    expectModel("without an index");
    for (const int32_t gone : {int32_t(1 << 20), INT32_MIN, 1}) {
        ASSERT_NE(model[gone], nullptr);
        EXPECT_EQ(db_deleteLocked(table, static_cast<uint32_t>(gone)), model[gone]);
        model.erase(gone);
    }
    expectModel("deletions without an index");

    while (table->count < table->indexRetryAt)
        insert(key++);
    EXPECT_NE(table->index, nullptr) << "made again once the count has doubled";
    expectModel("made again");
    EXPECT_TRUE(errorSink::messages.empty()) << "the index reports nothing";
}

} // namespace
