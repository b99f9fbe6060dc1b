#include "platformlib/util/rbdb.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platformlib/hooks.h"
#include "platformlib/posix/heap.h"

namespace {

const char unknownName[] = "Unknown";

constexpr uint32_t DB_POOL_REFILL = 128;
constexpr uint32_t DB_FREEPOOL_REFILL = 64;
constexpr uint32_t STRDB_MIN_KEY_BYTES = 32;
constexpr uint32_t RBDB_ERROR_BUFFER = 8192;
// A red-black tree of n nodes is at most 2*log2(n+1) high, and one bucket holds fewer than 2^21 keys.
constexpr int DB_WALK_STACK = 64;
constexpr uint32_t DB_INDEX_MIN_BITS = 4;
// 2^64 over the golden ratio: sequential keys spread over the whole index.
constexpr uint64_t DB_INDEX_MULTIPLIER = 0x9E3779B97F4A7C15ull;

// Thread ids for the lock's owner field: small, unique and never 0.
std::atomic<uint32_t> lastThreadId{0};

// Constant-initialised, so that reading it costs no call: a thread takes its id on its first use.
thread_local uint32_t threadId = 0;

uint32_t currentThreadId()
{
    if (__builtin_expect(threadId == 0, 0))
        threadId = lastThreadId.fetch_add(1) + 1;
    return threadId;
}

uint32_t wordCount(uint64_t word) { return static_cast<uint32_t>(word); }
uint32_t wordOwner(uint64_t word) { return static_cast<uint32_t>(word >> 32); }
uint64_t makeWord(uint32_t count, uint32_t owner) { return (static_cast<uint64_t>(owner) << 32) | count; }

// The writer word names this thread as its owner; a free word (0) names no one.
bool ownedBySelf(uint64_t word) { return word != 0 && wordOwner(word) == currentThreadId(); }

} // namespace

// The writer's own lookups (from a walk's callback, say) pass: it already keeps everyone else out.
void rwSpinLock::lockRead()
{
    if (ownedBySelf(writer.load()))
        return;
    for (;;) {
        while (writer.load() != 0) {
        }
        readers.fetch_add(1);
        if (writer.load() == 0)
            return;
        readers.fetch_sub(1);
    }
}

void rwSpinLock::lockWrite()
{
    const uint32_t self = currentThreadId();
    uint64_t seen = writer.load();
    while (wordOwner(seen) != 0 && wordOwner(seen) != self)
        seen = writer.load();
    const uint64_t mine = makeWord(wordCount(seen) + 1, self);
    uint64_t expected = seen;
    while (!writer.compare_exchange_weak(expected, mine))
        expected = seen;
    // Having set the writer word holds new readers back; wait for the present ones to leave.
    while (readers.load() != 0) {
    }
}

// A read the owner passed took no reader count.
void rwSpinLock::unlockRead()
{
    if (ownedBySelf(writer.load()))
        return;
    readers.fetch_sub(1);
}

void rwSpinLock::unlockWrite()
{
    const uint32_t self = currentThreadId();
    uint64_t word = writer.load();
    for (;;) {
        if (wordOwner(word) != self)
            std::abort();
        const uint32_t count = wordCount(word) - 1;
        if (writer.compare_exchange_weak(word, makeWord(count, count ? self : 0)))
            return;
    }
}

