#include "client/cvar.h"

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "client/clientlogger.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/rbdb.h"

namespace tavrix::cvar {

namespace {

// The form a variable was last created or set in.
enum cvarType : uint32_t {
    CVAR_INT = 0,
    CVAR_DOUBLE = 1,
    CVAR_STRING = 2,
};

struct listener {
    listener* next;
    uint32_t kind; // a cvarType: which form the callback takes
    union {
        void (*onInt)(int64_t value);
        void (*onDouble)(double value);
        void (*onString)(const char* text, uint32_t length);
    };
};

struct var {
    util::mutex* lock;
    cvarType type;
    uint8_t persist;
    listener* listeners;
    int64_t i;
    double d;
    uint32_t strCapacity;
    uint32_t strLength;
    char* str; // NUL-terminated; null until a string form is made
};

// A variable held under its own lock, which the lookup took, until the guard goes.
class lockedVar {
public:
    explicit lockedVar(var* v) : held(v) {}
    ~lockedVar() { held->lock->unlock(); }
    lockedVar(const lockedVar&) = delete;
    lockedVar& operator=(const lockedVar&) = delete;
    var* operator->() const { return held; }
    var* get() const { return held; }

private:
    var* held;
};

constexpr const char* DB_PATH = "./cvar.db";
// Written whole and renamed over DB_PATH, so a failed save leaves the previous file as it was.
constexpr const char* DB_TMP_PATH = "./cvar.db.tmp";
constexpr const char* DB_VERSION = "20131017";
constexpr uint32_t VERSION_LINE_MAX = 62;
constexpr uint32_t LINE_BUFFER_SIZE = 16384;
constexpr uint32_t ENTRY_LINE_MAX = LINE_BUFFER_SIZE - 2;
constexpr uint64_t STR_MAX = 4194304;

struct cvarState {
    std::atomic<bool> initialized{false};
    // Taken before a variable's own lock, never after it.
    util::mutex* globalLock = nullptr;
    rbdb* table = nullptr;
};
cvarState state;

bool isInitialized() { return state.initialized.load(std::memory_order_acquire); }

uint32_t nameLength(const char* name) { return uint32_t(std::strlen(name)); }

// A double's integer form: truncated toward zero, bounded to the 64-bit range (NaN gives 0).
int64_t truncToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775807.0)
        return INT64_MAX;
    if (value <= -9223372036854775808.0)
        return INT64_MIN;
    return int64_t(value);
}

} // namespace

static void* db_alloc(uint32_t size) { return _roalloc(size, __FILE__, __LINE__, TAVRIX_FUNC, 0); }

static void db_free(void* pointer) { _rofree(pointer, __FILE__, __LINE__, TAVRIX_FUNC); }

uint32_t strCapacityFor(uint32_t len)
{
    if (len < 64)
        return 64;
    const uint64_t used = uint64_t(len) + 1;
    const uint64_t capacity = used - used % 64 + used;
    if (capacity > UINT32_MAX)
        TAVRIX_FATAL("cvar: a string of %u bytes does not fit a variable\n", len);
    return uint32_t(capacity);
}

static void allocAndSetStr(var* v, const char* text, uint32_t len)
{
    if (!v->str) {
        v->strCapacity = strCapacityFor(len);
        v->str = static_cast<char*>(roalloc(v->strCapacity));
    } else if (uint64_t(v->strCapacity) < uint64_t(len) + 1) {
        v->strCapacity = strCapacityFor(len);
        v->str = static_cast<char*>(rorealloc(v->str, v->strCapacity));
    }
    std::memcpy(v->str, text, len);
    v->str[len] = '\0';
    v->strLength = len;
}

static void setStrFormatted(var* v, const char* format, ...) __attribute__((format(printf, 2, 3)));
static void setStrFormatted(var* v, const char* format, ...)
{
    char text[64];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    allocAndSetStr(v, text, n < 0 ? 0 : uint32_t(n) < sizeof(text) ? uint32_t(n) : uint32_t(sizeof(text) - 1));
}

static void valueToStr(var* v)
{
    if (v->type == CVAR_INT)
        setStrFormatted(v, "%" PRId64, v->i);
    else if (v->type == CVAR_DOUBLE)
        setStrFormatted(v, "%.12g", v->d);
    else
        allocAndSetStr(v, "NULL", 4);
}

