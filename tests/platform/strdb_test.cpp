// String keyed tables: the hash, colliding texts, a random model test and walks over chains.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platformlib/posix/heap.h"
#include "platformlib/util/rbdb.h"
#include "rbdbcheck.h"

using rbdbtest::countingAllocator;
using rbdbtest::errorSink;
using rbdbtest::tableValid;
using rbdbtest::valueOf;

namespace {

// Four texts with one hash (0x5BF62DE9), built from two colliding prefixes and two colliding suffixes.
const char* const colliding[] = {"key9138/23734", "key9138/33804", "key14817/23734", "key14817/33804"};

using textModel = std::map<std::string, void*>;

struct tableOwner {
    rbdb* table;
    explicit tableOwner(rbdb* t) : table(t) {}
    ~tableOwner() { db_destroy(table); }
};

TEST(strdbTest, hashValues)
{
    struct {
        const char* text;
        uint32_t hash;
    } const cases[] = {
        {"", 0},
        {"abc", 0x48561DD2},
        {"\xe9t\xe9", 0xF3F09307}, // bytes above 0x7F
        {"\xff", 0x241B08A6},
        {"data/ui/mainMenu.titleScreen/index.html", 0x2DD08B9E},
        {colliding[0], 0x5BF62DE9},
        {colliding[3], 0x5BF62DE9},
    };
    for (const auto& c : cases)
        EXPECT_EQ(strdb_hash(c.text), c.hash) << c.text;
    EXPECT_EQ(strdb_hash("abc") % RBDB_BUCKET_COUNT, 2002u);
}

// The two mixing rounds per byte as they are specified, for texts the fixed values above do not reach.
uint32_t referenceHash(const std::string& text)
{
    static const uint32_t mix[16] = {
        0x49848F1B, 0xE6255DBA, 0x36DA5BDC, 0x47BF94E9, 0x8CBCCE22, 0x559FC06A, 0xD268F536, 0xE10AF79A,
        0xC1AF4D69, 0x1D2917B5, 0xEC4C304D, 0x9EE5016C, 0x69232F74, 0xFEAD7BB3, 0xE9089AB6, 0xF012F6AE,
    };
    uint32_t h = 0;
    for (unsigned char c : text) {
        h ^= mix[(h + c) & 15];
        h = (h << 1) | (h >> 31);
        h ^= mix[(h + (c >> 4)) & 15];
        h = (h << 2) | (h >> 30);
    }
    return h;
}

// Every byte after prefixes that leave the hash in each of its states, and random texts of every length
// up to 200.
TEST(strdbTest, hashAgreesWithTheRoundsOnAnyText)
{
    std::mt19937 random(7);
    std::vector<std::string> prefixes = {""};
    for (int i = 0; i < 300; ++i)
        prefixes.push_back(std::string(1 + i % 5, char(1 + random() % 255)) + char(1 + random() % 255));
    for (const std::string& prefix : prefixes)
        for (int c = 1; c < 256; ++c) {
            const std::string text = prefix + char(c);
            ASSERT_EQ(strdb_hash(text.c_str()), referenceHash(text)) << prefix.size() << " " << c;
        }
    for (size_t length = 0; length <= 200; ++length) {
        std::string text(length, '\0');
        for (char& c : text)
            c = char(1 + random() % 255);
        ASSERT_EQ(strdb_hash(text.c_str()), referenceHash(text)) << length;
    }
}

class strdbChainTest : public ::testing::Test {
protected:
    rbdb* table = nullptr;
    void SetUp() override
    {
        errorSink::clear();
        table = strdb_create("chains", 1, 1, 4, errorSink::report, nullptr, nullptr);
        ASSERT_NE(table, nullptr);
    }
    void TearDown() override
    {
        EXPECT_TRUE(tableValid(table));
        db_destroy(table);
    }
};

TEST_F(strdbChainTest, missWithTheSameHash)
{
    ASSERT_EQ(strdb_insert(table, colliding[0], 0, valueOf(0)), valueOf(0));
    EXPECT_EQ(strdb_fetch(table, colliding[1], 0), nullptr);
    EXPECT_TRUE(errorSink::messages.empty()) << "a lone entry's miss is silent";

    ASSERT_EQ(strdb_insert(table, colliding[2], 0, valueOf(2)), valueOf(2));
    EXPECT_EQ(table->count, 1u) << "one node per hash";
    EXPECT_EQ(strdb_fetch(table, colliding[1], 0), nullptr);
    EXPECT_EQ(errorSink::messages, std::vector<std::string>{
        "strdb_fetch: 'key9138/33804' hash found, multiple subnodes in tree for this hash; but key was not found ! - ??\n"});
    EXPECT_EQ(strdb_fetch(table, colliding[0], 0), valueOf(0));
    EXPECT_EQ(strdb_fetch(table, colliding[2], 14), valueOf(2));
}

TEST_F(strdbChainTest, insertKeepsAndSetReplaces)
{
    for (int i = 0; i < 3; ++i)
        strdb_insert(table, colliding[i], 0, valueOf(i));
    strdb_insert(table, "", 0, valueOf(9));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(strdb_insert(table, colliding[i], 0, valueOf(100 + i)), valueOf(i));
        EXPECT_EQ(strdb_fetch(table, colliding[i], 0), valueOf(i));
        EXPECT_EQ(strdb_set(table, colliding[i], 0, valueOf(100 + i)), valueOf(i));
        EXPECT_EQ(strdb_fetch(table, colliding[i], 0), valueOf(100 + i));
    }
    EXPECT_EQ(strdb_set(table, colliding[3], 0, valueOf(3)), valueOf(3));
    EXPECT_EQ(strdb_fetch(table, "", 0), valueOf(9)) << "the empty text is an ordinary key";
    EXPECT_NE(table->buckets[0], nullptr);
    EXPECT_EQ(strdb_delete(table, "", 0), valueOf(9));
    EXPECT_EQ(table->buckets[0], nullptr);
}

