// Keyed tables when allocations fail: the messages, and a failure injected at every call of whole sequences.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platformlib/util/loggerinterface.h"
#include "platformlib/util/rbdb.h"
#include "rbdbcheck.h"
#include "support/capturelogger.h"

using rbdbtest::countingAllocator;
using rbdbtest::errorSink;
using rbdbtest::tableValid;
using rbdbtest::valueOf;

namespace {

rbdb* countedTable(bool isString, const char* name, uint8_t usePool, uint32_t poolCount, rbdbErrorFn sink)
{
    return rbdb_init(name, 1, isString, usePool, poolCount, sink, countingAllocator::alloc, countingAllocator::release);
}

TEST(rbdbAllocTest, creationFailuresReportAndReleaseEverything)
{
    struct {
        const char* name;
        uint32_t failAt;
        std::string message;
    } const cases[] = {
        {"t", 1, "rbdb_init, using external allocator: returned NULL for table allocation (t)"},
        {nullptr, 1, "rbdb_init, using external allocator: returned NULL for table allocation (Unknown)"},
        {"t", 2, "rbdb_init: Allocation of the table name failed, (OOM) Table: t"},
        {"t", 3, "rbdb_init: Allocation of initial pool failed, (OOM), SZ: 2, Table: t"},
        {"t", 4, "rbdb_init: Allocation of initial pool failed, (OOM), SZ: 2, Table: t"},
        {nullptr, 2, "rbdb_init: Allocation of initial pool failed, (OOM), SZ: 2, Table: Unknown"},
        {"t", 5, "rbdb_init: Allocation of the initial freepool failed, (OOM) Table: t"},
        {"t", 68, "rbdb_init: Allocation of the initial freepool failed, (OOM) Table: t"},
    };
    for (const auto& c : cases) {
        countingAllocator::reset(c.failAt);
        errorSink::clear();
        EXPECT_EQ(countedTable(false, c.name, 1, 2, errorSink::report), nullptr) << c.failAt;
        EXPECT_EQ(errorSink::messages, std::vector<std::string>{c.message}) << c.failAt;
        EXPECT_TRUE(countingAllocator::live.empty()) << "call " << c.failAt << " left blocks";
    }
    countingAllocator::reset(69);
    rbdb* table = countedTable(false, "t", 1, 2, errorSink::report);
    ASSERT_NE(table, nullptr) << "68 allocations make the table";
    db_destroy(table);
}

TEST(rbdbAllocTest, defaultSinkLogsAtErrorAndTheTableFailureOnlyToOwnSinks)
{
    tavrix::test::captureLogger logger;
    logger.clear();
    countingAllocator::reset(1);
    EXPECT_EQ(countedTable(false, "t", 1, 2, nullptr), nullptr);
    for (const auto& line : logger.lines())
        ADD_FAILURE() << line.text;

    countingAllocator::reset(3);
    EXPECT_EQ(countedTable(false, "t", 1, 2, nullptr), nullptr);
    const auto lines = logger.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, tavrix::util::LOG_ERROR);
    EXPECT_EQ(lines[0].text, "rbdb_init: Allocation of initial pool failed, (OOM), SZ: 2, Table: t");

    logger.clear();
    const std::string longName(9000, 'n');
    countingAllocator::reset(3);
    EXPECT_EQ(countedTable(false, longName.c_str(), 1, 2, nullptr), nullptr);
    ASSERT_EQ(logger.lines().size(), 1u);
    EXPECT_EQ(logger.lines()[0].text.size(), 8191u) << "messages are cut to the 8192-byte buffer";
    EXPECT_TRUE(countingAllocator::live.empty());
}

// A table made without failures, then the failure armed for the next call.
class failingTableTest : public ::testing::Test {
protected:
    rbdb* table = nullptr;
    void make(bool isString, uint8_t usePool, uint32_t poolCount)
    {
        countingAllocator::reset();
        errorSink::clear();
        table = countedTable(isString, "t", usePool, poolCount, errorSink::report);
        ASSERT_NE(table, nullptr);
    }
    void failFromCall(uint32_t ahead, bool persistent)
    {
        countingAllocator::failAt = countingAllocator::calls + ahead;
        countingAllocator::persistent = persistent;
    }
    void TearDown() override
    {
        if (!table)
            return;
        EXPECT_TRUE(tableValid(table));
        db_destroy(table);
        EXPECT_TRUE(countingAllocator::live.empty());
    }
};

TEST_F(failingTableTest, noNodeForANewKey)
{
    struct {
        uint8_t usePool;
        const char* refill;
    } const cases[] = {
        {1, "db_dbnpool_get: (Table is using pool) -> Allocation of new 'node' failed. (OOM) - Table: t"},
        {0, "db_dbnpool_get: (Table is not using Pool) -> Allocation of new 'node' faild (OOM) - Table: t"},
    };
    for (const auto& c : cases) {
        make(false, c.usePool, 0);
        failFromCall(1, true);
        EXPECT_EQ(db_insertLocked(table, static_cast<uint32_t>(-5), valueOf(1)), nullptr);
        EXPECT_EQ(errorSink::messages, (std::vector<std::string>{c.refill,
                  "db_insert: got NULL dbn node - insert failed.! (Table: t Key: -5)"}));
        EXPECT_EQ(db_fetchLocked(table, static_cast<uint32_t>(-5)), nullptr);
        EXPECT_EQ(table->count, 0u);
        TearDown();
        table = nullptr;
    }
}