static void notifyListeners(var* v)
{
    for (listener* l = v->listeners; l; l = l->next) {
        if (l->kind == CVAR_INT) {
            l->onInt(v->i);
        } else if (l->kind == CVAR_DOUBLE) {
            l->onDouble(v->d);
        } else {
            if (!v->str)
                valueToStr(v);
            l->onString(v->str, v->strLength);
        }
    }
}

static void freeContents(var* v)
{
    for (listener* l = v->listeners; l;) {
        listener* next = l->next;
        rofree(l);
        l = next;
    }
    v->listeners = nullptr;
    if (v->str)
        rofree(v->str);
    v->str = nullptr;
}

static void freeVar(var* v)
{
    delete v->lock;
    rofree(v);
}

// The variable of the name, locked; made (integer 0, not persistent) when the name is new.
static lockedVar getOrCreate(const char* name, uint32_t nameLen, bool* created)
{
    std::unique_lock<util::mutex> global(*state.globalLock);
    var* found = static_cast<var*>(strdb_fetch(state.table, name, nameLen));
    if (found) {
        found->lock->lock();
        if (created)
            *created = false;
        return lockedVar(found);
    }
    global.unlock();

    auto* fresh = static_cast<var*>(roalloc(sizeof(var)));
    std::memset(static_cast<void*>(fresh), 0, sizeof(var));
    fresh->lock = new util::mutex();
    fresh->type = CVAR_INT;

    // Another thread may have inserted the name meanwhile: the table keeps the first record. Whichever it
    // is, it is locked before the global lock is released, so every path takes the two locks in one order.
    global.lock();
    var* stored = static_cast<var*>(strdb_insert(state.table, name, nameLen, fresh));
    const bool isNew = stored == fresh;
    if (!isNew)
        freeVar(fresh);
    stored->lock->lock();
    if (created)
        *created = isNew;
    return lockedVar(stored);
}

static void storeInt(var* v, int64_t value)
{
    v->type = CVAR_INT;
    v->i = value;
    v->d = double(value);
}

static void storeDouble(var* v, double value)
{
    v->type = CVAR_DOUBLE;
    v->d = value;
    v->i = truncToInt64(value);
}

static void storeString(var* v, const char* text, uint32_t len)
{
    v->type = CVAR_STRING;
    allocAndSetStr(v, text, len);
    v->i = std::strtoll(v->str, nullptr, 10);
    v->d = std::strtod(v->str, nullptr);
}

static void initializeInt(const char* name, int64_t value, uint8_t persist)
{
    bool created = false;
    const lockedVar v = getOrCreate(name, nameLength(name), &created);
    if (created)
        storeInt(v.get(), value);
    v->persist = persist;
}

static void initializeDouble(const char* name, double value, uint8_t persist)
{
    bool created = false;
    const lockedVar v = getOrCreate(name, nameLength(name), &created);
    if (created)
        storeDouble(v.get(), value);
    v->persist = persist;
}

void initialize(const char* name, int64_t value, uint8_t persist)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::initialize(%s, (int64)%" PRId64 " ) -> while subsystem is not initialized!\n", name, value);
    initializeInt(name, value, persist);
}

void initialize(const char* name, long long value, uint8_t persist) { initialize(name, int64_t(value), persist); }

void initialize(const char* name, int value, uint8_t persist)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::initialize(%s, (int)%d ) -> while subsystem is not initialized!\n", name, value);
    initializeInt(name, value, persist);
}

void initialize(const char* name, float value, uint8_t persist)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::initialize(%s, (float)%f ) -> while subsystem is not initialized!\n", name, double(value));
    initializeDouble(name, value, persist);
}

void initialize(const char* name, double value, uint8_t persist)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::initialize(%s, (dobule)%f ) -> while subsystem is not initialized!\n", name, value);
    initializeDouble(name, value, persist);
}

void initialize(const char* name, const char* value, uint32_t len, uint8_t persist)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::initialize(%s, '%s' (len: %u) ) -> while subsystem is not initialized!\n", name, value, len);
    if (len == 0)
        len = nameLength(value);
    bool created = false;
    const lockedVar v = getOrCreate(name, nameLength(name), &created);
    if (created)
        storeString(v.get(), value, len);
    v->persist = persist;
}

static void setInt(const char* name, int64_t value)
{
    const lockedVar v = getOrCreate(name, nameLength(name), nullptr);
    storeInt(v.get(), value);
    if (v->str)
        setStrFormatted(v.get(), "%" PRId64, value);
    notifyListeners(v.get());
}

