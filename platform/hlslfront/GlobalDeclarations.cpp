#include "hlslfront/GlobalDeclarations.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <map>
#include <set>

namespace lumaret::platform {
namespace {

struct Token {
    std::string_view text;
    int line;
};

bool IsIdentifierStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentifier(std::string_view text) { return !text.empty() && IsIdentifierStart(text[0]); }

// Words and single punctuation characters. The preprocessor has removed comments already;
// they are skipped anyway so that the scan never depends on it.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : text_(text) {}

    std::vector<Token> Run() {
        std::vector<Token> tokens;
        bool lineStart = true;
        while (at_ < text_.size()) {
            char c = text_[at_];
            if (c == '\n') {
                ++line_, ++at_, lineStart = true;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++at_;
            } else if (c == '#' && lineStart) {
                Directive();
            } else if (text_.compare(at_, 2, "//") == 0) {
                while (at_ < text_.size() && text_[at_] != '\n') ++at_;
            } else if (text_.compare(at_, 2, "/*") == 0) {
                size_t end = text_.find("*/", at_ + 2);
                end = end == std::string_view::npos ? text_.size() : end + 2;
                line_ += static_cast<int>(std::count(text_.begin() + at_, text_.begin() + end, '\n'));
                at_ = end;
            } else if (c == '"') {
                size_t end = text_.find_first_of("\"\n", at_ + 1);
                at_ = end == std::string_view::npos ? text_.size() : end + (text_[end] == '"');
            } else {
                lineStart = false;
                size_t begin = at_;
                if (IsWordChar(c))
                    while (at_ < text_.size() && IsWordChar(text_[at_])) ++at_;
                else
                    ++at_;
                tokens.push_back({text_.substr(begin, at_ - begin), line_});
            }
        }
        return tokens;
    }

    const std::string& fileName() const { return fileName_; }

private:
    // "#line N" and "#line N "file"" renumber the lines that follow; other directives
    // (#pragma) are passed over.
    void Directive() {
        size_t end = text_.find('\n', at_);
        if (end == std::string_view::npos) end = text_.size();
        std::string_view directive = text_.substr(at_ + 1, end - at_ - 1);
        size_t word = directive.find_first_not_of(" \t");
        if (word != std::string_view::npos && directive.compare(word, 4, "line") == 0) {
            std::string_view rest = directive.substr(word + 4);
            size_t digits = rest.find_first_not_of(" \t");
            int number = 0;
            if (digits != std::string_view::npos) {
                auto parsed = std::from_chars(rest.data() + digits, rest.data() + rest.size(), number);
                if (parsed.ec == std::errc() && number > 0) {
                    line_ = number - 1;  // the directive's own newline brings it to N
                    std::string_view after = rest.substr(static_cast<size_t>(parsed.ptr - rest.data()));
                    size_t open = after.find('"'), close = after.rfind('"');
                    if (open != std::string_view::npos && close > open)
                        fileName_ = std::string(after.substr(open + 1, close - open - 1));
                }
            }
        }
        at_ = end;
    }

    std::string_view text_;
    size_t at_ = 0;
    int line_ = 1;
    std::string fileName_;
};

bool IsModifier(std::string_view word) {
    static const std::set<std::string_view> modifiers = {
        "uniform", "static",  "const",       "extern",          "shared",   "volatile", "row_major",
        "column_major", "precise", "groupshared", "nointerpolation", "linear", "centroid", "noperspective",
        "sample",  "snorm",   "unorm",       "inline"};
    return modifiers.count(word) > 0;
}

bool StartsNonVariable(std::string_view word) {
    static const std::set<std::string_view> words = {"struct", "typedef", "cbuffer", "tbuffer", "technique",
                                                     "technique10", "technique11", "pass", "namespace", "class",
                                                     "interface"};
    return words.count(word) > 0;
}

// The index just past the bracket group opened at `open` (its closing bracket), or the end.
size_t SkipGroup(const std::vector<Token>& tokens, size_t open) {
    int depth = 0;
    for (size_t i = open; i < tokens.size(); ++i) {
        char c = tokens[i].text[0];
        if (c == '(' || c == '[' || c == '{') ++depth;
        if (c == ')' || c == ']' || c == '}') {
            if (--depth == 0) return i + 1;
        }
    }
    return tokens.size();
}

struct Declaration {
    std::string signature;  // type and array sizes, as written
    int line = 0;
};

class Scanner {
public:
    Scanner(std::vector<Token> tokens, std::string fileName)
        : tokens_(std::move(tokens)), fileName_(fileName.empty() ? "memory" : std::move(fileName)) {}