namespace {

void* rbdb_defaultAlloc(uint32_t size) { return std::malloc(size); }

void rbdb_defaultFree(void* pointer) { std::free(pointer); }

__attribute__((format(printf, 1, 2))) void rbdb_defaultError(const char* format, ...)
{
    char text[RBDB_ERROR_BUFFER];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    platform_getLogger()->log(tavrix::util::LOG_ERROR, "%s", text);
}

void db_lockRead(rbdb* table)
{
    if (table->locking)
        table->lock->lockRead();
}

void db_unlockRead(rbdb* table)
{
    if (table->locking)
        table->lock->unlockRead();
}

void db_lockWrite(rbdb* table)
{
    if (table->locking)
        table->lock->lockWrite();
}

void db_unlockWrite(rbdb* table)
{
    if (table->locking)
        table->lock->unlockWrite();
}

dbn** db_bucket(rbdb* table, uint32_t key) { return &table->buckets[key % RBDB_BUCKET_COUNT]; }

// Keys order as signed 32-bit integers. Returns the node of the key, or null with *last set to the
// node under which the key would hang.
dbn* db_search(dbn* root, uint32_t key, dbn** last)
{
    const int32_t wanted = static_cast<int32_t>(key);
    dbn* above = nullptr;
    dbn* node = root;
    while (node) {
        const int32_t here = static_cast<int32_t>(node->key);
        if (wanted == here)
            break;
        above = node;
        node = wanted < here ? node->left : node->right;
    }
    *last = above;
    return node;
}

bool isRed(const dbn* node) { return node && node->colour == DBN_RED; }

void db_replaceChild(dbn** root, dbn* parent, dbn* from, dbn* to)
{
    if (!parent)
        *root = to;
    else if (parent->left == from)
        parent->left = to;
    else
        parent->right = to;
}

void db_rotateLeft(dbn** root, dbn* node)
{
    dbn* pivot = node->right;
    node->right = pivot->left;
    if (pivot->left)
        pivot->left->parent = node;
    pivot->parent = node->parent;
    db_replaceChild(root, node->parent, node, pivot);
    pivot->left = node;
    node->parent = pivot;
}

void db_rotateRight(dbn** root, dbn* node)
{
    dbn* pivot = node->left;
    node->left = pivot->right;
    if (pivot->right)
        pivot->right->parent = node;
    pivot->parent = node->parent;
    db_replaceChild(root, node->parent, node, pivot);
    pivot->right = node;
    node->parent = pivot;
}

void db_insertFixup(dbn** root, dbn* node)
{
    while (isRed(node->parent)) {
        dbn* parent = node->parent;
        dbn* grand = parent->parent;
        if (parent == grand->left) {
            dbn* uncle = grand->right;
            if (isRed(uncle)) {
                parent->colour = DBN_BLACK;
                uncle->colour = DBN_BLACK;
                grand->colour = DBN_RED;
                node = grand;
                continue;
            }
            if (node == parent->right) {
                db_rotateLeft(root, parent);
                node = parent;
                parent = node->parent;
            }
            parent->colour = DBN_BLACK;
            grand->colour = DBN_RED;
            db_rotateRight(root, grand);
        } else {
            dbn* uncle = grand->left;
            if (isRed(uncle)) {
                parent->colour = DBN_BLACK;
                uncle->colour = DBN_BLACK;
                grand->colour = DBN_RED;
                node = grand;
                continue;
            }
            if (node == parent->left) {
                db_rotateRight(root, parent);
                node = parent;
                parent = node->parent;
            }
            parent->colour = DBN_BLACK;
            grand->colour = DBN_RED;
            db_rotateLeft(root, grand);
        }
    }
    (*root)->colour = DBN_BLACK;
}

// Moves the node to its in-order successor's place and the successor to its own, colours swapped. The
// nodes themselves move, not their contents: queued deletions point at them.
void db_swapWithSuccessor(dbn** root, dbn* node)
{
    dbn* next = node->right;
    while (next->left)
        next = next->left;
    const uint8_t colour = node->colour;
    node->colour = next->colour;
    next->colour = colour;

    dbn* nextParent = next->parent;
    dbn* nextRight = next->right;
    db_replaceChild(root, node->parent, node, next);
    next->parent = node->parent;
    next->left = node->left;
    next->left->parent = next;
    if (nextParent == node) {
        next->right = node;
        node->parent = next;
    } else {
        next->right = node->right;
        next->right->parent = next;
        nextParent->left = node;
        node->parent = nextParent;
    }
    node->left = nullptr;
    node->right = nextRight;
    if (nextRight)
        nextRight->parent = node;
}

// Rebalances after a black node left the tree; child took its place under parent.
void db_eraseFixup(dbn** root, dbn* child, dbn* parent)
{
    while (child != *root && !isRed(child)) {
        if (child == parent->left) {
            dbn* sibling = parent->right;
            if (isRed(sibling)) {
                sibling->colour = DBN_BLACK;
                parent->colour = DBN_RED;
                db_rotateLeft(root, parent);
                sibling = parent->right;
            }
            if (!isRed(sibling->left) && !isRed(sibling->right)) {
                sibling->colour = DBN_RED;
                child = parent;
                parent = child->parent;
                continue;
            }
            if (!isRed(sibling->right)) {
                sibling->left->colour = DBN_BLACK;
                sibling->colour = DBN_RED;
                db_rotateRight(root, sibling);
                sibling = parent->right;
            }
            sibling->colour = parent->colour;
            parent->colour = DBN_BLACK;
            sibling->right->colour = DBN_BLACK;
            db_rotateLeft(root, parent);
        } else {
            dbn* sibling = parent->left;
            if (isRed(sibling)) {
                sibling->colour = DBN_BLACK;
                parent->colour = DBN_RED;
                db_rotateRight(root, parent);
                sibling = parent->left;
            }
            if (!isRed(sibling->left) && !isRed(sibling->right)) {
                sibling->colour = DBN_RED;
                child = parent;
                parent = child->parent;
                continue;
            }
            if (!isRed(sibling->left)) {
                sibling->right->colour = DBN_BLACK;
                sibling->colour = DBN_RED;
                db_rotateLeft(root, sibling);
                sibling = parent->left;
            }
            sibling->colour = parent->colour;
            parent->colour = DBN_BLACK;
            sibling->left->colour = DBN_BLACK;
            db_rotateRight(root, parent);
        }
        child = *root;
    }
    if (child)
        child->colour = DBN_BLACK;
}

void db_erase(dbn** root, dbn* node)
{
    if (node->left && node->right)
        db_swapWithSuccessor(root, node);
    dbn* child = node->left ? node->left : node->right;
    dbn* parent = node->parent;
    if (child)
        child->parent = parent;
    db_replaceChild(root, parent, node, child);
    if (node->colour == DBN_BLACK)
        db_eraseFixup(root, child, parent);
}

dbn* db_dbnpool_get(rbdb* table)
{
    if (!table->usePool) {
        dbn* node = static_cast<dbn*>(table->allocFn(sizeof(dbn)));
        if (!node)
            table->errorFn("db_dbnpool_get: (Table is not using Pool) -> Allocation of new 'node' faild (OOM) - Table: %s", table->name);
        return node;
    }
    if (!table->pool) {
        for (uint32_t i = 0; i < DB_POOL_REFILL; ++i) {
            dbn* node = static_cast<dbn*>(table->allocFn(sizeof(dbn)));
            if (!node) {
                table->errorFn("db_dbnpool_get: (Table is using pool) -> Allocation of new 'node' failed. (OOM) - Table: %s", table->name);
                break;
            }
            node->parent = table->pool;
            table->pool = node;
        }
        if (!table->pool)
            return nullptr;
    }
    dbn* node = table->pool;
    table->pool = node->parent;
    return node;
}

void db_dbnpool_put(rbdb* table, dbn* node)
{
    if (!table->usePool) {
        table->freeFn(node);
        return;
    }
    node->parent = table->pool;
    table->pool = node;
}

void db_freepool_put(rbdb* table, dbFreeNode* record)
{
    record->next = table->freeNodes;
    table->freeNodes = record;
}

dbFreeNode* db_freepool_get(rbdb* table)
{
    if (!table->freeNodes) {
        for (uint32_t i = 0; i < DB_FREEPOOL_REFILL; ++i) {
            dbFreeNode* record = static_cast<dbFreeNode*>(table->allocFn(sizeof(dbFreeNode)));
            if (!record) {
                table->errorFn("db_freepool_get: allocation of new free node failed (OOM). Table: %s", table->name);
                break;
            }
            db_freepool_put(table, record);
        }
        if (!table->freeNodes)
            return nullptr;
    }
    dbFreeNode* record = table->freeNodes;
    table->freeNodes = record->next;
    return record;
}

// Takes a revived node's queued deletion back.
void db_unqueue(rbdb* table, dbn* node)
{
    for (dbFreeNode** link = &table->pending; *link; link = &(*link)->next) {
        dbFreeNode* record = *link;
        if (record->node == node) {
            *link = record->next;
            db_freepool_put(table, record);
            return;
        }
    }
}

// Pre-order over one tree: a node, its left subtree, then its right subtree. A node's children are read
// before it is visited, so the visit may release it. A visit returning true stops the walk.
template <typename Visit>
bool db_walkTree(dbn* root, Visit visit)
{
    dbn* waiting[DB_WALK_STACK];
    int depth = 0;
    dbn* node = root;
    while (node) {
        dbn* left = node->left;
        if (node->right)
            waiting[depth++] = node->right;
        if (visit(node))
            return true;
        if (left)
            node = left;
        else
            node = depth ? waiting[--depth] : nullptr;
    }
    return false;
}

uint32_t db_indexHome(const dbIndex* index, uint32_t key)
{
    return static_cast<uint32_t>((key * DB_INDEX_MULTIPLIER) >> index->shift);
}

bool db_indexFull(const dbIndex* index) { return (uint64_t(index->used) + 1) * 2 > uint64_t(index->mask) + 1; }

// The fewest slots, a power of two, that keep the index at most half full with `nodes` in it.
uint32_t db_indexSlotsFor(uint32_t nodes)
{
    uint32_t bits = DB_INDEX_MIN_BITS;
    while (bits < 32 && (uint64_t(1) << bits) < uint64_t(nodes) * 2)
        ++bits;
    return bits;
}

dbIndex* db_indexMake(uint32_t bits)
{
    const size_t slots = size_t(1) << bits;
    void* memory = tavrix::sys::heapAlloc(sizeof(dbIndex) + slots * sizeof(dbIndexSlot), alignof(dbIndex));
    if (!memory)
        return nullptr;
    dbIndex* index = new (memory) dbIndex{static_cast<uint32_t>(slots - 1), 64 - bits, 0};
    std::memset(index->slots, 0, slots * sizeof(dbIndexSlot));
    return index;
}

void db_indexPlace(dbIndex* index, uint32_t key, void* value)
{
    uint32_t i = db_indexHome(index, key);
    while (index->slots[i].taken)
        i = (i + 1) & index->mask;
    index->slots[i] = {key, 1, value};
    index->used++;
}

// The first slot of the key that `accepts` takes, or null.
template <class ACCEPTS>
dbIndexSlot* db_indexFindIf(dbIndex* index, uint32_t key, ACCEPTS accepts)
{
    for (uint32_t i = db_indexHome(index, key);; i = (i + 1) & index->mask) {
        dbIndexSlot& slot = index->slots[i];
        if (!slot.taken)
            return nullptr;
        if (slot.key == key && accepts(slot))
            return &slot;
    }
}

// The key's slot, or null when the key is absent.
dbIndexSlot* db_indexFind(dbIndex* index, uint32_t key)
{
    return db_indexFindIf(index, key, [](const dbIndexSlot&) { return true; });
}

// Takes the slot back; the slots behind it that may move toward their home close the gap, so that no
// search stops early at it.
void db_indexRemoveSlot(dbIndex* index, dbIndexSlot* taken)
{
    uint32_t hole = static_cast<uint32_t>(taken - index->slots);
    for (uint32_t next = (hole + 1) & index->mask; index->slots[next].taken; next = (next + 1) & index->mask) {
        const uint32_t home = db_indexHome(index, index->slots[next].key);
        if (((next - home) & index->mask) >= ((next - hole) & index->mask)) {
            index->slots[hole] = index->slots[next];
            hole = next;
        }
    }
    index->slots[hole].taken = 0;
    index->used--;
}

void db_indexRemove(dbIndex* index, uint32_t key) { db_indexRemoveSlot(index, db_indexFind(index, key)); }

// Room in an index for `count` slots in use: a larger index, filled from the present one or, without one,
// by `fill` from the trees. When the heap refuses, the table goes without that index until the count has
// doubled.
template <class FILL>
void db_indexReserve(dbIndex*& index, uint32_t& retryAt, uint32_t count, FILL fill)
{
    dbIndex* old = index;
    if (old ? !db_indexFull(old) : count < retryAt)
        return;
    dbIndex* fresh = db_indexMake(db_indexSlotsFor(count));
    if (fresh && old) {
        for (uint32_t i = 0; i <= old->mask; ++i)
            if (old->slots[i].taken)
                db_indexPlace(fresh, old->slots[i].key, old->slots[i].value);
    } else if (fresh) {
        fill(fresh);
    } else {
        retryAt = count < UINT32_MAX / 2 ? count * 2 : UINT32_MAX;
    }
    tavrix::sys::heapFree(old);
    index = fresh;
}

// Room in the node index for one more node.
void db_nodeIndexReserve(rbdb* table)
{
    db_indexReserve(table->index, table->indexRetryAt, table->count + 1, [table](dbIndex* fresh) {
        for (dbn* root : table->buckets)
            db_walkTree(root, [fresh](dbn* node) {
                db_indexPlace(fresh, node->key, node->value);
                return false;
            });
    });
}

// Every change of a node's value goes through here, so that the index keeps it too.
void db_setValue(rbdb* table, dbn* node, void* value)
{
    node->value = value;
    if (table->index)
        db_indexFind(table->index, node->key)->value = value;
}

// Erases a node from its tree and the index and gives it back.
void db_release(rbdb* table, dbn** root, dbn* node)
{
    db_erase(root, node);
    if (table->index)
        db_indexRemove(table->index, node->key);
    db_dbnpool_put(table, node);
    table->count--;
}

void* db_insert(rbdb* table, uint32_t key, void* value, uint8_t replace)
{
    dbn** root = db_bucket(table, key);
    dbn* last;
    dbn* node = db_search(*root, key, &last);
    if (node) {
        if (node->deleted) {
            db_unqueue(table, node);
            node->deleted = 0;
            db_setValue(table, node, value);
            return value;
        }
        void* stored = node->value;
        if (replace)
            db_setValue(table, node, value);
        return stored;
    }
    node = db_dbnpool_get(table);
    if (!node) {
        table->errorFn("db_insert: got NULL dbn node - insert failed.! (Table: %s Key: %d)", table->name, static_cast<int32_t>(key));
        return nullptr;
    }
    db_nodeIndexReserve(table);
    node->key = key;
    node->value = value;
    node->deleted = 0;
    node->left = nullptr;
    node->right = nullptr;
    node->parent = last;
    if (!last) {
        node->colour = DBN_BLACK;
        *root = node;
    } else {
        node->colour = DBN_RED;
        if (static_cast<int32_t>(key) < static_cast<int32_t>(last->key))
            last->left = node;
        else
            last->right = node;
        db_insertFixup(root, node);
    }
    if (table->index)
        db_indexPlace(table->index, key, value);
    table->count++;
    return value;
}

void* db_fetch(rbdb* table, uint32_t key)
{
    if (table->index) {
        const dbIndexSlot* slot = db_indexFind(table->index, key);
        return slot ? slot->value : nullptr;
    }
    dbn* last;
    dbn* node = db_search(*db_bucket(table, key), key, &last);
    return node ? node->value : nullptr;
}

void* db_delete(rbdb* table, uint32_t key)
{
    dbn** root = db_bucket(table, key);
    dbn* last;
    dbn* node = db_search(*root, key, &last);
    if (!node || node->deleted)
        return nullptr;
    void* value = node->value;
    if (table->walkDepth == 0) {
        db_release(table, root, node);
        return value;
    }
    dbFreeNode* record = db_freepool_get(table);
    if (!record) {
        table->errorFn("db_delete: cant get free node - Table: %s , del key: %d", table->name, static_cast<int32_t>(key));
        return nullptr;
    }
    record->node = node;
    record->bucket = root;
    record->next = table->pending;
    table->pending = record;
    node->deleted = 1;
    db_setValue(table, node, nullptr);
    return value;
}

void db_iterBegin(rbdb* table) { table->walkDepth++; }

void db_iterEnd(rbdb* table)
{
    if (table->walkDepth != 0)
        table->walkDepth--;
    if (table->walkDepth != 0)
        return;
    while (dbFreeNode* record = table->pending) {
        table->pending = record->next;
        db_release(table, record->bucket, record->node);
        db_freepool_put(table, record);
    }
}

// A walk holds the write side, so that its callbacks may change the table on the walking thread.
template <typename Visit>
int db_walk(rbdb* table, Visit visit)
{
    db_lockWrite(table);
    db_iterBegin(table);
    int stopped = 0;
    for (uint32_t i = 0; i < RBDB_BUCKET_COUNT && !stopped; ++i)
        stopped = db_walkTree(table->buckets[i], [&](dbn* node) { return !node->deleted && visit(node); });
    db_iterEnd(table);
    db_unlockWrite(table);
    return stopped;
}

strdbEntry* strdb_allocEntry(rbdb* table, const char* key, uint32_t keyLen, uint32_t hash, void* value)
{
    const uint32_t keyBytes = keyLen + 1 > STRDB_MIN_KEY_BYTES ? keyLen + 1 : STRDB_MIN_KEY_BYTES;
    strdbEntry* entry = static_cast<strdbEntry*>(table->allocFn(sizeof(strdbEntry) + keyBytes));
    if (!entry) {
        table->errorFn("strdb_allocEntry: allocation of new entry failed (OOM). Table: %s", table->name);
        return nullptr;
    }
    entry->next = nullptr;
    entry->prev = nullptr;
    entry->value = value;
    entry->hash = hash;
    entry->keyLen = keyLen;
    std::memcpy(entry->key, key, keyLen);
    entry->key[keyLen] = '\0';
    return entry;
}

void strdb_freeChain(rbdb* table, strdbEntry* entry)
{
    while (entry) {
        strdbEntry* next = entry->next;
        table->freeFn(entry);
        entry = next;
    }
}

// keyLen 0 asks for the text's length; a keyLen beyond the text ends at its NUL, so that nothing past the
// caller's key is read.
uint32_t strdb_keyLen(const char* key, uint32_t keyLen)
{
    return static_cast<uint32_t>(keyLen ? strnlen(key, keyLen) : std::strlen(key));
}

strdbEntry* strdb_find(strdbEntry* entry, const char* key, uint32_t keyLen)
{
    for (; entry; entry = entry->next)
        if (entry->keyLen == keyLen && std::memcmp(entry->key, key, keyLen) == 0)
            return entry;
    return nullptr;
}

// An entry is in the text index when its text is the whole text it was stored with (`whole`: the
// caller's key ended at keyLen), so that a lookup of that text through the index finds what the trees'
// chain of its hash holds. Only a keyLen short of the caller's text makes any other.
bool strdb_indexable(const strdbEntry* entry, bool whole) { return whole || strdb_hash(entry->key) == entry->hash; }

uint32_t strdb_entryIndexHash(const strdbEntry* entry) { return strdb_indexHash(entry->key, entry->keyLen); }

// Room in the text index for one more entry.
void strdb_textIndexReserve(rbdb* table)
{
    db_indexReserve(table->textIndex, table->textIndexRetryAt, table->texts + 1, [table](dbIndex* fresh) {
        for (dbn* root : table->buckets)
            db_walkTree(root, [fresh](dbn* node) {
                for (strdbEntry* entry = static_cast<strdbEntry*>(node->value); entry; entry = entry->next)
                    if (strdb_indexable(entry, false))
                        db_indexPlace(fresh, strdb_entryIndexHash(entry), entry);
                return false;
            });
    });
}

void strdb_textIndexAdd(rbdb* table, strdbEntry* entry)
{
    if (table->textIndex)
        db_indexPlace(table->textIndex, strdb_entryIndexHash(entry), entry);
    table->texts++;
}

// Before the entry is freed.
void strdb_textIndexDrop(rbdb* table, const strdbEntry* entry, bool whole)
{
    if (!strdb_indexable(entry, whole))
        return;
    if (table->textIndex)
        db_indexRemoveSlot(table->textIndex, db_indexFindIf(table->textIndex, strdb_entryIndexHash(entry), [entry](const dbIndexSlot& slot) { return slot.value == entry; }));
    table->texts--;
}

// The entry of the text: through the text index for a whole text, else in the chain of its hash.
strdbEntry* strdb_lookup(rbdb* table, const char* key, uint32_t keyLen, bool whole, uint32_t indexHash)
{
    if (!whole || !table->textIndex)
        return strdb_find(static_cast<strdbEntry*>(db_fetch(table, strdb_hash(key))), key, keyLen);
    const dbIndexSlot* slot = db_indexFindIf(table->textIndex, indexHash, [key, keyLen](const dbIndexSlot& candidate) {
        const strdbEntry* entry = static_cast<const strdbEntry*>(candidate.value);
        return entry->keyLen == keyLen && std::memcmp(entry->key, key, keyLen) == 0;
    });
    return slot ? static_cast<strdbEntry*>(slot->value) : nullptr;
}

// strdb_insert and strdb_set. A failed allocation stores nothing and gives null.
void* strdb_store(rbdb* table, const char* key, uint32_t keyLen, void* value, uint8_t replace)
{
    const uint32_t hash = strdb_hash(key);
    keyLen = strdb_keyLen(key, keyLen);
    db_lockWrite(table);
    void* result = value;
    strdbEntry* first = static_cast<strdbEntry*>(db_fetch(table, hash));
    if (strdbEntry* match = strdb_find(first, key, keyLen)) {
        result = match->value;
        if (replace)
            match->value = value;
    } else if (strdbEntry* entry = strdb_allocEntry(table, key, keyLen, hash, value)) {
        const bool indexed = strdb_indexable(entry, key[keyLen] == '\0');
        if (indexed)
            strdb_textIndexReserve(table);
        if (first) {
            entry->prev = first;
            entry->next = first->next;
            if (first->next)
                first->next->prev = entry;
            first->next = entry;
        } else if (!db_insert(table, hash, entry, replace)) {
            table->freeFn(entry);
            entry = nullptr;
            result = nullptr;
        }
        if (entry && indexed)
            strdb_textIndexAdd(table, entry);
    } else {
        result = nullptr;
    }
    db_unlockWrite(table);
    return result;
}

} // namespace

