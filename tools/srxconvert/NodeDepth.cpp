#include "NodeDepth.h"

#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace srxconvert {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

unsigned DigitValue(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) ? unsigned(c - '0') : unsigned(std::tolower(c) - 'a' + 10);
}

// The first byte of a text after white space and a UTF-8 byte order mark; 0 when none.
char FirstSignificant(const char* text, size_t size) {
    size_t i = size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (i < size && IsSpace(text[i])) ++i;
    return i < size ? text[i] : 0;
}

// The node graph of a model, whichever format it came from: each node's children (held
// ones and instanced ones alike, since the importer copies an instanced subtree wherever
// it is named) and the nodes a scene starts from. Indices out of range are ignored.
struct NodeGraph {
    std::vector<std::vector<long>> children;
    std::vector<long> roots;
    std::string problem;

    size_t Add() {
        children.emplace_back();
        return children.size() - 1;
    }
};

// A JSON string's text with its escapes decoded, as the JSON reader behind the importer
// sees it; a \u escape beyond ASCII becomes a byte no glTF key holds.
std::string DecodeJsonString(const char* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != '\\' || i + 1 >= length) {
            out += text[i];
            continue;
        }
        char e = text[++i];
        switch (e) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned code = 0;
                size_t digits = 0;
                for (; digits < 4 && i + 1 < length && std::isxdigit(static_cast<unsigned char>(text[i + 1])); ++digits)
                    code = code * 16 + DigitValue(text[++i]);
                out += digits == 4 && code < 0x80 ? static_cast<char>(code) : '\x01';
                break;
            }
            default: out += e;  // \" \\ \/ and anything else the reader would refuse
        }
    }
    return out;
}