static void setDouble(const char* name, double value, int digits)
{
    const lockedVar v = getOrCreate(name, nameLength(name), nullptr);
    storeDouble(v.get(), value);
    if (v->str)
        setStrFormatted(v.get(), "%.*g", digits, value);
    notifyListeners(v.get());
}

void set(const char* name, int64_t value)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::set(%s, (int64)%" PRId64 " ) -> while subsystem is not initialized!\n", name, value);
    setInt(name, value);
}

void set(const char* name, long long value) { set(name, int64_t(value)); }

void set(const char* name, int value)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::set(%s, (int)%d ) -> while subsystem is not initialized!\n", name, value);
    setInt(name, value);
}

void set(const char* name, float value)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::set(%s, (float)%f ) -> while subsystem is not initialized!\n", name, double(value));
    setDouble(name, value, 14);
}

void set(const char* name, double value)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::set(%s, (dobule)%f ) -> while subsystem is not initialized!\n", name, value);
    setDouble(name, value, 12);
}

void set(const char* name, const char* value, uint32_t len)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::set(%s, '%s' (len: %u) ) -> while subsystem is not initialized!\n", name, value, len);
    if (len == 0)
        len = nameLength(value);
    const lockedVar v = getOrCreate(name, nameLength(name), nullptr);
    storeString(v.get(), value, len);
    notifyListeners(v.get());
}

int64_t getInt(const char* name)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::getInt(%s) -> while subsystem is not initialized!\n", name);
    return getOrCreate(name, nameLength(name), nullptr)->i;
}

int32_t getI32(const char* name)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::getI32(%s) -> while subsystem is not initialized!\n", name);
    return int32_t(uint32_t(uint64_t(getOrCreate(name, nameLength(name), nullptr)->i)));
}

bool getBool(const char* name) { return getI32(name) == 1; }

double getDouble(const char* name)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::getDouble(%s) -> while subsystem is not initialized!\n", name);
    return getOrCreate(name, nameLength(name), nullptr)->d;
}

float getFloat(const char* name)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::getFloat(%s) -> while subsystem is not initialized!\n", name);
    return float(getOrCreate(name, nameLength(name), nullptr)->d);
}

void getStr(const char* name, char* buf, uint32_t* len)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::getStr(%s) -> while subsystem is not initialized!\n", name);
    const lockedVar v = getOrCreate(name, nameLength(name), nullptr);
    if (!v->str)
        valueToStr(v.get());
    const uint32_t size = *len;
    // A buffer of no bytes has no room even for the NUL.
    const uint32_t n = size == 0 ? 0 : v->strLength < size ? v->strLength : size - 1;
    if (size != 0) {
        std::memcpy(buf, v->str, n);
        buf[n] = '\0';
    }
    *len = n;
}

void _delete(const char* name)
{
    if (!isInitialized())
        TAVRIX_FATAL("cvar::delete(%s) -> while subsystem is not initialized!\n", name);
    std::unique_lock<util::mutex> global(*state.globalLock);
    auto* v = static_cast<var*>(strdb_delete(state.table, name, nameLength(name)));
    if (!v)
        return;
    v->lock->lock();
    global.unlock();
    {
        const lockedVar held(v);
        freeContents(v);
    }
    freeVar(v);
}

static void warn(int32_t line, const char* function, const char* format, ...) __attribute__((format(printf, 3, 4)));
static void warn(int32_t line, const char* function, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    getLogger()->vlogEx(util::LOG_WARN, __FILE__, line, function, format, args);
    va_end(args);
}

#define CVAR_WARN(...) warn(__LINE__, TAVRIX_FUNC, __VA_ARGS__)

// One line of at most max bytes, through its line feed, NUL-terminated; the byte count (NUL bytes in the
// line count too), or -1 at the end of the file. complete: the line feed or the end of the file was reached.
static int64_t readLine(FILE* file, char* buffer, uint32_t max, bool* complete)
{
    uint32_t n = 0;
    int c = 0;
    while (n < max) {
        c = std::getc(file);
        if (c == EOF)
            break;
        buffer[n++] = char(c);
        if (c == '\n')
            break;
    }
    buffer[n] = '\0';
    if (n == 0 && c == EOF)
        return -1;
    if (c == '\n' || c == EOF) {
        *complete = true;
    } else {
        const int next = std::getc(file);
        *complete = next == EOF;
        if (next != EOF)
            std::ungetc(next, file);
    }
    return n;
}

// A decimal length as the file states it; a negative one reads as too large.
static uint64_t parseLength(const char* text) { return uint64_t(std::strtoll(text, nullptr, 10)); }

