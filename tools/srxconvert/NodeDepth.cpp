#include "NodeDepth.h"

#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace srxconvert {

namespace {


std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The node graph of a glTF's JSON, scanned without recursion: each node's children and the
// scenes' root nodes. Only the paths $.nodes[i].children[k] and $.scenes[i].nodes[k] matter.
struct NodeGraph {
    std::vector<std::vector<long>> children;
    std::vector<long> roots;
    std::string problem;
};

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
        if (std::isspace(static_cast<unsigned char>(c))) continue;
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
                stack.back().key.assign(text + start, std::min(i, size) - start);
        } else {
            size_t start = i;
            while (i + 1 < size && !std::strchr(",}] \t\r\n", text[i + 1])) ++i;
            value(text + start, i + 1 - start);
        }
    }
    return graph;
}

}  // namespace

bool ReadGltfJson(const std::string& path, std::string& json) {
    std::ifstream in(path, std::ios::binary);
    char header[20] = {};
    in.read(header, sizeof(header));
    if (in.gcount() == sizeof(header) && std::memcmp(header, "glTF", 4) == 0) {
        uint32_t length = 0;
        std::memcpy(&length, header + 12, 4);
        if (std::memcmp(header + 16, "JSON", 4) != 0) return false;
        std::error_code error;
        json.resize(std::min<uintmax_t>(length, std::filesystem::file_size(path, error)));
        in.read(json.data(), length);
        json.resize(static_cast<size_t>(in.gcount()));
        return true;
    }
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || Lower(path.substr(dot)) != ".gltf") return false;
    in.clear();
    in.seekg(0);
    json.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return true;
}

std::string GltfDepthProblem(const std::string& path) {
    std::string json;
    if (!ReadGltfJson(path, json)) return {};
    return GltfJsonDepthProblem(json.data(), json.size());
}

std::string GltfJsonDepthProblem(const char* json, size_t size) {
    NodeGraph graph = ScanJson(json, size);
    if (!graph.problem.empty()) return graph.problem;
    // The deepest chain below each node, each node visited once (a depth-first walk with
    // its own stack), so no sharing of subtrees can make the scan long; a node met again
    // while its own chain is still open holds itself.
    size_t count = graph.children.size();
    enum Mark : uint8_t { Unseen, Open, Done };
    std::vector<Mark> mark(count, Unseen);
    std::vector<size_t> below(count, 0);  // levels from the node down, itself included
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
            for (size_t k = 0; k < graph.children[node].size(); ++k)
                if (long c = child(node, k); c >= 0) deepest = std::max(deepest, below[static_cast<size_t>(c)]);
            below[node] = deepest + 1;
            mark[node] = Done;
            if (below[node] > kMaxNodeDepth)
                return "its nodes nest deeper than " + std::to_string(kMaxNodeDepth) + " levels";
            stack.pop_back();
        }
    }
    return {};
}

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
