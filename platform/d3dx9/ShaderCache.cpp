#include "d3dx9/ShaderCache.h"

#include "d3dx9/Fnv1a.h"
#include "d3d9/ShaderBlob.h"
#include "hlslfront/HlslFrontEnd.h"
#include "win32/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace lumaret::platform {
namespace {

constexpr char kMagic[8] = {'L', 'M', 'S', 'H', 'C', 'A', 'C', '1'};
// Raised whenever the translation itself changes in a way the programs' identities miss.
constexpr uint32_t kFormatVersion = 2;
// No real entry comes near this; a bigger file is not read.
constexpr uint64_t kLargestEntry = 16u << 20;
constexpr const char* kEntrySuffix = ".entry";
constexpr size_t kEntrySuffixLength = 6;

std::string Identity(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return path + " missing";
    return path + " " + std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec);
}

std::string CacheDirectory() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/lumaret";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/lumaret";
    return std::string();
}

class Writer {
public:
    void U32(uint32_t value) { Bytes(&value, sizeof(value)); }
    void Bytes(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        out.insert(out.end(), p, p + size);
    }
    void String(const std::string& text) {
        U32(static_cast<uint32_t>(text.size()));
        Bytes(text.data(), text.size());
    }
    std::vector<uint8_t> out;
};

// Reads what Writer wrote; every read checks the bytes that are left.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool U32(uint32_t* value) { return Bytes(value, sizeof(*value)); }
    bool Bytes(void* out, size_t size) {
        if (static_cast<size_t>(end_ - p_) < size) return false;
        std::memcpy(out, p_, size);
        p_ += size;
        return true;
    }
    bool String(std::string* text) {
        uint32_t size = 0;
        if (!U32(&size) || static_cast<size_t>(end_ - p_) < size) return false;
        text->assign(reinterpret_cast<const char*>(p_), size);
        p_ += size;
        return true;
    }
    bool AtEnd() const { return p_ == end_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

void WriteRecord(Writer& w, const ConstantRecord& record) {
    const D3DXCONSTANT_DESC& d = record.desc;
    w.String(record.name);
    for (uint32_t field : {static_cast<uint32_t>(d.RegisterSet), d.RegisterIndex, d.RegisterCount,
                           static_cast<uint32_t>(d.Class), static_cast<uint32_t>(d.Type), d.Rows, d.Columns, d.Elements,
                           d.StructMembers, d.Bytes, record.registersPerElement})
        w.U32(field);
}

bool ReadRecord(Reader& r, ConstantRecord* record) {
    D3DXCONSTANT_DESC& d = record->desc;
    uint32_t set = 0, kind = 0, type = 0;
    bool ok = r.String(&record->name) && r.U32(&set) && r.U32(&d.RegisterIndex) && r.U32(&d.RegisterCount) &&
              r.U32(&kind) && r.U32(&type) && r.U32(&d.Rows) && r.U32(&d.Columns) && r.U32(&d.Elements) &&
              r.U32(&d.StructMembers) && r.U32(&d.Bytes) && r.U32(&record->registersPerElement);
    d.RegisterSet = static_cast<D3DXREGISTER_SET>(set);
    d.Class = static_cast<D3DXPARAMETER_CLASS>(kind);
    d.Type = static_cast<D3DXPARAMETER_TYPE>(type);
    return ok;
}

}  // namespace

std::string ShaderCacheKey(const std::string& profile, const std::string& entry, const std::string& macroPreamble,
                           const std::string& source) {
    if (!ShaderCacheEnabled() || CacheDirectory().empty()) return std::string();
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string program = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string("?");
    Writer key;
    key.U32(kFormatVersion);
    for (const std::string& part :
         {Identity(program), Identity(HlslFrontEndPath()), profile, entry, macroPreamble, source})
        key.String(part);
    return std::string(key.out.begin(), key.out.end());
}