    GlobalScan Run() {
        size_t i = 0;
        while (i < tokens_.size()) i = Statement(i);
        return std::move(scan_);
    }

private:
    // One statement at global scope, from `begin`; returns where the next one starts.
    size_t Statement(size_t begin) {
        bool function = false, initialiserOrSemantic = false;
        size_t i = begin;
        while (i < tokens_.size()) {
            std::string_view t = tokens_[i].text;
            if (t == ";") {
                if (!function) Declarations(begin, i);
                return i + 1;
            }
            if (t == "}") return i + 1;  // unbalanced: glslang reports it
            if (t == ":" || t == "=") initialiserOrSemantic = true;
            if (t == "(" && !initialiserOrSemantic) function = true;
            if (t == "{") {
                i = SkipGroup(tokens_, i);
                if (function) return i;  // a function body ends its definition
                continue;
            }
            if (t == "(" || t == "[") {
                i = SkipGroup(tokens_, i);
                continue;
            }
            ++i;
        }
        return i;
    }

    // A declaration of globals: modifiers, a type, then declarators.
    void Declarations(size_t begin, size_t end) {
        size_t i = begin;
        if (i < end && StartsNonVariable(tokens_[i].text)) return;
        bool isStatic = false;
        while (i < end && IsModifier(tokens_[i].text)) isStatic |= tokens_[i++].text == "static";
        if (i >= end || !IsIdentifier(tokens_[i].text)) return;
        std::string type(tokens_[i++].text);
        if (i < end && tokens_[i].text == "<") {  // vector<float, 4>
            while (i < end && tokens_[i].text != ">") type += tokens_[i++].text;
            if (i < end) type += tokens_[i++].text;
        }
        while (i < end) {
            if (!IsIdentifier(tokens_[i].text)) return;
            const Token& name = tokens_[i++];
            std::string signature = type;
            while (i < end && tokens_[i].text == "[") {
                size_t close = SkipGroup(tokens_, i);
                for (size_t k = i; k < close && k < end; ++k) signature += tokens_[k].text;
                i = close;
            }
            while (i + 1 < end && tokens_[i].text == ":") {
                std::string_view what = tokens_[i + 1].text;
                i += 2;
                if (i < end && tokens_[i].text == "(") {
                    size_t close = SkipGroup(tokens_, i);
                    if (what == "register" && !isStatic) Pin(name, i + 1, close - 1);
                    i = close;
                }
            }
            if (i < end && tokens_[i].text == "=") {
                ++i;
                while (i < end && tokens_[i].text != ",") {
                    char c = tokens_[i].text[0];
                    i = c == '(' || c == '[' || c == '{' ? SkipGroup(tokens_, i) : i + 1;
                }
            }
            Declare(name, signature);
            if (i >= end || tokens_[i].text != ",") return;
            ++i;
        }
    }