// A glTF's node graph, scanned without recursion. Only the paths $.nodes[i].children[k]
// and $.scenes[i].nodes[k] matter.
NodeGraph ScanJson(const char* text, size_t size) {
    struct Level {
        bool object;
        bool expectKey;
        long index;  // arrays: the element being read
        std::string key;
    };
    NodeGraph graph;
    std::vector<Level> stack;
    auto at = [&](size_t depth, bool object, const char* key) {
        return stack.size() > depth && stack[depth].object == object && (!key || stack[depth].key == key);
    };
    auto value = [&](const char* start, size_t length) {
        // Called for every scalar value; only integers at the two paths are kept.
        if (stack.size() != 4 || !at(0, true, nullptr) || !at(1, false, nullptr) || !at(3, false, nullptr)) return;
        std::string number(start, length);
        char* end = nullptr;
        long n = std::strtol(number.c_str(), &end, 10);
        if (end == number.c_str() || *end != '\0') return;
        if (stack[0].key == "nodes" && at(2, true, "children")) {
            size_t node = static_cast<size_t>(stack[1].index);
            if (graph.children.size() <= node) graph.children.resize(node + 1);
            graph.children[node].push_back(n);
        } else if (stack[0].key == "scenes" && at(2, true, "nodes")) {
            graph.roots.push_back(n);
        }
    };
    for (size_t i = 0; i < size; ++i) {
        char c = text[i];
        if (IsSpace(c)) continue;
        if (c == '{' || c == '[') {
            if (stack.size() == 2 && stack[0].key == "nodes" && c == '{' &&
                graph.children.size() <= static_cast<size_t>(stack[1].index))
                graph.children.resize(static_cast<size_t>(stack[1].index) + 1);
            stack.push_back({c == '{', c == '{', 0, {}});
            if (stack.size() > kMaxJsonDepth + 1) {
                graph.problem = "its JSON nests deeper than " + std::to_string(kMaxJsonDepth) + " levels";
                return graph;
            }
        } else if (c == '}' || c == ']') {
            if (stack.empty()) break;
            stack.pop_back();
        } else if (c == ',') {
            if (stack.empty()) continue;
            if (stack.back().object)
                stack.back().expectKey = true;
            else
                ++stack.back().index;
        } else if (c == ':') {
            if (!stack.empty()) stack.back().expectKey = false;
        } else if (c == '"') {
            size_t start = ++i;
            while (i < size && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
            if (!stack.empty() && stack.back().object && stack.back().expectKey)
                stack.back().key = DecodeJsonString(text + start, std::min(i, size) - start);
        } else {
            size_t start = i;
            while (i + 1 < size && !std::strchr(",}] \t\r\n", text[i + 1])) ++i;
            value(text + start, i + 1 - start);
        }
    }
    return graph;
}

// An XML attribute value or name with the predefined and numeric character references
// decoded, as the XML reader behind the importer sees it.
std::string DecodeXmlText(const char* text, size_t length) {
    static const std::pair<const char*, char> named[] = {
        {"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"quot;", '"'}, {"apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const char* rest = text + i + 1;
        size_t left = length - i - 1;
        bool decoded = false;
        for (const auto& [name, c] : named)
            if (left >= std::strlen(name) && std::memcmp(rest, name, std::strlen(name)) == 0) {
                out += c;
                i += std::strlen(name);
                decoded = true;
                break;
            }
        if (!decoded && left >= 2 && rest[0] == '#') {
            bool hex = rest[1] == 'x' || rest[1] == 'X';
            size_t j = hex ? 2 : 1;
            unsigned long code = 0;
            while (j < left && j < 12 && std::isxdigit(static_cast<unsigned char>(rest[j])) &&
                   (hex || std::isdigit(static_cast<unsigned char>(rest[j]))))
                code = code * (hex ? 16 : 10) + DigitValue(rest[j++]);
            if (j < left && rest[j] == ';' && j > (hex ? 2u : 1u)) {
                out += code < 0x80 ? static_cast<char>(code) : '\x01';
                i += j + 1;
                decoded = true;
            }
        }
        if (!decoded) out += '&';
    }
    return out;
}

// An XML model's nesting and, for Collada, its node graph: <node> elements held in one
// another and <instance_node url="#id"> naming another node, which the importer copies in
// place, so that a few lines can stand for an exponential tree. One pass, no recursion.
NodeGraph ScanXml(const char* text, size_t size) {
    struct Element {
        std::string name;
        long node;  // the graph node this element is or sits in, -1 outside every node
    };
    NodeGraph graph;
    std::vector<Element> open;
    std::unordered_map<std::string, size_t> ids;
    std::vector<std::pair<long, std::string>> instances;  // the instancing node (-1: a scene), target id
    bool inScene = false;
    size_t i = 0;
    auto skipPast = [&](const char* end) {
        const char* found = std::search(text + i, text + size, end, end + std::strlen(end));
        i = found == text + size ? size : static_cast<size_t>(found - text) + std::strlen(end);
    };
    while (i < size) {
        if (text[i] != '<') {
            ++i;
            continue;
        }
        if (size - i >= 4 && std::memcmp(text + i, "<!--", 4) == 0) {
            skipPast("-->");
        } else if (size - i >= 9 && std::memcmp(text + i, "<![CDATA[", 9) == 0) {
            skipPast("]]>");
        } else if (size - i >= 2 && (text[i + 1] == '?' || text[i + 1] == '!')) {
            // Processing instructions and declarations; a DOCTYPE's internal subset is bracketed.
            int brackets = 0;
            for (++i; i < size && (text[i] != '>' || brackets > 0); ++i)
                brackets += text[i] == '[' ? 1 : text[i] == ']' ? -1 : 0;
            ++i;
        } else if (size - i >= 2 && text[i + 1] == '/') {
            skipPast(">");
            if (!open.empty()) {
                if (open.back().name == "visual_scene") inScene = false;
                open.pop_back();
            }
        } else {
            size_t start = ++i;
            while (i < size && !IsSpace(text[i]) && text[i] != '>' && text[i] != '/') ++i;
            std::string name(text + start, i - start);
            if (size_t colon = name.rfind(':'); colon != std::string::npos) name.erase(0, colon + 1);
            std::string id, url;
            bool closed = false;
            while (i < size && text[i] != '>') {
                if (text[i] == '/') {
                    closed = true;
                    ++i;
                } else if (IsSpace(text[i])) {
                    ++i;
                } else {
                    size_t nameStart = i;
                    while (i < size && text[i] != '=' && !IsSpace(text[i]) && text[i] != '>' && text[i] != '/') ++i;
                    std::string attribute(text + nameStart, i - nameStart);
                    while (i < size && IsSpace(text[i])) ++i;
                    if (i >= size || text[i] != '=') continue;
                    ++i;
                    while (i < size && IsSpace(text[i])) ++i;
                    if (i >= size || (text[i] != '"' && text[i] != '\'')) continue;
                    char quote = text[i++];
                    size_t valueStart = i;
                    while (i < size && text[i] != quote) ++i;
                    std::string value = DecodeXmlText(text + valueStart, i - valueStart);
                    if (i < size) ++i;
                    if (attribute == "id") id = std::move(value);
                    else if (attribute == "url") url = std::move(value);
                    closed = false;
                }
            }
            ++i;
            long parent = open.empty() ? -1 : open.back().node;
            long self = parent;
            if (name == "node") {
                self = static_cast<long>(graph.Add());
                if (parent >= 0)
                    graph.children[static_cast<size_t>(parent)].push_back(self);
                else if (inScene)
                    graph.roots.push_back(self);
                if (!id.empty()) ids.emplace(id, static_cast<size_t>(self));
            } else if (name == "instance_node" && url.size() > 1 && url[0] == '#' && (parent >= 0 || inScene)) {
                instances.emplace_back(parent, url.substr(1));
            } else if (name == "visual_scene") {
                inScene = !closed;
            }
            if (!closed) {
                open.push_back({std::move(name), self});
                if (open.size() > kMaxXmlDepth) {
                    graph.problem = "its XML nests deeper than " + std::to_string(kMaxXmlDepth) + " levels";
                    return graph;
                }
            }
        }
    }
    for (const auto& [node, target] : instances) {
        auto found = ids.find(target);
        if (found == ids.end()) continue;
        long child = static_cast<long>(found->second);
        if (node >= 0)
            graph.children[static_cast<size_t>(node)].push_back(child);
        else
            graph.roots.push_back(child);
    }
    return graph;
}

// What makes a node graph too much for the importer: a node holding itself, a chain
// deeper than its stack holds, or more nodes than the scene may expand to once every
// shared subtree is copied wherever it is named. Each node is visited once (a depth-first
// walk with its own stack), so no sharing of subtrees can make the scan itself long.
std::string GraphProblem(const NodeGraph& graph) {
    if (!graph.problem.empty()) return graph.problem;
    size_t count = graph.children.size();
    enum Mark : uint8_t { Unseen, Open, Done };
    std::vector<Mark> mark(count, Unseen);
    std::vector<size_t> below(count, 0);     // levels from the node down, itself included
    std::vector<uint64_t> expanded(count, 0);  // nodes in its expanded subtree, saturated
    const uint64_t cap = uint64_t(kMaxExpandedNodes) + 1;
    std::vector<std::pair<size_t, size_t>> stack;  // node, next child to look at
    auto child = [&](size_t node, size_t k) -> long {
        long c = graph.children[node][k];
        return c >= 0 && static_cast<size_t>(c) < count ? c : -1;
    };
    for (size_t start = 0; start < count; ++start) {
        if (mark[start] != Unseen) continue;
        stack.emplace_back(start, 0);
        mark[start] = Open;
        while (!stack.empty()) {
            auto& [node, next] = stack.back();
            if (next < graph.children[node].size()) {
                long c = child(node, next++);
                if (c < 0) continue;
                size_t n = static_cast<size_t>(c);
                if (mark[n] == Open) return "its nodes hold themselves";
                if (mark[n] == Unseen) {
                    mark[n] = Open;
                    stack.emplace_back(n, 0);
                }
                continue;
            }
            size_t deepest = 0;
            uint64_t total = 1;
            for (size_t k = 0; k < graph.children[node].size(); ++k)
                if (long c = child(node, k); c >= 0) {
                    deepest = std::max(deepest, below[static_cast<size_t>(c)]);
                    total = std::min(cap, total + expanded[static_cast<size_t>(c)]);
                }
            below[node] = deepest + 1;
            expanded[node] = total;
            mark[node] = Done;
            if (below[node] > kMaxNodeDepth)
                return "its nodes nest deeper than " + std::to_string(kMaxNodeDepth) + " levels";
            stack.pop_back();
        }
    }
    // The scene's roots, or any node alone where the roots were not recognised: a subtree
    // that expands too far is refused wherever it hangs.
    uint64_t scene = 0, largest = 0;
    for (uint64_t n : expanded) largest = std::max(largest, n);
    for (long root : graph.roots)
        if (root >= 0 && static_cast<size_t>(root) < count) scene = std::min(cap, scene + expanded[static_cast<size_t>(root)]);
    if (std::max(scene, largest) > kMaxExpandedNodes)
        return "its nodes expand to more than " + std::to_string(kMaxExpandedNodes) + " (shared subtrees are copied)";
    return {};
}

}  // namespace

std::string GlbLengthProblem(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[20] = {};
    in.read(header, sizeof(header));
    if (in.gcount() < 12 || std::memcmp(header, "glTF", 4) != 0) return {};
    std::error_code error;
    uint64_t size = std::filesystem::file_size(path, error);
    if (error) return {};
    // The first chunk (version 2) or the scene (version 1) starts 20 bytes in; Assimp
    // reserves its length before reading it. The file's own total is not checked: real
    // files get it wrong and Assimp does not rely on it.
    uint32_t chunk = 0;
    if (in.gcount() == sizeof(header)) std::memcpy(&chunk, header + 12, 4);
    if (uint64_t(chunk) + 20 > size)
        return "its binary glTF header claims a first chunk of " + std::to_string(chunk) +
               " bytes, more than the file's " + std::to_string(size) + " hold";
    return {};
}

bool ReadGltfJson(const std::string& path, std::string& json) {
    std::ifstream in(path, std::ios::binary);
    char header[20] = {};
    in.read(header, sizeof(header));
    size_t got = static_cast<size_t>(in.gcount());
    if (got == sizeof(header) && std::memcmp(header, "glTF", 4) == 0) {
        uint32_t length = 0;
        std::memcpy(&length, header + 12, 4);
        if (std::memcmp(header + 16, "JSON", 4) != 0) return false;
        std::error_code error;
        json.resize(std::min<uintmax_t>(length, std::filesystem::file_size(path, error)));
        in.read(json.data(), length);
        json.resize(static_cast<size_t>(in.gcount()));
        return true;
    }
    // The importer also takes glTF JSON by its content whatever the file is called.
    size_t dot = path.find_last_of('.');
    bool named = dot != std::string::npos && Lower(path.substr(dot)) == ".gltf";
    if (!named && FirstSignificant(header, got) != '{') return false;
    in.clear();
    in.seekg(0);
    json.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return true;
}

std::string NodeGraphProblem(const std::string& path) {
    if (std::string problem = GlbLengthProblem(path); !problem.empty()) return problem;
    std::string text;
    if (ReadGltfJson(path, text)) return GltfJsonDepthProblem(text.data(), text.size());
    std::ifstream in(path, std::ios::binary);
    char head[64] = {};
    in.read(head, sizeof(head));
    if (FirstSignificant(head, static_cast<size_t>(in.gcount())) != '<') return {};
    in.clear();
    in.seekg(0);
    text.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return XmlNodeProblem(text.data(), text.size());
}

namespace {

// Counts an OBJ's "o" lines and distinct "usemtl" names over text that may arrive in
// pieces; a line cut between two pieces is carried over.
class ObjCounter {
public:
    void Add(const char* text, size_t size) {
        size_t start = 0;
        for (size_t i = 0; i < size; ++i) {
            if (text[i] != '\n') continue;
            Line(text + start, i - start);
            start = i + 1;
        }
        // Only a line's start counts: an over-long one is kept to its first kKeptLine bytes.
        carry_.append(text + start, std::min(size - start, kKeptLine - std::min(kKeptLine, carry_.size())));
    }
    std::string Finish() {
        Line(carry_.data(), carry_.size());
        carry_.clear();
        return problem_;
    }

private:
    void Line(const char* text, size_t size) {
        if (!carry_.empty() && text != carry_.data()) {
            // The first line of a piece completes the previous piece's last.
            std::string whole = carry_ + std::string(text, size);
            carry_.clear();
            Line(whole.data(), whole.size());
            return;
        }
        if (!problem_.empty()) return;
        std::string_view line(text, size);
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos) return;
        line.remove_prefix(first);
        auto keyword = [&](std::string_view word) {
            return line.size() > word.size() && line.compare(0, word.size(), word) == 0 &&
                   (line[word.size()] == ' ' || line[word.size()] == '\t');
        };
        if (keyword("o") && ++objects_ > kMaxObjObjects) {
            problem_ = "it names more than " + std::to_string(kMaxObjObjects) +
                       " objects, more nodes than an SRX scene holds";
        } else if (keyword("usemtl")) {
            std::string_view name = line.substr(6);
            size_t begin = name.find_first_not_of(" \t"), end = name.find_last_not_of(" \t\r");
            if (begin == std::string_view::npos) return;
            names_.emplace(name.substr(begin, end - begin + 1));
            if (names_.size() > kMaxObjMaterialNames)
                problem_ = "it names more than " + std::to_string(kMaxObjMaterialNames) +
                           " materials, more than an SRX scene holds";
        }
    }

    static constexpr size_t kKeptLine = 4096;
    std::string carry_;
    size_t objects_ = 0;
    std::set<std::string> names_;
    std::string problem_;
};

}  // namespace