TEST_F(strdbChainTest, deleteFromAChainInEveryOrder)
{
    std::vector<int> order = {0, 1, 2};
    do {
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(strdb_insert(table, colliding[i], 0, valueOf(i)), valueOf(i));
        EXPECT_EQ(strdb_delete(table, colliding[3], 0), nullptr);
        std::vector<int> left = {0, 1, 2};
        for (int gone : order) {
            ASSERT_EQ(strdb_delete(table, colliding[gone], 0), valueOf(gone));
            left.erase(std::find(left.begin(), left.end(), gone));
            EXPECT_EQ(strdb_fetch(table, colliding[gone], 0), nullptr);
            for (int i : left)
                EXPECT_EQ(strdb_fetch(table, colliding[i], 0), valueOf(i));
            ASSERT_TRUE(tableValid(table));
        }
        EXPECT_EQ(table->count, 0u);
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(strdbChainTest, walkOffersEveryEntryAndMayDeleteTheVisitedOne)
{
    for (int i = 0; i < 3; ++i)
        strdb_insert(table, colliding[i], 0, valueOf(i));
    strdb_insert(table, "abc", 0, valueOf(7));
    std::map<std::string, void*> seen;
    EXPECT_EQ(strdb_foreach(table, [](const char* key, uint32_t keyLen, void* value, va_list args) {
        rbdb* t = va_arg(args, rbdb*);
        auto* out = va_arg(args, textModel*);
        EXPECT_EQ(std::string(key).size(), keyLen);
        out->emplace(key, value);
        EXPECT_EQ(strdb_delete(t, key, keyLen), value);
        return 0;
    }, table, &seen), 0);
    EXPECT_EQ(seen, (std::map<std::string, void*>{
        {colliding[0], valueOf(0)}, {colliding[1], valueOf(1)}, {colliding[2], valueOf(2)}, {"abc", valueOf(7)}}));
    EXPECT_EQ(table->count, 0u);
}

TEST_F(strdbChainTest, loneEntryDeletedAndStoredAgainInAWalk)
{
    strdb_insert(table, "abc", 0, valueOf(1));
    strdb_insert(table, "xyz", 0, valueOf(2));
    EXPECT_EQ(strdb_foreach(table, [](const char* key, uint32_t, void*, va_list args) {
        rbdb* t = va_arg(args, rbdb*);
        if (std::string(key) == "abc") {
            EXPECT_EQ(strdb_delete(t, "xyz", 0), valueOf(2));
            EXPECT_EQ(strdb_fetch(t, "xyz", 0), nullptr);
            EXPECT_EQ(strdb_insert(t, "xyz", 0, valueOf(3)), valueOf(3));
        }
        return 0;
    }, table), 0);
    EXPECT_EQ(strdb_fetch(table, "xyz", 0), valueOf(3));
    EXPECT_EQ(table->count, 2u);
}

TEST(strdbTest, randomOperationsMatchStdMap)
{
    std::vector<std::string> keys(colliding, colliding + 4);
    keys.insert(keys.end(), {"", "abc", "key9138", "key14817", "\xe9t\xe9", "\xff", std::string(100, 'x')});
    for (int i = 0; i < 200; ++i)
        keys.push_back("file" + std::to_string(i * 3840));
    countingAllocator::reset();
    rbdb* table = strdb_create("model", 1, 0, 0, errorSink::report, countingAllocator::alloc, countingAllocator::release);
    ASSERT_NE(table, nullptr);
    std::map<std::string, void*> model;
    std::mt19937 random(11);
    for (uint64_t step = 1; step <= 5000; ++step) {
        const std::string& key = keys[random() % keys.size()];
        const uint32_t keyLen = random() % 2 ? static_cast<uint32_t>(key.size()) : 0;
        void* value = valueOf(step);
        const auto it = model.find(key);
        void* present = it == model.end() ? nullptr : it->second;
        const uint32_t op = random() % 100;
        if (op < 35) {
            ASSERT_EQ(strdb_insert(table, key.c_str(), keyLen, value), present ? present : value);
            model.emplace(key, value);
        } else if (op < 50) {
            ASSERT_EQ(strdb_set(table, key.c_str(), keyLen, value), present ? present : value);
            model[key] = value;
        } else if (op < 75) {
            ASSERT_EQ(strdb_delete(table, key.c_str(), keyLen), present);
            model.erase(key);
        } else {
            ASSERT_EQ(strdb_fetch(table, key.c_str(), keyLen), present);
        }
        ASSERT_TRUE(tableValid(table)) << "after step " << step;
    }
    std::map<std::string, void*> walked;
    strdb_foreach(table, [](const char* key, uint32_t, void* value, va_list args) {
        va_arg(args, textModel*)->emplace(key, value);
        return 0;
    }, &walked);
    EXPECT_EQ(walked, model);
    db_destroy(table);
    EXPECT_TRUE(countingAllocator::live.empty()) << "a string table releases its entries";
}

TEST(strdbTest, integerTableUsedWithTextsReleasesOnlyItsNodes)
{
    countingAllocator::reset();
    rbdb* table = db_create("cvar", 1, 1, 512, nullptr, countingAllocator::alloc, countingAllocator::release);
    ASSERT_NE(table, nullptr);
    for (const char* key : colliding)
        strdb_insert(table, key, 0, valueOf(1));
    strdb_insert(table, "abc", 0, valueOf(2));
    std::vector<strdbEntry*> entries;
    for (strdbEntry* e = static_cast<strdbEntry*>(table->buckets[strdb_hash("abc") % RBDB_BUCKET_COUNT]->value); e; e = e->next)
        entries.push_back(e);
    for (strdbEntry* e = static_cast<strdbEntry*>(table->buckets[strdb_hash(colliding[0]) % RBDB_BUCKET_COUNT]->value); e; e = e->next)
        entries.push_back(e);
    ASSERT_EQ(entries.size(), 5u);
    db_destroy(table);
    EXPECT_EQ(countingAllocator::live, std::set<void*>(entries.begin(), entries.end()));
    for (strdbEntry* e : entries)
        countingAllocator::release(e);
}

// A length beyond the text ends at the text's NUL: nothing past the caller's key is read or stored.
TEST(strdbTest, keyLengthBeyondTheTextStopsAtItsEnd)
{
    tableOwner owner(strdb_create("length", 1, 0, 0, errorSink::report, nullptr, nullptr));
    rbdb* table = owner.table;
    const std::unique_ptr<char[]> key(new char[4]{'a', 'b', 'c', '\0'});
    EXPECT_EQ(strdb_insert(table, key.get(), 40, valueOf(1)), valueOf(1));
    EXPECT_EQ(strdb_fetch(table, "abc", 0), valueOf(1));
    EXPECT_EQ(strdb_fetch(table, key.get(), 40), valueOf(1));
    EXPECT_EQ(strdb_set(table, key.get(), 40, valueOf(2)), valueOf(1));
    std::vector<uint32_t> lengths;
    strdb_foreach(table, [](const char*, uint32_t keyLen, void*, va_list args) {
        va_arg(args, std::vector<uint32_t>*)->push_back(keyLen);
        return 0;
    }, &lengths);
    EXPECT_EQ(lengths, std::vector<uint32_t>{3});
    EXPECT_TRUE(tableValid(table));
    EXPECT_EQ(strdb_delete(table, key.get(), 40), valueOf(2));
    EXPECT_EQ(table->count, 0u);
}

// Text lookups go through the text index; they agree with the chains while it grows, through deletions in
// a walk, and when the heap refuses a larger index: the chains answer then, until the entries have doubled
// and the index is made again from them.
TEST(strdbTest, textIndexAgreesWithTheChainsAndFallsBackWhenItCannotGrow)
{
    tableOwner owner(strdb_create("textIndex", 1, 1, 16, errorSink::report, nullptr, nullptr));
    rbdb* table = owner.table;
    errorSink::clear();
    textModel model;
    uint64_t step = 0;
    auto insert = [&](const std::string& key) {
        void* value = valueOf(++step);
        ASSERT_EQ(strdb_insert(table, key.c_str(), 0, value), value);
        model[key] = value;
    };
    auto expectModel = [&](const char* when) {
        ASSERT_TRUE(tableValid(table)) << when;
        for (const auto& [key, value] : model)
            ASSERT_EQ(strdb_fetch(table, key.c_str(), static_cast<uint32_t>(key.size())), value) << when << ", " << key;
        EXPECT_EQ(strdb_fetch(table, "absent", 0), nullptr) << when;
    };
    for (const char* key : colliding)
        insert(key);
    for (int i = 0; i < 300; ++i)
        insert("data/textures/block" + std::to_string(i) + ".png");
    ASSERT_NE(table->textIndex, nullptr);
    expectModel("grown");

    // About every third text goes in a walk, lone ones and chained ones alike; then a chained one goes and
    // comes back.
    strdb_foreach(table, [](const char* key, uint32_t keyLen, void*, va_list args) {
        rbdb* t = va_arg(args, rbdb*);
        textModel* m = va_arg(args, textModel*);
        // The callback's key is the entry's own text, which the deletion frees.
        const std::string text(key, keyLen);
        if (std::hash<std::string>()(text) % 3 == 0) {
            EXPECT_NE(strdb_delete(t, text.c_str(), keyLen), nullptr);
            EXPECT_EQ(strdb_fetch(t, text.c_str(), keyLen), nullptr);
            m->erase(text);
        }
        return 0;
    }, table, &model);
    // The misses of chained texts in the walk were reported; nothing else may be.
    errorSink::clear();
    const auto chained = std::find_if(std::begin(colliding), std::end(colliding), [&](const char* key) { return model.count(key); });
    ASSERT_NE(chained, std::end(colliding));
    ASSERT_TRUE(strdb_delete(table, *chained, 0));
    model.erase(*chained);
    insert(*chained);
    expectModel("after the walk");

    int next = 1000;
    while ((table->textIndex->used + 1) * 2 <= table->textIndex->mask + 1)
        insert("data/ui/page" + std::to_string(next++) + ".html");
    tavrix::sys::heapFailNext(1);
    insert("data/ui/page" + std::to_string(next++) + ".html");
    EXPECT_EQ(table->textIndex, nullptr) << "no larger text index";
    expectModel("without a text index");
    const std::string gone = model.begin()->first;
    ASSERT_NE(strdb_delete(table, gone.c_str(), 0), nullptr);
    model.erase(gone);
    expectModel("a deletion without a text index");

    while (table->texts < table->textIndexRetryAt)
        insert("data/ui/page" + std::to_string(next++) + ".html");
    EXPECT_NE(table->textIndex, nullptr) << "made again once the entries have doubled";
    expectModel("made again");
    EXPECT_TRUE(errorSink::messages.empty()) << "the index reports nothing";
}

// A keyLen short of the text stores its first keyLen bytes in the chain of the whole text's hash: found by
// the same call, not by a lookup of the stored text, and kept out of the text index.
TEST(strdbTest, keyLengthShortOfTheTextKeysTheChainOfTheWholeText)
{
    tableOwner owner(strdb_create("short", 1, 0, 0, errorSink::report, nullptr, nullptr));
    rbdb* table = owner.table;
    EXPECT_EQ(strdb_insert(table, "abcdef", 3, valueOf(1)), valueOf(1));
    EXPECT_EQ(strdb_fetch(table, "abcdef", 3), valueOf(1));
    EXPECT_EQ(strdb_fetch(table, "abc", 0), nullptr);
    EXPECT_EQ(table->texts, 0u);
    EXPECT_EQ(strdb_insert(table, "abc", 0, valueOf(2)), valueOf(2));
    EXPECT_EQ(strdb_fetch(table, "abc", 0), valueOf(2));
    EXPECT_EQ(strdb_fetch(table, "abcdef", 3), valueOf(1));
    EXPECT_EQ(table->texts, 1u);
    EXPECT_EQ(strdb_delete(table, "abcdef", 3), valueOf(1));
    EXPECT_EQ(strdb_delete(table, "abc", 0), valueOf(2));
    EXPECT_EQ(table->texts, 0u);
    EXPECT_EQ(table->count, 0u);
}

TEST(strdbTest, longKeysAreStoredWhole)
{
    tableOwner owner(strdb_create("long", 0, 0, 0, nullptr, nullptr, nullptr));
    const std::string a = std::string(300, 'a') + "1";
    const std::string b = std::string(300, 'a') + "2";
    strdb_insert(owner.table, a.c_str(), 0, valueOf(1));
    strdb_insert(owner.table, b.c_str(), static_cast<uint32_t>(b.size()), valueOf(2));
    EXPECT_EQ(strdb_fetch(owner.table, a.c_str(), 0), valueOf(1));
    EXPECT_EQ(strdb_fetch(owner.table, b.c_str(), 0), valueOf(2));
    EXPECT_EQ(strdb_fetch(owner.table, std::string(300, 'a').c_str(), 0), nullptr);
}

} // namespace
