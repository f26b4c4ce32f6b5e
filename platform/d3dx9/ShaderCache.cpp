#include "d3dx9/ShaderCache.h"

#include "d3dx9/Fnv1a.h"
#include "hlslfront/HlslFrontEnd.h"
#include "win32/Settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace lumaret::platform {
namespace {

constexpr char kMagic[8] = {'L', 'M', 'S', 'H', 'C', 'A', 'C', '1'};
// Raised whenever the translation itself changes in a way the programs' identities miss.
constexpr uint32_t kFormatVersion = 2;
// No real entry comes near this; a bigger file is not read.
constexpr uint64_t kLargestEntry = 16u << 20;

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
    char name[32];
    std::snprintf(name, sizeof(name), "%016llx.glsl", static_cast<unsigned long long>(Fnv1a(key.data(), key.size())));
    return CacheDirectory() + "/" + name;
}

std::optional<TranslatedProgram> LoadCachedProgram(const std::string& key) {
    if (key.empty()) return std::nullopt;
    FILE* file = std::fopen(ShaderCacheEntryPath(key).c_str(), "rb");
    if (!file) return std::nullopt;
    std::vector<uint8_t> bytes;
    struct stat info {};
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<uint64_t>(info.st_size) <= kLargestEntry) {
        bytes.resize(static_cast<size_t>(info.st_size));
        if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) bytes.clear();
    }
    std::fclose(file);
    return ParseCacheEntry(bytes, key);
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
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) std::remove(temporary.c_str());
}

}  // namespace lumaret::platform
