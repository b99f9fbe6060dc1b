// The reader/writer spin lock and keyed tables shared between threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platformlib/util/rbdb.h"
#include "rbdbcheck.h"

using rbdbtest::tableValid;
using rbdbtest::valueOf;

namespace {

// A body that spins for ever ends the test run with a message instead of hanging it.
template <typename Body>
void withinBound(const char* what, Body body)
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        body();
        done = true;
    });
    for (int i = 0; i < 1200 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!done) {
        std::fprintf(stderr, "%s did not return\n", what);
        std::_Exit(1);
    }
    worker.join();
}

TEST(rbdbLockTest, lookupsFromAWalkOfTheSameTableReturn)
{
    rbdb* table = db_create("walked", 1, 1, 16, nullptr, nullptr, nullptr);
    for (uint32_t k = 1; k <= 20; ++k)
        db_insertLocked(table, k, valueOf(k));
    withinBound("a lookup inside a walk", [table] {
        db_foreach(table, [](uint32_t key, void* value, va_list args) {
            rbdb* t = va_arg(args, rbdb*);
            EXPECT_EQ(db_fetchLocked(t, key), value);
            EXPECT_EQ(db_fetchLocked(t, 20), valueOf(20)) << "not yet replaced";
            EXPECT_EQ(db_setLocked(t, key, valueOf(key + 100)), value);
            return 0;
        }, table);
    });
    EXPECT_EQ(table->lock->writer.load(), 0u);
    EXPECT_EQ(table->lock->readers.load(), 0);
    withinBound("a lookup after the walk", [table] { EXPECT_EQ(db_fetchLocked(table, 20), valueOf(120)); });
    db_destroy(table);

    rbdb* texts = strdb_create("walked texts", 1, 0, 0, nullptr, nullptr, nullptr);
    strdb_insert(texts, "abc", 0, valueOf(1));
    strdb_insert(texts, "key9138", 0, valueOf(2));
    withinBound("a text lookup inside a walk", [texts] {
        strdb_foreach(texts, [](const char* key, uint32_t keyLen, void* value, va_list args) {
            rbdb* t = va_arg(args, rbdb*);
            EXPECT_EQ(strdb_fetch(t, key, keyLen), value);
            EXPECT_EQ(strdb_fetch(t, "abc", 0), valueOf(1));
            return 0;
        }, texts);
    });
    db_destroy(texts);
}

TEST(rbdbLockTest, aWriterHoldsReadersBackAndReadersHoldTheWriter)
{
    rwSpinLock lock;
    std::atomic<bool> inside{false};
    lock.lockWrite();
    std::thread reader([&] {
        lock.lockRead();
        inside = true;
        lock.unlockRead();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(inside.load());
    lock.unlockWrite();
    reader.join();
    EXPECT_TRUE(inside.load());

    inside = false;
    lock.lockRead();
    std::thread writer([&] {
        lock.lockWrite();
        inside = true;
        lock.unlockWrite();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(inside.load());
    lock.unlockRead();
    writer.join();
    EXPECT_TRUE(inside.load());
}

TEST(rbdbLockTest, theWriteSideIsReentrantForItsOwnerOnly)
{
    rwSpinLock lock;
    lock.lockWrite();
    lock.lockWrite();
    lock.lockRead();
    lock.unlockRead();
    lock.unlockWrite();
    EXPECT_NE(lock.writer.load(), 0u);
    lock.unlockWrite();
    EXPECT_EQ(lock.writer.load(), 0u);
    EXPECT_EQ(lock.readers.load(), 0);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(lock.unlockWrite(), "") << "the lock is not held";
    EXPECT_DEATH(
        {
            lock.lockWrite();
            std::thread([&] { lock.unlockWrite(); }).join();
        },
        "")
        << "another thread holds it";
}

void* encode(uint32_t key) { return valueOf(key); }

TEST(rbdbLockTest, threadsShareALockingTable)
{
    constexpr uint32_t writers = 3;
    constexpr uint32_t keysEach = 400;
    constexpr int rounds = 10;
    rbdb* table = db_create("shared", 1, 1, 64, nullptr, nullptr, nullptr);
    rbdb* texts = strdb_create("shared texts", 1, 1, 64, nullptr, nullptr, nullptr);
    auto textKey = [](uint32_t key) { return "t" + std::to_string(key); };
    std::atomic<int> writersLeft{writers};
    std::vector<std::thread> threads;
    for (uint32_t w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            for (int r = 0; r < rounds; ++r) {
                for (uint32_t i = 0; i < keysEach; ++i) {
                    const uint32_t key = w * 3840 * keysEach + i * 3840 + (i % 7);
                    db_insertLocked(table, key, encode(key));
                    strdb_insert(texts, textKey(key).c_str(), 0, encode(key));
                }
                for (uint32_t i = r % 2; i < keysEach; i += 2) {
                    const uint32_t key = w * 3840 * keysEach + i * 3840 + (i % 7);
                    EXPECT_EQ(db_deleteLocked(table, key), encode(key));
                    EXPECT_EQ(strdb_delete(texts, textKey(key).c_str(), 0), encode(key));
                }
            }
            --writersLeft;
        });
    }
    for (uint32_t reader = 0; reader < 3; ++reader) {
        threads.emplace_back([&, reader] {
            std::mt19937 random(reader);
            while (writersLeft > 0) {
                const uint32_t w = random() % writers;
                const uint32_t i = random() % keysEach;
                const uint32_t key = w * 3840 * keysEach + i * 3840 + (i % 7);
                void* value = db_fetchLocked(table, key);
                EXPECT_TRUE(value == nullptr || value == encode(key));
                value = strdb_fetch(texts, textKey(key).c_str(), 0);
                EXPECT_TRUE(value == nullptr || value == encode(key));
            }
        });
    }
    threads.emplace_back([&] {
        while (writersLeft > 0) {
            db_foreach(table, [](uint32_t key, void* value, va_list args) {
                rbdb* t = va_arg(args, rbdb*);
                EXPECT_EQ(value, encode(key));
                EXPECT_EQ(db_fetchLocked(t, key), value);
                return 0;
            }, table);
            strdb_foreach(texts, [](const char* key, uint32_t, void* value, va_list) {
                EXPECT_EQ(value, encode(static_cast<uint32_t>(std::stoul(key + 1))));
                return 0;
            });
        }
    });
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(tableValid(table));
    EXPECT_TRUE(tableValid(texts));
    EXPECT_EQ(table->count, writers * keysEach / 2);
    EXPECT_EQ(texts->count, writers * keysEach / 2);
    db_destroy(table);
    db_destroy(texts);
}

} // namespace