std::string ObjCountProblem(const char* text, size_t size) {
    ObjCounter counter;
    counter.Add(text, size);
    return counter.Finish();
}

std::string ObjFileCountProblem(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    ObjCounter counter;
    std::vector<char> piece(1 << 20);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        counter.Add(piece.data(), static_cast<size_t>(in.gcount()));
    }
    return counter.Finish();
}

std::string PlyHeaderProblem(const char* text, size_t size) {
    std::string_view head(text, std::min(size, kMaxPlyHeaderBytes));
    if (head.size() < 4 || head.substr(0, 3) != "ply" || !std::isspace(static_cast<unsigned char>(head[3]))) return {};
    if (head.find("end_header") != std::string_view::npos) return {};
    return "its PLY header has no end_header line in its first " + std::to_string(kMaxPlyHeaderBytes >> 20) + " MiB";
}

std::string PlyFileHeaderProblem(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> head(kMaxPlyHeaderBytes);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    return PlyHeaderProblem(head.data(), static_cast<size_t>(in.gcount()));
}

std::string GltfJsonDepthProblem(const char* json, size_t size) { return GraphProblem(ScanJson(json, size)); }

std::string XmlNodeProblem(const char* xml, size_t size) { return GraphProblem(ScanXml(xml, size)); }

size_t NodeDepth(const aiNode* root) {
    size_t deepest = 0;
    std::vector<std::pair<const aiNode*, size_t>> walk;
    if (root) walk.emplace_back(root, 1);
    while (!walk.empty()) {
        auto [node, depth] = walk.back();
        walk.pop_back();
        deepest = std::max(deepest, depth);
        for (unsigned c = 0; c < node->mNumChildren && node->mChildren; ++c)
            if (node->mChildren[c]) walk.emplace_back(node->mChildren[c], depth + 1);
    }
    return deepest;
}

bool RunOnImportStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setstacksize(&attributes, kImportStackBytes);
    pthread_t thread;
    auto start = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    bool started = pthread_create(&thread, &attributes, start, const_cast<std::function<void()>*>(&work)) == 0;
    pthread_attr_destroy(&attributes);
    if (started) pthread_join(thread, nullptr);
    return started;
}

}  // namespace srxconvert
