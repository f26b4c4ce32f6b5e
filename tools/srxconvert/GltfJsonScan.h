// GltfJsonScan: a walk over a glTF's JSON that keeps the path of keys down to each value,
// for the scans that look for a few keys without building the document (a glTF's JSON can
// run to many megabytes of accessors). Keys arrive decoded, so an escaped spelling of a
// name is the name. A scan overrides the hooks it needs.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace srxconvert {

class GltfJsonScan : public nlohmann::json_sax<nlohmann::json> {
public:
    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t value) override { return Number(static_cast<double>(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Number(static_cast<double>(value)); }
    bool number_float(number_float_t value, const string_t&) override { return Number(value); }
    bool string(string_t&) override { return Value(); }
    bool binary(binary_t&) override { return Value(); }
    bool start_object(std::size_t) override {
        OnObject();
        return Open();
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(); }
    bool end_array() override { return Close(); }
    bool key(string_t& name) override {
        key_ = name;
        OnKey(name);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

protected:
    // An object opens at path_ under key_ ("" as an array's element).
    virtual void OnObject() {}
    // A key of the object at path_.
    virtual void OnKey(const std::string&) {}
    // A number under key_ in the container at path_.
    virtual void OnNumber(double) {}

    // The open containers: the key each was opened under ("" in arrays and at the root).
    std::vector<std::string> path_;
    std::string key_;

private:
    bool Open() {
        path_.push_back(key_);
        key_.clear();
        return true;
    }
    bool Value() {
        key_.clear();
        return true;
    }
    bool Number(double value) {
        OnNumber(value);
        return Value();
    }
    bool Close() {
        if (!path_.empty()) path_.pop_back();
        key_.clear();
        return true;
    }
};

// Runs the scan over the text; false when it is not JSON (the scan keeps what it found up
// to the fault). The nesting was checked before the import (NodeDepth.h); the parser keeps
// its stack on the heap.
inline bool RunGltfJsonScan(std::string_view text, GltfJsonScan& scan) {
    try {
        return nlohmann::json::sax_parse(text.begin(), text.end(), &scan, nlohmann::json::input_format_t::json, false);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace srxconvert