static void initializeLoadedString(const char* key, const char* value, uint32_t len)
{
    // A length of 0 would make initialize measure the text.
    initialize(key, len ? value : "", len, 0);
}

// The rest of an 's' entry: data holds "<length>:<value bytes on this line>" and dataLen bytes.
static bool loadString(FILE* file, const char* key, char* data, uint32_t dataLen, bool lineFeed, bool complete, uint32_t lineNo)
{
    auto* colon = static_cast<char*>(std::memchr(data, ':', dataLen));
    if (!colon) {
        CVAR_WARN("%s:%u Syntax Error, expected ':' as delimieter for str length an str data\n", DB_PATH, lineNo);
        return false;
    }
    *colon = '\0';
    const uint64_t byteLen = parseLength(data);
    char* value = colon + 1;
    const auto rest = uint32_t(dataLen - (value - data));
    if (byteLen > STR_MAX) {
        CVAR_WARN("%s:%u Syntax Error - Str Length > 4M  - Report This.\n", DB_PATH, lineNo);
        return false;
    }
    const auto len = uint32_t(byteLen);
    const uint32_t onLine = rest - (lineFeed ? 1 : 0);
    if (complete && onLine == len) {
        value[onLine] = '\0';
        initializeLoadedString(key, value, len);
        return true;
    }
    // The line goes on past the stated length: the value would not end with its line feed.
    if (onLine > len) {
        CVAR_WARN("%s:%u Syntax Error - expected \n as var termination\n", DB_PATH, lineNo);
        return false;
    }
    // The value goes on past this line (it holds line feeds, or is longer than the line buffer).
    auto* buffer = static_cast<char*>(roalloc(len + 2));
    std::memset(buffer, 0, len + 2);
    std::memcpy(buffer, value, rest);
    const uint32_t missing = len - rest + 1;
    if (std::fread(buffer + rest, 1, missing, file) != missing) {
        CVAR_WARN("%s:%u IO Error - Tried to read %u Bytes to complete reading strData - read failed\n", DB_PATH, lineNo,
                  len - rest);
        rofree(buffer);
        return false;
    }
    if (buffer[len] != '\n') {
        CVAR_WARN("%s:%u Syntax Error - expected \n as var termination\n", DB_PATH, lineNo);
        rofree(buffer);
        return false;
    }
    initializeLoadedString(key, buffer, len);
    rofree(buffer);
    return true;
}

// One entry line of len bytes; false stops loading.
static bool loadEntry(FILE* file, char* line, uint32_t len, bool complete, uint32_t lineNo)
{
    const bool lineFeed = len > 0 && line[len - 1] == '\n';
    auto* colon = static_cast<char*>(std::memchr(line, ':', len));
    if (!colon) {
        CVAR_WARN("%s:%u -> Syntax Error - expected Key\n", DB_PATH, lineNo);
        return false;
    }
    *colon = '\0';
    char* key = colon + 1;
    const auto rest = uint32_t(len - (key - line));
    const uint64_t keyLen = parseLength(line);
    if (keyLen >= rest) {
        CVAR_WARN("%s:%u Syntax Error - specified Key Length exceeds buffer length\n", DB_PATH, lineNo);
        return false;
    }
    if (key[keyLen] != ':') {
        CVAR_WARN("%s:%u Sntax Error - expected ':' as delimeter between key and type\n", DB_PATH, lineNo);
        return false;
    }
    key[keyLen] = '\0';
    if (keyLen + 2 >= rest || key[keyLen + 2] != ':') {
        CVAR_WARN("%s:%u Syntax Error - expected ':' as delimiter between type and data\n", DB_PATH, lineNo);
        return false;
    }
    const char type = key[keyLen + 1];
    char* data = key + keyLen + 3;
    const auto dataLen = uint32_t(rest - (keyLen + 3));
    if (lineFeed && (type == 'i' || type == 'd'))
        line[len - 1] = '\0';
    switch (type) {
    case 'i':
        initialize(key, int64_t(std::strtoll(data, nullptr, 10)), 1);
        return true;
    case 'd':
        initialize(key, std::strtod(data, nullptr), 1);
        return true;
    case 's':
        return loadString(file, key, data, dataLen, lineFeed, complete, lineNo);
    default:
        CVAR_WARN("%s:%u Sntax Error - unknown type specifier '%c'\n", DB_PATH, lineNo, type);
        return true;
    }
}