rbdb* rbdb_init(const char* name, uint8_t locking, uint8_t isString, uint8_t usePool, uint32_t poolCount,
                rbdbErrorFn errorFn, rbdbAllocFn allocFn, rbdbFreeFn freeFn)
{
    const bool external = allocFn && freeFn;
    if (!external) {
        allocFn = rbdb_defaultAlloc;
        freeFn = rbdb_defaultFree;
    }
    void* memory = allocFn(sizeof(rbdb));
    if (!memory) {
        if (errorFn && external)
            errorFn("rbdb_init, using external allocator: returned NULL for table allocation (%s)", name ? name : unknownName);
        else if (errorFn)
            errorFn("rbdb_init, using internal allocator: returned NULL for table allocation (%s)", name ? name : unknownName);
        return nullptr;
    }
    // Every field starts null or 0, so that a failure below can release the table as db_destroy does.
    rbdb* table = new (memory) rbdb{};
    table->allocFn = allocFn;
    table->freeFn = freeFn;
    table->errorFn = errorFn ? errorFn : rbdb_defaultError;
    table->name = unknownName;
    table->usePool = usePool ? 1 : 0;

    if (name) {
        const size_t size = std::strlen(name) + 1;
        char* copy = static_cast<char*>(allocFn(static_cast<uint32_t>(size)));
        if (!copy) {
            table->errorFn("rbdb_init: Allocation of the table name failed, (OOM) Table: %s", name);
            db_destroy(table);
            return nullptr;
        }
        std::memcpy(copy, name, size);
        table->name = copy;
    }

    if (table->usePool) {
        for (uint32_t i = 0; i < poolCount; ++i) {
            dbn* node = static_cast<dbn*>(allocFn(sizeof(dbn)));
            if (!node) {
                table->errorFn("rbdb_init: Allocation of initial pool failed, (OOM), SZ: %u, Table: %s", poolCount, table->name);
                db_destroy(table);
                return nullptr;
            }
            db_dbnpool_put(table, node);
        }
    }

    if (locking) {
        table->lock = new (std::nothrow) rwSpinLock();
        if (!table->lock) {
            table->errorFn("rbdb_init: Allocation of the lock failed, (OOM) Table: %s", table->name);
            db_destroy(table);
            return nullptr;
        }
        table->locking = 1;
    }

    for (uint32_t i = 0; i < DB_FREEPOOL_REFILL; ++i) {
        dbFreeNode* record = static_cast<dbFreeNode*>(allocFn(sizeof(dbFreeNode)));
        if (!record) {
            table->errorFn("rbdb_init: Allocation of the initial freepool failed, (OOM) Table: %s", table->name);
            db_destroy(table);
            return nullptr;
        }
        db_freepool_put(table, record);
    }

    table->isString = isString ? 1 : 0;
    return table;
}

