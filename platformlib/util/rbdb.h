#pragma once
// Keyed tables: a fixed array of buckets, each a red-black tree of nodes ordered by a 32-bit key. A string
// table keys its trees by the hash of the text and hangs a chain of entries (text, value) under each hash.
// Values are the caller's non-null pointers, so a null result always means "absent".
#include <atomic>
#include <cstdarg>
#include <cstdint>

constexpr uint32_t RBDB_BUCKET_COUNT = 3840;

typedef void* (*rbdbAllocFn)(uint32_t size);
typedef void (*rbdbFreeFn)(void* pointer);
typedef void (*rbdbErrorFn)(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A non-zero result stops the walk. The arguments are the walk's trailing ones, positioned at their start.
typedef int (*dbForeachFn)(uint32_t key, void* value, va_list args);
typedef int (*strdbForeachFn)(const char* key, uint32_t keyLen, void* value, va_list args);

constexpr uint8_t DBN_RED = 0;
constexpr uint8_t DBN_BLACK = 1;

struct dbn {
    dbn* parent; // in the node pool: the next spare node
    dbn* left;
    dbn* right;
    uint8_t colour;
    uint8_t deleted; // 1 while a deletion is queued; the value is then null
    uint32_t key;    // the integer key, or the text's hash in a string table
    void* value;     // in a string table: the first entry of the hash's chain
};

struct strdbEntry {
    strdbEntry* next;
    strdbEntry* prev; // null for the chain's first entry
    void* value;
    uint32_t hash;
    uint32_t keyLen; // without the NUL
    char key[];      // the text and a NUL; at least 32 bytes are allocated
};

// A deletion queued during a walk.
struct dbFreeNode {
    dbFreeNode* next;
    dbn* node;
    dbn** bucket;
};

// Reader/writer spin lock. The write side is re-entrant for its owner, and the owner's own reads pass, so
// a walk's callback may look the walked table up. It never waits in the kernel.
struct rwSpinLock {
    std::atomic<int32_t> readers{0};
    // Low half: the owner's write depth; high half: the owner's thread id (0 when free).
    std::atomic<uint64_t> writer{0};

    void lockRead();
    void lockWrite();
    void unlockRead();
    void unlockWrite();
};

// Beside the trees, for lookups only: an open-addressed table from each node's key to its value (linear
// probing, at most half full), so that a lookup reads one slot and no node. It lives on the ordinary heap,
// so that the table's own allocation calls stay as they are.
struct dbIndexSlot {
    uint32_t key;
    uint32_t taken; // 0: a free slot
    void* value;    // the node's value: null while its deletion is queued
};

struct dbIndex {
    uint32_t mask;  // the slot count, a power of two, less one
    uint32_t shift; // 64 less the slot count's bits: a key's home slot is its product's top bits
    uint32_t used;
    dbIndexSlot slots[];
};

struct rbdb {
    dbn* buckets[RBDB_BUCKET_COUNT];
    dbFreeNode* pending;   // deletions queued during walks, newest first
    dbFreeNode* freeNodes; // spare records for queued deletions
    uint32_t count;        // nodes in the trees, queued ones included; distinct hashes in a string table
    uint32_t walkDepth;
    uint8_t usePool;
    dbn* pool;
    uint8_t locking;
    rwSpinLock* lock;
    rbdbAllocFn allocFn;
    rbdbFreeFn freeFn;
    rbdbErrorFn errorFn;
    uint8_t isString;
    const char* name;
    // Null while the heap has no room for it: lookups then search the trees, and the index is made again
    // once the count reaches indexRetryAt.
    dbIndex* index;
    uint32_t indexRetryAt;
    // Beside them for text lookups: the entries by a hash of their text (strdb_indexHash), each slot's
    // value an entry, so that a lookup neither runs the trees' hash nor reads a node. It holds every entry
    // whose text is the whole text it was stored with (texts of them); null and made again as the index.
    dbIndex* textIndex;
    uint32_t textIndexRetryAt;
    uint32_t texts;
};

// With allocFn and freeFn both given every part of the table comes from them, else from the platform heap.
// A null errorFn sends the messages to the platform logger. Null when the table cannot be made.
rbdb* rbdb_init(const char* name, uint8_t locking, uint8_t isString, uint8_t usePool, uint32_t poolCount,
                rbdbErrorFn errorFn, rbdbAllocFn allocFn, rbdbFreeFn freeFn);
rbdb* db_create(const char* name, uint8_t locking, uint8_t usePool, uint32_t poolCount, rbdbErrorFn errorFn,
                rbdbAllocFn allocFn, rbdbFreeFn freeFn);
rbdb* strdb_create(const char* name, uint8_t locking, uint8_t usePool, uint32_t poolCount, rbdbErrorFn errorFn,
                   rbdbAllocFn allocFn, rbdbFreeFn freeFn);
void db_destroy(rbdb* table);

// The value when added (or a queued deletion revived); the stored value, unchanged, when present.
void* db_insertLocked(rbdb* table, uint32_t key, void* value);
// The previous value when present (now replaced); the value when added.
void* db_setLocked(rbdb* table, uint32_t key, void* value);
void* db_fetchLocked(rbdb* table, uint32_t key);
void* db_deleteLocked(rbdb* table, uint32_t key);
// 1 when a callback stopped the walk, else 0.
int db_foreach(rbdb* table, dbForeachFn fn, ...);

uint32_t strdb_hash(const char* text);
// The text index's hash of `length` bytes, seeded once a process.
uint32_t strdb_indexHash(const char* text, uint32_t length);
// keyLen is the text's length without the NUL, or 0 to have it measured; a longer one ends at the NUL.
void* strdb_insert(rbdb* table, const char* key, uint32_t keyLen, void* value);
void* strdb_set(rbdb* table, const char* key, uint32_t keyLen, void* value);
void* strdb_fetch(rbdb* table, const char* key, uint32_t keyLen);
void* strdb_delete(rbdb* table, const char* key, uint32_t keyLen);
int strdb_foreach(rbdb* table, strdbForeachFn fn, ...);
