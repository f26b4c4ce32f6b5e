// What a program's global declarations say about registers, read from its preprocessed text.
//
// D3DX places constants and samplers from the program the preprocessor leaves: a pin in a
// comment or in a branch compiled out does not count, nor does one on a function parameter
// or a struct member, and a pin may name a profile ("register(ps, c6)") so that it holds in
// that stage only. glslang reads the pins too but ignores their profile, so the helper
// scans the preprocessed text itself and the compiler applies what fits the profile.
//
// The same scan finds a global declared twice with different types, which glslang 12
// crashes on instead of reporting.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumaret::platform {

struct RegisterPin {
    std::string name;     // the global it belongs to
    char set = 'c';       // register set, lower case: c (float4), s (sampler), i, b
    unsigned index = 0;   // first register
    std::string profile;  // "" for every profile, else as written: "vs", "ps_3_0", ...
};

struct GlobalScan {
    std::vector<RegisterPin> pins;
    std::vector<std::string> order;  // the globals' names in declaration order, each once
    std::string redefinition;        // a compile error as D3DX words it, or empty
};

// Reads the global declarations of preprocessed HLSL (#line directives are followed, so
// lines are the source file's).
GlobalScan ScanGlobalDeclarations(std::string_view preprocessed);

// Whether a pin holds for a program compiled for this profile ("vs_3_0", "ps_2_0", ...).
bool PinAppliesTo(const RegisterPin& pin, const std::string& profile);

// The pins and the order as the helper's reply carries them: a line each, "name set index
// profile" for a pin ("-" for no profile) and "name = ordinal -" for a global's place.
std::string EncodeGlobals(const GlobalScan& scan);
// False for text that is not in that form.
bool DecodeGlobals(std::string_view text, GlobalScan* scan);

}  // namespace lumaret::platform