    // register([profile,] cN[, space]) between `first` and `last` (the closing parenthesis).
    void Pin(const Token& name, size_t first, size_t last) {
        std::vector<std::string_view> arguments;
        for (size_t k = first; k < last && k < tokens_.size(); ++k)
            if (tokens_[k].text != ",") arguments.push_back(tokens_[k].text);
        if (arguments.empty()) return;
        // register(c5, space0) names no profile; register(ps, c6) and register(vs_3_0, c6) do.
        bool profiled = arguments.size() >= 2 && !(arguments[0].size() >= 2 && std::isdigit(
                                                       static_cast<unsigned char>(arguments[0][1])));
        if (profiled && !IsIdentifier(arguments[0])) return;  // not HLSL: glslang says so
        std::string_view slot = profiled ? arguments[1] : arguments[0];
        if (slot.size() < 2 || !std::isalpha(static_cast<unsigned char>(slot[0]))) return;
        unsigned index = 0;
        auto parsed = std::from_chars(slot.data() + 1, slot.data() + slot.size(), index);
        if (parsed.ptr != slot.data() + slot.size()) return;
        // Digits too many for 32 bits still name a register, one past any the model has:
        // the layout refuses it as it does c256, where dropping it would move the constant.
        if (parsed.ec == std::errc::result_out_of_range)
            index = std::numeric_limits<unsigned>::max();
        else if (parsed.ec != std::errc())
            return;
        RegisterPin pin;
        pin.name = std::string(name.text);
        pin.set = static_cast<char>(std::tolower(static_cast<unsigned char>(slot[0])));
        pin.index = index;
        if (profiled) pin.profile = std::string(arguments[0]);
        scan_.pins.push_back(std::move(pin));
    }

    void Declare(const Token& name, const std::string& signature) {
        auto [it, fresh] = declared_.try_emplace(std::string(name.text), Declaration{signature, name.line});
        if (fresh) scan_.order.push_back(it->first);
        if (fresh || it->second.signature == signature || !scan_.redefinition.empty()) return;
        scan_.redefinition = fileName_ + "(" + std::to_string(name.line) + "): error X3003: redefinition of '" +
                             it->first + "': declared as " + it->second.signature + " on line " +
                             std::to_string(it->second.line) + ", again as " + signature + "\n";
    }

    std::vector<Token> tokens_;
    std::string fileName_;
    std::map<std::string, Declaration> declared_;
    GlobalScan scan_;
};

}  // namespace

GlobalScan ScanGlobalDeclarations(std::string_view preprocessed) {
    Tokenizer tokenizer(preprocessed);
    std::vector<Token> tokens = tokenizer.Run();
    return Scanner(std::move(tokens), tokenizer.fileName()).Run();
}

bool PinAppliesTo(const RegisterPin& pin, const std::string& profile) {
    if (pin.profile.empty()) return true;
    std::string wanted = pin.profile;
    for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // "vs" and "ps" name a stage; anything longer names one profile.
    return wanted == profile || (wanted.size() == 2 && profile.compare(0, 2, wanted) == 0);
}

std::string EncodeGlobals(const GlobalScan& scan) {
    std::string text;
    for (const RegisterPin& pin : scan.pins)
        text += pin.name + " " + pin.set + " " + std::to_string(pin.index) + " " +
                (pin.profile.empty() ? "-" : pin.profile) + "\n";
    for (size_t k = 0; k < scan.order.size(); ++k) text += scan.order[k] + " = " + std::to_string(k) + " -\n";
    return text;
}

bool DecodeGlobals(std::string_view text, GlobalScan* scan) {
    *scan = GlobalScan();
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos) return false;
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        std::string_view fields[4];
        for (std::string_view& field : fields) {
            size_t space = line.find(' ');
            field = line.substr(0, space);
            line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        }
        RegisterPin pin;
        bool isPlace = fields[1] == "=";
        if (!line.empty() || !IsIdentifier(fields[0]) ||
            !std::all_of(fields[0].begin(), fields[0].end(), IsWordChar) || fields[1].size() != 1 ||
            !(isPlace || std::islower(static_cast<unsigned char>(fields[1][0]))) || fields[3].empty() ||
            !std::all_of(fields[3].begin(), fields[3].end(), [](char c) { return IsWordChar(c) || c == '-'; }))
            return false;
        auto parsed = std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), pin.index);
        if (fields[2].empty() || parsed.ec != std::errc() || parsed.ptr != fields[2].data() + fields[2].size())
            return false;
        if (isPlace) {
            if (pin.index != scan->order.size() || fields[3] != "-") return false;
            scan->order.emplace_back(fields[0]);
            continue;
        }
        pin.name = std::string(fields[0]);
        pin.set = fields[1][0];
        if (fields[3] != "-") pin.profile = std::string(fields[3]);
        scan->pins.push_back(std::move(pin));
    }
    return true;
}

}  // namespace lumaret::platform