TEST_F(failingTableTest, aPartlyRefilledPoolKeepsItsNodes)
{
    make(false, 1, 0);
    failFromCall(3, false);
    EXPECT_EQ(db_insertLocked(table, 1, valueOf(1)), valueOf(1));
    EXPECT_EQ(errorSink::messages.size(), 1u);
    EXPECT_EQ(rbdbtest::poolLength(table->pool), 1u);
    const uint32_t calls = countingAllocator::calls;
    EXPECT_EQ(db_insertLocked(table, 2, valueOf(2)), valueOf(2));
    EXPECT_EQ(countingAllocator::calls, calls);
    EXPECT_EQ(db_insertLocked(table, 3, valueOf(3)), valueOf(3));
    EXPECT_EQ(rbdbtest::poolLength(table->pool), 127u);
}

TEST_F(failingTableTest, noRecordToQueueADeletionInAWalk)
{
    make(false, 1, 0);
    for (uint32_t k = 1; k <= 65; ++k)
        db_insertLocked(table, k, valueOf(k));
    failFromCall(1, true);
    db_foreach(table, [](uint32_t key, void* value, va_list args) {
        EXPECT_EQ(db_deleteLocked(va_arg(args, rbdb*), key), key == 65 ? nullptr : value);
        return 0;
    }, table);
    EXPECT_EQ(errorSink::messages, (std::vector<std::string>{
        "db_freepool_get: allocation of new free node failed (OOM). Table: t",
        "db_delete: cant get free node - Table: t , del key: 65"}));
    EXPECT_EQ(table->count, 1u);
    EXPECT_EQ(db_fetchLocked(table, 65), valueOf(65)) << "the key stays";
}

TEST_F(failingTableTest, loneEntryWithNoRecordInAWalk)
{
    make(true, 1, 0);
    for (int i = 0; i < 65; ++i)
        strdb_insert(table, ("k" + std::to_string(i)).c_str(), 0, valueOf(i));
    failFromCall(1, true);
    std::vector<std::string> kept;
    strdb_foreach(table, [](const char* key, uint32_t keyLen, void* value, va_list args) {
        rbdb* t = va_arg(args, rbdb*);
        if (strdb_delete(t, key, keyLen) != value)
            va_arg(args, std::vector<std::string>*)->push_back(key);
        return 0;
    }, table, &kept);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(errorSink::messages.back(), "strdb_delete: 1st way (no coll) - db_delete returned different than db_fetch\n");
    EXPECT_NE(strdb_fetch(table, kept[0].c_str(), 0), nullptr);
}

TEST_F(failingTableTest, failedStringStoreKeepsNothing)
{
    using storeFn = void* (*)(rbdb*, const char*, uint32_t, void*);
    for (storeFn store : {strdb_insert, strdb_set}) {
        make(true, 0, 0);
        failFromCall(1, false);
        EXPECT_EQ(store(table, "abc", 0, valueOf(1)), nullptr) << "the entry";
        EXPECT_EQ(errorSink::messages.back(), "strdb_allocEntry: allocation of new entry failed (OOM). Table: t");
        failFromCall(2, false);
        EXPECT_EQ(store(table, "abc", 0, valueOf(1)), nullptr) << "the node";
        EXPECT_EQ(errorSink::messages.back(), "db_insert: got NULL dbn node - insert failed.! (Table: t Key: 1213603282)");
        EXPECT_EQ(strdb_fetch(table, "abc", 0), nullptr);
        EXPECT_EQ(table->count, 0u);
        EXPECT_EQ(store(table, "abc", 0, valueOf(2)), valueOf(2));
        EXPECT_EQ(strdb_fetch(table, "abc", 0), valueOf(2));
        TearDown();
        table = nullptr;
    }
}

// Runs a sequence of operations against a model. A null result where the model expects a value must come
// with a message and leave the table as it was.
class sequenceChecker {
public:
    explicit sequenceChecker(rbdb* t) : table(t) {}

    template <typename Op>
    void expect(void* expected, Op op, bool changes, const std::string& what)
    {
        const size_t before = errorSink::messages.size();
        void* result = op();
        if (result == nullptr && expected != nullptr && changes) {
            EXPECT_GT(errorSink::messages.size(), before) << what << ": a silent failure";
            EXPECT_TRUE(tableValid(table)) << what;
        } else {
            EXPECT_EQ(result, expected) << what;
        }
    }
    rbdb* table;
};