std::string ShaderCacheEntryPath(const std::string& key) {
    // What the entry holds, for whoever looks in the folder: the source's file name and the
    // profile (from the key), then the key's hash.
    Reader r(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    uint32_t version = 0;
    std::string part, profile, source;
    bool parsed = r.U32(&version) && r.String(&part) && r.String(&part) && r.String(&profile) && r.String(&part) &&
                  r.String(&part) && r.String(&source);
    std::string label = parsed ? SourceNameOf(source) : std::string();
    label = label.substr(label.rfind('/') == std::string::npos ? 0 : label.rfind('/') + 1);
    if (label.empty()) label = "unnamed";
    label = label.substr(0, 48) + "." + (parsed ? profile : std::string("unknown"));
    for (char& c : label)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') c = '_';
    char hash[24];
    std::snprintf(hash, sizeof(hash), ".%016llx", static_cast<unsigned long long>(Fnv1a(key.data(), key.size())));
    return CacheDirectory() + "/" + label + hash + kEntrySuffix;
}

std::optional<TranslatedProgram> LoadCachedProgram(const std::string& key) {
    if (key.empty()) return std::nullopt;
    std::string path = ShaderCacheEntryPath(key);
    // Never blocks: a FIFO or a device in an entry's place is passed over like a damaged entry.
    int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    struct stat info {};
    if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<uint64_t>(info.st_size) <= kLargestEntry) {
        bytes.resize(static_cast<size_t>(info.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            ssize_t n = read(descriptor, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got != bytes.size()) bytes.clear();
    }
    close(descriptor);
    std::optional<TranslatedProgram> program = ParseCacheEntry(bytes, key);
    // Its time says when it was last used, which is what pruning goes by.
    if (program) utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
    return program;
}

uint64_t PruneShaderCache(uint64_t limit) {
    struct Entry {
        std::filesystem::path path;
        std::filesystem::file_time_type used;
        uint64_t size;
    };
    std::vector<Entry> entries;
    uint64_t total = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(CacheDirectory(), error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::string name = it->path().filename().string();
        // Entries of this version, and those of the one before it (a hash and ".glsl").
        bool entry = name.size() > kEntrySuffixLength &&
                     name.compare(name.size() - kEntrySuffixLength, kEntrySuffixLength, kEntrySuffix) == 0;
        bool old = name.size() == 21 && name.compare(16, 5, ".glsl") == 0;
        std::error_code statError;
        if (!(entry || old) || !it->is_regular_file(statError)) continue;
        uint64_t size = it->file_size(statError);
        auto used = it->last_write_time(statError);
        if (statError) continue;
        entries.push_back({it->path(), used, size});
        total += size;
    }
    if (total <= limit) return total;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.used < b.used; });
    // Down to three quarters, so that the next few stores do not prune again.
    for (const Entry& entry : entries) {
        if (total <= limit / 4 * 3) break;
        if (std::filesystem::remove(entry.path, error)) total -= entry.size;
    }
    return total;
}

std::optional<TranslatedProgram> ParseCacheEntry(const std::vector<uint8_t>& bytes, const std::string& key) {
    // magic, checksum of the rest, then the key, the blob and the records.
    constexpr size_t kHeader = sizeof(kMagic) + sizeof(uint64_t);
    if (bytes.size() < kHeader || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) return std::nullopt;
    uint64_t checksum = 0;
    std::memcpy(&checksum, bytes.data() + sizeof(kMagic), sizeof(checksum));
    if (checksum != Fnv1a(bytes.data() + kHeader, bytes.size() - kHeader)) return std::nullopt;
    Reader r(bytes.data() + kHeader, bytes.size() - kHeader);
    std::string storedKey, blob;
    uint32_t count = 0;
    if (!r.String(&storedKey) || storedKey != key || !r.String(&blob) || !r.U32(&count)) return std::nullopt;
    TranslatedProgram program;
    program.blob.assign(blob.begin(), blob.end());
    for (uint32_t i = 0; i < count; ++i) {
        ConstantRecord record;
        if (!ReadRecord(r, &record)) return std::nullopt;
        program.constants.push_back(std::move(record));
    }
    if (!r.AtEnd()) return std::nullopt;
    return program;
}

void StoreCachedProgram(const std::string& key, const TranslatedProgram& program) {
    if (key.empty()) return;
    Writer body;
    body.String(key);
    body.String(std::string(program.blob.begin(), program.blob.end()));
    body.U32(static_cast<uint32_t>(program.constants.size()));
    for (const ConstantRecord& record : program.constants) WriteRecord(body, record);
    uint64_t checksum = Fnv1a(body.out.data(), body.out.size());

    std::error_code error;
    std::filesystem::create_directories(CacheDirectory(), error);
    std::string path = ShaderCacheEntryPath(key);
    // Unique to this process and thread: two threads may store the same program at once.
    std::string temporary = path + "." + std::to_string(getpid()) + "." + std::to_string(gettid()) + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return;
    bool written = std::fwrite(kMagic, 1, sizeof(kMagic), file) == sizeof(kMagic) &&
                   std::fwrite(&checksum, 1, sizeof(checksum), file) == sizeof(checksum) &&
                   std::fwrite(body.out.data(), 1, body.out.size(), file) == body.out.size();
    written = std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return;
    }
    // The folder is listed once per process (and again when it may have grown past the
    // limit), not at every store: a cold start stores every program it translates.
    static std::mutex* counting = new std::mutex();
    static std::string* countedFolder = new std::string();
    static uint64_t counted = 0;
    std::lock_guard<std::mutex> lock(*counting);
    uint64_t stored = sizeof(kMagic) + sizeof(checksum) + body.out.size();
    if (*countedFolder != CacheDirectory() || counted + stored > kShaderCacheBytes) {
        counted = PruneShaderCache(kShaderCacheBytes);
        *countedFolder = CacheDirectory();
    } else {
        counted += stored;
    }
}

}  // namespace lumaret::platform