static void loadFrom(FILE* file)
{
    char version[64] = {};
    bool complete = false;
    int64_t n = readLine(file, version, VERSION_LINE_MAX, &complete);
    if (n < 0) {
        CVAR_WARN("%s: Syntax Error - Version Expected - got: null\n", DB_PATH);
        return;
    }
    if (n > 1 && version[n - 1] == '\n')
        version[--n] = '\0';
    if (size_t(n) != std::strlen(DB_VERSION) || std::memcmp(version, DB_VERSION, size_t(n)) != 0) {
        CVAR_WARN("%s: Unknonwn Version %s - Expected %s\n", DB_PATH, version, DB_VERSION);
        return;
    }
    auto* line = static_cast<char*>(std::calloc(LINE_BUFFER_SIZE, 1));
    if (!line)
        return;
    uint32_t lineNo = 1;
    for (;;) {
        ++lineNo;
        const int64_t len = readLine(file, line, ENTRY_LINE_MAX, &complete);
        if (len < 0 || !loadEntry(file, line, uint32_t(len), complete, lineNo))
            break;
    }
    std::free(line);
}

static void load()
{
    FILE* file = std::fopen(DB_PATH, "rb");
    if (!file)
        return;
    loadFrom(file);
    std::fclose(file);
}

static bool writeEntry(FILE* file, const char* key, uint32_t keyLen, const var* v)
{
    if (std::fprintf(file, "%u:", keyLen) < 0 || std::fwrite(key, 1, keyLen, file) != keyLen || std::fputc(':', file) == EOF)
        return false;
    switch (v->type) {
    case CVAR_INT:
        return std::fprintf(file, "i:%" PRId64 "\n", v->i) >= 0;
    case CVAR_DOUBLE:
        return std::fprintf(file, "d:%.32g\n", v->d) >= 0;
    default:
        if (!v->str)
            return std::fputs("s:0:\n", file) >= 0;
        // Exactly the stated bytes: a value may hold NULs.
        return std::fprintf(file, "s:%u:", v->strLength) >= 0 &&
               std::fwrite(v->str, 1, v->strLength, file) == v->strLength && std::fputc('\n', file) != EOF;
    }
}

// Writes a persistent variable (while the file is good) under its own lock: a thread that set it may never
// have been joined (a start-up step left behind at shutdown). With release, the variable is then freed and
// taken out of the table.
static int final_sub_eachVar(const char* key, uint32_t keyLen, void* value, va_list args)
{
    FILE* file = va_arg(args, FILE*);
    bool* written = va_arg(args, bool*);
    const bool release = va_arg(args, int) != 0;
    auto* v = static_cast<var*>(value);
    {
        std::lock_guard<util::mutex> guard(*v->lock);
        if (v->persist == 1 && file && *written)
            *written = writeEntry(file, key, keyLen, v);
        if (release)
            freeContents(v);
    }
    if (release) {
        freeVar(v);
        strdb_delete(state.table, key, keyLen);
    }
    return 0;
}

// Writes ./cvar.db whole beside it and renames it over it, so a failed save leaves the previous file; with
// release every variable goes as it is written.
static void saveVariables(bool release)
{
    FILE* file = std::fopen(DB_TMP_PATH, "wb");
    bool written = file != nullptr;
    if (!file)
        getLogger()->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC,
                           "cvar::final() -> cannto open '%s' for saving the current variable states\n", DB_PATH);
    else
        written = std::fprintf(file, "%s\n", DB_VERSION) >= 0;

    {
        std::lock_guard<util::mutex> global(*state.globalLock);
        strdb_foreach(state.table, final_sub_eachVar, file, &written, int(release));
    }

    if (file) {
        written = std::fclose(file) == 0 && written;
        if (!written || std::rename(DB_TMP_PATH, DB_PATH) != 0) {
            getLogger()->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC,
                               "cvar::final() -> saving '%s' failed, the previous file is kept\n", DB_PATH);
            std::remove(DB_TMP_PATH);
        }
    }
}

bool init()
{
    state.globalLock = new util::mutex();
    state.table = strdb_create("cvar", 1, 1, 512, nullptr, db_alloc, db_free);
    state.initialized.exchange(true);
    load();
    return true;
}

void final()
{
    state.initialized.exchange(false);
    if (!state.table || !state.globalLock)
        return;
    saveVariables(true);
    db_destroy(state.table);
    state.table = nullptr;
    delete state.globalLock;
    state.globalLock = nullptr;
}

void save()
{
    if (state.initialized.load() && state.table && state.globalLock)
        saveVariables(false);
}

} // namespace tavrix::cvar