void integerSequence(rbdb* table)
{
    sequenceChecker check(table);
    std::map<uint32_t, void*> model;
    auto insert = [&](uint32_t key, void* value) {
        const bool present = model.count(key) != 0;
        check.expect(present ? model[key] : value, [&] { return db_insertLocked(table, key, value); }, !present,
                     "insert " + std::to_string(key));
        if (!present && db_fetchLocked(table, key))
            model[key] = value;
    };
    for (uint32_t k = 0; k < 240; ++k)
        insert(k * 3841, valueOf(k));
    struct walkState {
        sequenceChecker* check;
        std::map<uint32_t, void*>* model;
    } state{&check, &model};
    db_foreach(table, [](uint32_t key, void* value, va_list args) {
        walkState* s = va_arg(args, walkState*);
        rbdb* t = s->check->table;
        if (key % 2 == 0) {
            s->check->expect(value, [&] { return db_deleteLocked(t, key); }, true, "walk delete");
            if (!db_fetchLocked(t, key))
                s->model->erase(key);
        }
        if (key % 6 == 0 && !s->model->count(key)) {
            s->check->expect(valueOf(1000), [&] { return db_insertLocked(t, key, valueOf(1000)); }, true, "revive");
            (*s->model)[key] = valueOf(1000);
        }
        return 0;
    }, &state);
    EXPECT_TRUE(tableValid(table));
    for (auto it = model.begin(); it != model.end();) {
        const uint32_t key = it->first;
        void* value = it->second;
        ++it;
        if (key % 5 == 0) {
            check.expect(value, [&] { return db_deleteLocked(table, key); }, true, "delete");
            model.erase(key);
        }
    }
    for (uint32_t k = 0; k < 240; ++k) {
        const auto it = model.find(k * 3841);
        EXPECT_EQ(db_fetchLocked(table, k * 3841), it == model.end() ? nullptr : it->second);
    }
    EXPECT_EQ(table->count, model.size());
    EXPECT_TRUE(tableValid(table));
}

void stringSequence(rbdb* table)
{
    sequenceChecker check(table);
    std::map<std::string, void*> model;
    std::vector<std::string> keys = {"key9138/23734", "key9138/33804", "key14817/23734", "key14817/33804", ""};
    for (int i = 0; i < 90; ++i)
        keys.push_back("s" + std::to_string(i));
    for (size_t i = 0; i < keys.size(); ++i) {
        const std::string& key = keys[i];
        check.expect(valueOf(i), [&] { return strdb_insert(table, key.c_str(), 0, valueOf(i)); }, true, "insert " + key);
        if (void* stored = strdb_fetch(table, key.c_str(), 0))
            model[key] = stored;
    }
    for (size_t i = 0; i < keys.size(); i += 4) {
        const std::string& key = keys[i];
        const bool present = model.count(key) != 0;
        check.expect(present ? model[key] : valueOf(500 + i), [&] { return strdb_set(table, key.c_str(), 0, valueOf(500 + i)); },
                     true, "set " + key);
        if (void* stored = strdb_fetch(table, key.c_str(), 0))
            model[key] = stored;
    }
    struct walkState {
        sequenceChecker* check;
        std::map<std::string, void*>* model;
    } state{&check, &model};
    strdb_foreach(table, [](const char* entryKey, uint32_t, void* value, va_list args) {
        walkState* s = va_arg(args, walkState*);
        rbdb* t = s->check->table;
        const std::string key = entryKey; // the entry goes with a successful delete
        s->check->expect(value, [&] { return strdb_delete(t, key.c_str(), 0); }, true, "walk delete " + key);
        if (!strdb_fetch(t, key.c_str(), 0))
            s->model->erase(key);
        return 0;
    }, &state);
    EXPECT_TRUE(tableValid(table));
    for (const std::string& key : keys) {
        const auto it = model.find(key);
        EXPECT_EQ(strdb_fetch(table, key.c_str(), 0), it == model.end() ? nullptr : it->second) << key;
    }
}

TEST(rbdbAllocTest, failureAtEveryCallOfWholeSequences)
{
    struct {
        bool isString;
        uint8_t usePool;
        uint32_t poolCount;
        void (*sequence)(rbdb*);
    } const cases[] = {
        {false, 1, 3, integerSequence},
        {false, 0, 0, integerSequence},
        {true, 1, 2, stringSequence},
        {true, 0, 0, stringSequence},
    };
    for (const auto& c : cases) {
        countingAllocator::reset();
        rbdb* table = countedTable(c.isString, "seq", c.usePool, c.poolCount, errorSink::report);
        c.sequence(table);
        db_destroy(table);
        const uint32_t total = countingAllocator::calls;
        for (bool persistent : {false, true}) {
            for (uint32_t failAt = 1; failAt <= total; ++failAt) {
                SCOPED_TRACE(::testing::Message() << "string " << c.isString << " pool " << int(c.usePool)
                                                  << " persistent " << persistent << " call " << failAt);
                countingAllocator::reset(failAt, persistent);
                errorSink::clear();
                table = countedTable(c.isString, "seq", c.usePool, c.poolCount, errorSink::report);
                if (table) {
                    c.sequence(table);
                    db_destroy(table);
                } else {
                    EXPECT_FALSE(errorSink::messages.empty());
                }
                ASSERT_TRUE(countingAllocator::live.empty()) << countingAllocator::live.size() << " blocks left";
                if (::testing::Test::HasFailure())
                    return;
            }
        }
    }
}

} // namespace