rbdb* db_create(const char* name, uint8_t locking, uint8_t usePool, uint32_t poolCount, rbdbErrorFn errorFn,
                rbdbAllocFn allocFn, rbdbFreeFn freeFn)
{
    return rbdb_init(name, locking, 0, usePool, poolCount, errorFn, allocFn, freeFn);
}

rbdb* strdb_create(const char* name, uint8_t locking, uint8_t usePool, uint32_t poolCount, rbdbErrorFn errorFn,
                   rbdbAllocFn allocFn, rbdbFreeFn freeFn)
{
    return rbdb_init(name, locking, 1, usePool, poolCount, errorFn, allocFn, freeFn);
}

void db_destroy(rbdb* table)
{
    db_lockWrite(table);
    db_iterBegin(table);
    for (uint32_t i = 0; i < RBDB_BUCKET_COUNT; ++i) {
        db_walkTree(table->buckets[i], [table](dbn* node) {
            if (table->isString && node->value)
                strdb_freeChain(table, static_cast<strdbEntry*>(node->value));
            db_dbnpool_put(table, node);
            return false;
        });
        table->buckets[i] = nullptr;
    }
    db_iterEnd(table);
    while (dbFreeNode* record = table->freeNodes) {
        table->freeNodes = record->next;
        table->freeFn(record);
    }
    while (dbn* node = table->pool) {
        table->pool = node->parent;
        table->freeFn(node);
    }
    tavrix::sys::heapFree(table->index);
    tavrix::sys::heapFree(table->textIndex);
    if (table->name != unknownName)
        table->freeFn(const_cast<char*>(table->name));
    if (table->locking) {
        table->lock->unlockWrite();
        delete table->lock;
    }
    table->freeFn(table);
}

