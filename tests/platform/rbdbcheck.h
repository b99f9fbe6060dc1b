#pragma once
// Helpers for the keyed-table tests: a structural check of a whole table and its indexes, an allocator that
// counts its blocks and can be told to fail, and an error sink that keeps every message.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platformlib/util/rbdb.h"

namespace rbdbtest {

// Checks one subtree; returns its black height, or -1 with the reason in why.
inline int checkSubtree(const rbdb* table, const dbn* node, const dbn* parent, uint32_t bucket, int64_t low,
                        int64_t high, uint32_t& nodes, uint32_t& queued, std::string& why)
{
    if (!node)
        return 1;
    char where[96];
    std::snprintf(where, sizeof(where), "bucket %u key %d: ", bucket, static_cast<int32_t>(node->key));
    ++nodes;
    if (node->parent != parent)
        return why = std::string(where) + "wrong parent", -1;
    if (node->key % RBDB_BUCKET_COUNT != bucket)
        return why = std::string(where) + "in the wrong bucket", -1;
    const int64_t key = static_cast<int32_t>(node->key);
    if (key <= low || key >= high)
        return why = std::string(where) + "out of order", -1;
    if (node->colour != DBN_RED && node->colour != DBN_BLACK)
        return why = std::string(where) + "bad colour", -1;
    if (node->colour == DBN_RED && ((node->left && node->left->colour == DBN_RED) ||
                                    (node->right && node->right->colour == DBN_RED)))
        return why = std::string(where) + "red node with a red child", -1;
    if (node->deleted > 1 || (node->deleted == 1) != (node->value == nullptr))
        return why = std::string(where) + "deleted flag and value disagree", -1;
    if (node->deleted) {
        ++queued;
        if (table->walkDepth == 0)
            return why = std::string(where) + "queued deletion outside a walk", -1;
    }
    if (table->isString && node->value) {
        const strdbEntry* prev = nullptr;
        for (const strdbEntry* e = static_cast<const strdbEntry*>(node->value); e; prev = e, e = e->next) {
            if (e->prev != prev)
                return why = std::string(where) + "broken chain links", -1;
            if (e->hash != node->key || strdb_hash(e->key) != e->hash)
                return why = std::string(where) + "entry hash differs from its node", -1;
            if (std::string(e->key).size() != e->keyLen)
                return why = std::string(where) + "entry length differs from its text", -1;
        }
    }
    const int left = checkSubtree(table, node->left, node, bucket, low, key, nodes, queued, why);
    if (left < 0)
        return -1;
    const int right = checkSubtree(table, node->right, node, bucket, key, high, nodes, queued, why);
    if (right < 0)
        return -1;
    if (left != right)
        return why = std::string(where) + "black heights differ", -1;
    return left + (node->colour == DBN_BLACK ? 1 : 0);
}

inline uint32_t listLength(const dbFreeNode* record)
{
    uint32_t n = 0;
    for (; record; record = record->next)
        ++n;
    return n;
}

inline uint32_t poolLength(const dbn* node)
{
    uint32_t n = 0;
    for (; node; node = node->parent)
        ++n;
    return n;
}

inline void collectNodes(const dbn* node, std::set<const dbn*>& nodes)
{
    if (!node)
        return;
    nodes.insert(node);
    collectNodes(node->left, nodes);
    collectNodes(node->right, nodes);
}

// The index, when there is one, holds every node of the trees once, with its key and value, and every
// lookup (through the index) finds what the trees hold.
inline ::testing::AssertionResult indexAgrees(const rbdb* table)
{
    std::set<const dbn*> nodes;
    for (const dbn* root : table->buckets)
        collectNodes(root, nodes);
    if (const dbIndex* index = table->index) {
        std::map<uint32_t, void*> slots;
        for (uint32_t i = 0; i <= index->mask; ++i) {
            const dbIndexSlot& slot = index->slots[i];
            if (slot.taken && !slots.emplace(slot.key, slot.value).second)
                return ::testing::AssertionFailure() << "key " << static_cast<int32_t>(slot.key) << " in two index slots";
        }
        if (slots.size() != nodes.size() || slots.size() != index->used)
            return ::testing::AssertionFailure() << "index holds " << slots.size() << " (says " << index->used
                                                 << ") of " << nodes.size() << " nodes";
        if (slots.size() * 2 > index->mask + 1)
            return ::testing::AssertionFailure() << "index more than half full";
        for (const dbn* node : nodes) {
            const auto slot = slots.find(node->key);
            if (slot == slots.end() || slot->second != node->value)
                return ::testing::AssertionFailure() << "key " << static_cast<int32_t>(node->key)
                                                     << " missing from the index or with another value";
        }
    }
    rbdb* reader = const_cast<rbdb*>(table);
    for (const dbn* node : nodes)
        if (db_fetchLocked(reader, node->key) != node->value)
            return ::testing::AssertionFailure() << "lookup of key " << static_cast<int32_t>(node->key)
                                                 << " differs from its node";
    return ::testing::AssertionSuccess();
}

// In a table used with texts, the text index, when there is one, holds every entry whose text hashes to
// its chain's hash once, under the text's index hash, and nothing else; texts counts those entries.
inline ::testing::AssertionResult textIndexAgrees(const rbdb* table)
{
    if (!table->isString && !table->textIndex && !table->texts)
        return ::testing::AssertionSuccess();
    std::set<const dbn*> nodes;
    for (const dbn* root : table->buckets)
        collectNodes(root, nodes);
    std::set<const void*> whole;
    for (const dbn* node : nodes)
        for (const strdbEntry* e = static_cast<const strdbEntry*>(node->value); e; e = e->next)
            if (strdb_hash(e->key) == e->hash)
                whole.insert(e);
    if (whole.size() != table->texts)
        return ::testing::AssertionFailure() << "texts " << table->texts << " but " << whole.size() << " whole entries";
    const dbIndex* index = table->textIndex;
    if (!index)
        return ::testing::AssertionSuccess();
    std::set<const void*> slots;
    for (uint32_t i = 0; i <= index->mask; ++i) {
        const dbIndexSlot& slot = index->slots[i];
        if (!slot.taken)
            continue;
        const strdbEntry* e = static_cast<const strdbEntry*>(slot.value);
        if (!whole.count(e) || !slots.insert(e).second)
            return ::testing::AssertionFailure() << "text index slot " << i << ": an entry not in the chains, or twice";
        if (slot.key != strdb_indexHash(e->key, e->keyLen))
            return ::testing::AssertionFailure() << "text index slot " << i << " under another hash than its text's";
    }
    if (slots.size() != whole.size() || slots.size() != index->used)
        return ::testing::AssertionFailure() << "text index holds " << slots.size() << " (says " << index->used
                                             << ") of " << whole.size() << " entries";
    if (slots.size() * 2 > index->mask + 1)
        return ::testing::AssertionFailure() << "text index more than half full";
    return ::testing::AssertionSuccess();
}

// Red-black rules, search order, parent links, buckets, the count, the queued deletions and the indexes.
inline ::testing::AssertionResult tableValid(const rbdb* table)
{
    uint32_t nodes = 0;
    uint32_t queued = 0;
    std::string why;
    for (uint32_t b = 0; b < RBDB_BUCKET_COUNT; ++b) {
        const dbn* root = table->buckets[b];
        if (root && root->colour != DBN_BLACK)
            return ::testing::AssertionFailure() << "bucket " << b << ": red root";
        if (checkSubtree(table, root, nullptr, b, INT64_MIN, INT64_MAX, nodes, queued, why) < 0)
            return ::testing::AssertionFailure() << why;
    }
    if (nodes != table->count)
        return ::testing::AssertionFailure() << "count " << table->count << " but " << nodes << " nodes";
    if (listLength(table->pending) != queued)
        return ::testing::AssertionFailure() << "pending list does not match the queued nodes";
    std::set<const dbn*> seen;
    for (const dbFreeNode* r = table->pending; r; r = r->next) {
        if (!r->node->deleted || *r->bucket == nullptr || !seen.insert(r->node).second)
            return ::testing::AssertionFailure() << "bad pending record";
    }
    if (const auto nodeIndex = indexAgrees(table); !nodeIndex)
        return nodeIndex;
    return textIndexAgrees(table);
}

// Keeps every block it hands out; fails the call numbered failAt (counting from 1), or every call from
// there on when persistent.
struct countingAllocator {
    static inline uint32_t calls = 0;
    static inline uint32_t failAt = 0;
    static inline bool persistent = false;
    static inline std::set<void*> live;

    static void reset(uint32_t failCall = 0, bool failPersistently = false)
    {
        calls = 0;
        failAt = failCall;
        persistent = failPersistently;
        live.clear();
    }
    static void* alloc(uint32_t size)
    {
        ++calls;
        if (failAt && (calls == failAt || (persistent && calls > failAt)))
            return nullptr;
        void* p = std::malloc(size);
        live.insert(p);
        return p;
    }
    static void release(void* p)
    {
        if (live.erase(p) != 1)
            ADD_FAILURE() << "release of a block that is not live";
        std::free(p);
    }
};

// Keeps the messages of the tables that report to it.
struct errorSink {
    static inline std::vector<std::string> messages;

    static void clear() { messages.clear(); }
    __attribute__((format(printf, 1, 2))) static void report(const char* format, ...)
    {
        char text[16384];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        messages.push_back(text);
    }
};

inline void* valueOf(uint64_t n) { return reinterpret_cast<void*>(static_cast<uintptr_t>(n * 16 + 16)); }

} // namespace rbdbtest
