#include "d3dx9/ShaderIncludes.h"

#include "hlslfront/ShaderCompileError.h"

#include <cctype>
#include <cstdlib>
#include <string_view>

namespace lumaret::platform {

namespace {

std::string_view Trimmed(std::string_view line) {
    size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    return line.substr(start);
}

// `#` then the directive's word, blanks allowed between: the rest of the line, or nothing
// when the line is not that directive.
bool Directive(std::string_view line, std::string_view word, std::string_view& rest) {
    line = Trimmed(line);
    if (line.empty() || line[0] != '#') return false;
    line = Trimmed(line.substr(1));
    if (line.substr(0, word.size()) != word) return false;
    rest = line.substr(word.size());
    return rest.empty() || rest[0] == ' ' || rest[0] == '\t' || rest[0] == '"' || rest[0] == '<';
}

// The text between the delimiters, and which pair it was.
bool IncludedName(std::string_view rest, std::string& name, D3DXINCLUDE_TYPE& type) {
    rest = Trimmed(rest);
    if (rest.empty() || (rest[0] != '"' && rest[0] != '<')) return false;
    char close = rest[0] == '"' ? '"' : '>';
    size_t end = rest.find(close, 1);
    if (end == std::string_view::npos || end == 1) return false;
    name.assign(rest.substr(1, end - 1));
    type = close == '"' ? D3DXINC_LOCAL : D3DXINC_SYSTEM;
    return true;
}

struct Expansion {
    ID3DXInclude* include;
    std::string out;

    // `name` is how the text's lines are named in messages, as its #line says (empty: as the
    // compiler names the source).
    void Expand(std::string_view text, std::string name, int depth) {
        int line = 1;  // of the line being read, as the messages will count it
        for (size_t at = 0; at < text.size() || at == 0;) {
            size_t end = text.find('\n', at);
            std::string_view current = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
            std::string_view rest;
            std::string file;
            D3DXINCLUDE_TYPE type = D3DXINC_LOCAL;
            if (Directive(current, "include", rest) && IncludedName(rest, file, type)) {
                Insert(file, type, name, line, depth);
            } else {
                if (Directive(current, "line", rest)) Renumber(rest, line, name);
                out.append(current);
                out.push_back('\n');
            }
            ++line;
            if (end == std::string_view::npos) break;
            at = end + 1;
        }
    }

    // A #line directive: the next line is its number, named as it says.
    static void Renumber(std::string_view rest, int& line, std::string& name) {
        std::string numbers(Trimmed(rest));
        char* after = nullptr;
        long number = std::strtol(numbers.c_str(), &after, 10);
        if (after == numbers.c_str() || number < 1 || number > 1 << 24) return;
        line = static_cast<int>(number) - 1;
        std::string_view tail = Trimmed(std::string_view(after));
        if (tail.size() >= 2 && tail[0] == '"') {
            size_t close = tail.find('"', 1);
            if (close != std::string_view::npos) name.assign(tail.substr(1, close - 1));
        }
    }

    void Insert(const std::string& file, D3DXINCLUDE_TYPE type, const std::string& name, int line, int depth) {
        std::string where = (name.empty() ? std::string("shader") : name) + "(" + std::to_string(line) + ")";
        if (depth >= kMaxIncludeDepth)
            throw ShaderCompileError(where + ": error X1504: includes nest deeper than " +
                                     std::to_string(kMaxIncludeDepth) + " levels at '" + file + "'\n");
        LPCVOID data = nullptr;
        UINT bytes = 0;
        if (FAILED(include->Open(type, file.c_str(), nullptr, &data, &bytes)) || (!data && bytes))
            throw ShaderCompileError(where + ": error X1507: failed to open source file: '" + file + "'\n");
        std::string text(static_cast<const char*>(data), bytes);
        include->Close(data);
        // Quotes and line breaks would end the directive's name early.
        std::string shown;
        for (char c : file)
            if (c != '"' && c != '\\' && c != '\n' && c != '\r') shown += c;
        out += "#line 1 \"" + shown + "\"\n";
        Expand(text, shown, depth + 1);
        out += "#line " + std::to_string(line + 1) + (name.empty() ? std::string() : " \"" + name + "\"") + "\n";
    }
};

}  // namespace

std::string ExpandIncludes(const std::string& source, ID3DXInclude* include) {
    if (!include || source.find("include") == std::string::npos) return source;
    Expansion expansion{include, {}};
    expansion.out.reserve(source.size());
    expansion.Expand(source, {}, 0);
    // The source's own last line keeps whether it ended in a line break.
    if (!source.empty() && source.back() != '\n' && !expansion.out.empty() && expansion.out.back() == '\n')
        expansion.out.pop_back();
    return expansion.out;
}

}  // namespace lumaret::platform