void* db_insertLocked(rbdb* table, uint32_t key, void* value)
{
    db_lockWrite(table);
    void* result = db_insert(table, key, value, 0);
    db_unlockWrite(table);
    return result;
}

void* db_setLocked(rbdb* table, uint32_t key, void* value)
{
    db_lockWrite(table);
    void* result = db_insert(table, key, value, 1);
    db_unlockWrite(table);
    return result;
}

void* db_fetchLocked(rbdb* table, uint32_t key)
{
    db_lockRead(table);
    void* result = db_fetch(table, key);
    db_unlockRead(table);
    return result;
}

void* db_deleteLocked(rbdb* table, uint32_t key)
{
    db_lockWrite(table);
    void* result = db_delete(table, key);
    db_unlockWrite(table);
    return result;
}

int db_foreach(rbdb* table, dbForeachFn fn, ...)
{
    va_list args;
    va_start(args, fn);
    const int stopped = db_walk(table, [&](dbn* node) {
        va_list copy;
        va_copy(copy, args);
        const int result = fn(node->key, node->value, copy);
        va_end(copy);
        return result != 0;
    });
    va_end(args);
    return stopped;
}

namespace {

constexpr uint32_t STRDB_HASH_MIX[16] = {
    0x49848F1B, 0xE6255DBA, 0x36DA5BDC, 0x47BF94E9, 0x8CBCCE22, 0x559FC06A, 0xD268F536, 0xE10AF79A,
    0xC1AF4D69, 0x1D2917B5, 0xEC4C304D, 0x9EE5016C, 0x69232F74, 0xFEAD7BB3, 0xE9089AB6, 0xF012F6AE,
};

constexpr uint32_t rotl32(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

// One byte's two mixing rounds, h := rotl(h ^ T[(h + c) & 15], 1), then h := rotl(h ^ T[(h + (c >> 4)) & 15], 2),
// come to rotl(h, 3) XOR a word that depends only on the byte, h's low four bits and its top bit: the word
// for each of those 256 x 32 cases is worked out once, so a byte costs one look-up instead of two in a row.
constexpr uint32_t STRDB_HASH_STATES = 32;

constexpr uint32_t strdb_hashState(uint32_t h) { return (h & 15) | ((h >> 27) & 16); }

struct strdbHashSteps {
    uint32_t word[256][STRDB_HASH_STATES];
};

constexpr strdbHashSteps strdb_hashSteps()
{
    strdbHashSteps steps{};
    for (uint32_t c = 0; c < 256; ++c) {
        for (uint32_t state = 0; state < STRDB_HASH_STATES; ++state) {
            // Any h in this state: the rounds read nothing else of it.
            const uint32_t h = (state & 15) | ((state & 16) << 27);
            uint32_t mixed = rotl32(h ^ STRDB_HASH_MIX[(h + c) & 15], 1);
            mixed = rotl32(mixed ^ STRDB_HASH_MIX[(mixed + (c >> 4)) & 15], 2);
            steps.word[c][state] = mixed ^ rotl32(h, 3);
        }
    }
    return steps;
}

constexpr strdbHashSteps STRDB_HASH_STEPS = strdb_hashSteps();

} // namespace

uint32_t strdb_hash(const char* text)
{
    uint32_t h = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        h = rotl32(h, 3) ^ STRDB_HASH_STEPS.word[*p][strdb_hashState(h)];
    return h;
}

namespace {

// The text index's hash: eight bytes a step, each folded into the state by one 64 x 64 -> 128-bit
// product. Its seed is new each run, so that no list of paths from outside can be made to crowd it.
constexpr uint64_t STRDB_INDEX_K0 = 0xA0761D6478BD642Full;
constexpr uint64_t STRDB_INDEX_K1 = 0xE7037ED1A0B428DBull;

uint64_t strdb_fold(uint64_t a, uint64_t b)
{
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

uint64_t strdb_load64(const unsigned char* p)
{
    uint64_t word;
    std::memcpy(&word, p, sizeof(word));
    return word;
}

uint32_t strdb_load32(const unsigned char* p)
{
    uint32_t word;
    std::memcpy(&word, p, sizeof(word));
    return word;
}

// The last 1 to 7 bytes, read without passing their end; the length, in the state already, tells apart
// the texts whose reads overlap.
uint64_t strdb_loadTail(const unsigned char* p, uint32_t n)
{
    if (n >= 4)
        return (static_cast<uint64_t>(strdb_load32(p + n - 4)) << 32) | strdb_load32(p);
    return (static_cast<uint64_t>(p[0]) << 16) | (static_cast<uint64_t>(p[n >> 1]) << 8) | p[n - 1];
}

uint64_t strdb_indexSeed()
{
    static const uint64_t seed = [] {
        static const char here = 0;
        const uint64_t clock = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        return strdb_fold(clock ^ STRDB_INDEX_K0, reinterpret_cast<uintptr_t>(&here) ^ STRDB_INDEX_K1);
    }();
    return seed;
}

} // namespace

uint32_t strdb_indexHash(const char* text, uint32_t length)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    uint64_t state = strdb_indexSeed() ^ length ^ STRDB_INDEX_K0;
    uint32_t left = length;
    for (; left >= 8; left -= 8, p += 8)
        state = strdb_fold(state ^ strdb_load64(p), STRDB_INDEX_K1);
    if (left)
        state = strdb_fold(state ^ strdb_loadTail(p, left), STRDB_INDEX_K1);
    return static_cast<uint32_t>(strdb_fold(state, STRDB_INDEX_K0));
}

void* strdb_insert(rbdb* table, const char* key, uint32_t keyLen, void* value)
{
    return strdb_store(table, key, keyLen, value, 0);
}

void* strdb_set(rbdb* table, const char* key, uint32_t keyLen, void* value)
{
    return strdb_store(table, key, keyLen, value, 1);
}

void* strdb_fetch(rbdb* table, const char* key, uint32_t keyLen)
{
    keyLen = strdb_keyLen(key, keyLen);
    const bool whole = key[keyLen] == '\0';
    const uint32_t indexHash = strdb_indexHash(key, keyLen);
    db_lockRead(table);
    void* result = nullptr;
    if (strdbEntry* match = strdb_lookup(table, key, keyLen, whole, indexHash)) {
        result = match->value;
    } else {
        // A miss is rare: only the chain of the trees' hash tells whether it is worth a report.
        const strdbEntry* first = static_cast<strdbEntry*>(db_fetch(table, strdb_hash(key)));
        if (first && first->next)
            table->errorFn("strdb_fetch: '%s' hash found, multiple subnodes in tree for this hash; but key was not found ! - ??\n", key);
    }
    db_unlockRead(table);
    return result;
}

void* strdb_delete(rbdb* table, const char* key, uint32_t keyLen)
{
    const uint32_t hash = strdb_hash(key);
    keyLen = strdb_keyLen(key, keyLen);
    db_lockWrite(table);
    void* result = nullptr;
    strdbEntry* first = static_cast<strdbEntry*>(db_fetch(table, hash));
    strdbEntry* match = strdb_find(first, key, keyLen);
    const bool whole = key[keyLen] == '\0';
    if (match && first->next) {
        if (match->prev) {
            match->prev->next = match->next;
            if (match->next)
                match->next->prev = match->prev;
        } else {
            match->next->prev = nullptr;
            db_insert(table, hash, match->next, 1);
        }
        result = match->value;
        strdb_textIndexDrop(table, match, whole);
        table->freeFn(match);
    } else if (match) {
        if (db_delete(table, hash) == match) {
            result = match->value;
            strdb_textIndexDrop(table, match, whole);
            table->freeFn(match);
        } else {
            table->errorFn("strdb_delete: 1st way (no coll) - db_delete returned different than db_fetch\n");
        }
    }
    db_unlockWrite(table);
    return result;
}

int strdb_foreach(rbdb* table, strdbForeachFn fn, ...)
{
    va_list args;
    va_start(args, fn);
    const int stopped = db_walk(table, [&](dbn* node) {
        strdbEntry* entry = static_cast<strdbEntry*>(node->value);
        while (entry) {
            strdbEntry* next = entry->next;
            va_list copy;
            va_copy(copy, args);
            const int result = fn(entry->key, entry->keyLen, entry->value, copy);
            va_end(copy);
            if (result)
                return true;
            entry = next;
        }
        return false;
    });
    va_end(args);
    return stopped;
}
