#include "d3dx9/ConstantRegisters.h"

#include "d3d9/DeviceLimits.h"
#include "hlslfront/ShaderCompileError.h"

#include <d3dx9.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace lumaret::platform {
namespace {

// The first register of each global the pins place for this profile, by name.
std::map<std::string, UINT> PinnedRegisters(const std::vector<RegisterPin>& pins, char set,
                                            const std::string& profile) {
    std::map<std::string, UINT> registers;
    for (const RegisterPin& pin : pins)
        if (pin.set == set && PinAppliesTo(pin, profile)) registers.emplace(pin.name, pin.index);
    return registers;
}

// The lowest `count` free registers from `used`, marked used; throws when none are left.
UINT TakeLowestFree(std::vector<bool>& used, UINT count, const std::string& what) {
    UINT first = 0;
    while (first + count <= used.size() &&
           std::any_of(used.begin() + first, used.begin() + first + count, [](bool u) { return u; }))
        ++first;
    if (first + count > used.size())
        throw ShaderCompileError("error: too many " + what + " for the " + std::to_string(used.size()) +
                                 " registers of the stage\n");
    std::fill(used.begin() + first, used.begin() + first + count, true);
    return first;
}

struct MemberLayout {
    D3DXCONSTANT_DESC desc{};
    UINT registersPerElement = 1;
    std::string name;
};

MemberLayout DescribeMember(spirv_cross::CompilerGLSL& compiler, const spirv_cross::SPIRType& block, uint32_t index) {
    MemberLayout layout;
    layout.name = compiler.get_member_name(block.self, index);
    const spirv_cross::SPIRType& type = compiler.get_type(block.member_types[index]);
    D3DXCONSTANT_DESC& d = layout.desc;
    d.RegisterSet = D3DXRS_FLOAT4;
    switch (type.basetype) {
        case spirv_cross::SPIRType::Float: d.Type = D3DXPT_FLOAT; break;
        case spirv_cross::SPIRType::Int:
        case spirv_cross::SPIRType::UInt: d.Type = D3DXPT_INT; break;
        case spirv_cross::SPIRType::Boolean: d.Type = D3DXPT_BOOL; break;
        default:
            throw ShaderCompileError("error: constant '" + layout.name +
                                     "' has a type Direct3D 9 registers cannot hold\n");
    }
    if (type.columns > 1) {
        // glslang writes HLSL's floatRxC as a matrix of R columns of C-vectors; HLSL's
        // default column_major packing comes out row-major in SPIR-V.
        bool columnMajor = compiler.has_member_decoration(block.self, index, spv::DecorationRowMajor);
        d.Rows = type.columns;
        d.Columns = type.vecsize;
        d.Class = columnMajor ? D3DXPC_MATRIX_COLUMNS : D3DXPC_MATRIX_ROWS;
        layout.registersPerElement = columnMajor ? d.Columns : d.Rows;
    } else {
        d.Rows = 1;
        d.Columns = type.vecsize;
        d.Class = type.vecsize > 1 ? D3DXPC_VECTOR : D3DXPC_SCALAR;
        layout.registersPerElement = 1;
    }
    if (type.array.size() > 1) throw ShaderCompileError("error: constant '" + layout.name + "' is a nested array\n");
    d.Elements = type.array.empty() ? 1 : type.array[0];
    if (d.Elements == 0) throw ShaderCompileError("error: constant '" + layout.name + "' has no elements\n");
    d.RegisterCount = d.Elements * layout.registersPerElement;
    d.Bytes = d.Elements * d.Rows * d.Columns * 4;
    return layout;
}

}  // namespace

std::deque<ConstantRecord> AssignRegisters(spirv_cross::CompilerGLSL& compiler, const GlobalScan& globals,
                                           const std::string& profile, bool vertex) {
    std::deque<ConstantRecord> records;
    spirv_cross::ShaderResources resources = compiler.get_shader_resources();
    const UINT registerCount = vertex ? kVertexConstantRegisters : kPixelConstantRegisters;
    for (const spirv_cross::Resource& buffer : resources.uniform_buffers) {
        const spirv_cross::SPIRType& block = compiler.get_type(buffer.base_type_id);
        if (compiler.get_name(buffer.base_type_id) != "$Global" && buffer.name != "$Global")
            throw ShaderCompileError("error: constant buffers are not supported by Direct3D 9 shader models\n");
        std::map<std::string, UINT> explicitRegisters = PinnedRegisters(globals.pins, 'c', profile);
        std::vector<MemberLayout> members;
        std::vector<bool> used(registerCount, false);
        // Explicitly placed constants first, then the rest into the lowest free registers.
        std::vector<int> assigned(block.member_types.size(), -1);
        for (uint32_t i = 0; i < block.member_types.size(); ++i) {
            members.push_back(DescribeMember(compiler, block, i));
            auto found = explicitRegisters.find(members.back().name);
            if (found == explicitRegisters.end()) continue;
            UINT first = found->second, count = members.back().desc.RegisterCount;
            if (first > registerCount || count > registerCount - first)
                throw ShaderCompileError("error: constant '" + members.back().name +
                                         "' lies beyond the last register\n");
            for (UINT r = first; r < first + count; ++r) {
                if (used[r])
                    throw ShaderCompileError("error: constant '" + members.back().name + "' overlaps another\n");
                used[r] = true;
            }
            assigned[i] = static_cast<int>(first);
        }
        for (uint32_t i = 0; i < block.member_types.size(); ++i)
            if (assigned[i] < 0)
                assigned[i] = static_cast<int>(TakeLowestFree(used, members[i].desc.RegisterCount, "constants"));
        for (uint32_t i = 0; i < block.member_types.size(); ++i) {
            MemberLayout& member = members[i];
            member.desc.RegisterIndex = static_cast<UINT>(assigned[i]);
            compiler.set_member_decoration(block.self, i, spv::DecorationOffset, member.desc.RegisterIndex * 16);
            const spirv_cross::SPIRType& type = compiler.get_type(block.member_types[i]);
            if (!type.array.empty())
                compiler.set_decoration(block.member_types[i], spv::DecorationArrayStride,
                                        member.registersPerElement * 16);
            ConstantRecord record;
            record.name = member.name;
            record.desc = member.desc;
            record.registersPerElement = member.registersPerElement;
            records.push_back(std::move(record));
        }
        // The block is read as an array of registers, so offsets may come in any order.
        compiler.flatten_buffer_block(buffer.id);
    }
    // Samplers as constants: pinned ones where the pins say, the others in the lowest free
    // sampler registers in declaration order.
    std::map<std::string, UINT> pinnedSamplers = PinnedRegisters(globals.pins, 's', profile);
    std::vector<bool> usedSamplers(kSamplerStages, false);
    std::vector<int> samplerRegisters;
    for (const spirv_cross::Resource& sampler : resources.sampled_images) {
        auto found = pinnedSamplers.find(compiler.get_name(sampler.id));
        int index = found == pinnedSamplers.end() ? -1 : static_cast<int>(found->second);
        if (index >= static_cast<int>(kSamplerStages))
            throw ShaderCompileError("error: sampler '" + found->first + "' uses a register beyond s15\n");
        if (index >= 0) {
            if (usedSamplers[index])
                throw ShaderCompileError("error: sampler '" + found->first + "' overlaps another\n");
            usedSamplers[index] = true;
        }
        samplerRegisters.push_back(index);
    }
    // SPIR-V lists samplers in the order the program uses them; D3DX goes by declaration.
    std::vector<size_t> byDeclaration(samplerRegisters.size());
    for (size_t k = 0; k < byDeclaration.size(); ++k) byDeclaration[k] = k;
    auto place = [&](size_t k) {
        std::string name = compiler.get_name(resources.sampled_images[k].id);
        return std::find(globals.order.begin(), globals.order.end(), name) - globals.order.begin();
    };
    std::stable_sort(byDeclaration.begin(), byDeclaration.end(),
                     [&](size_t a, size_t b) { return place(a) < place(b); });
    for (size_t k : byDeclaration)
        if (samplerRegisters[k] < 0)
            samplerRegisters[k] = static_cast<int>(TakeLowestFree(usedSamplers, 1, "samplers"));
    for (size_t k = 0; k < resources.sampled_images.size(); ++k) {
        const spirv_cross::Resource& sampler = resources.sampled_images[k];
        compiler.set_decoration(sampler.id, spv::DecorationBinding, static_cast<uint32_t>(samplerRegisters[k]));
        ConstantRecord record;
        record.name = compiler.get_name(sampler.id);
        D3DXCONSTANT_DESC& d = record.desc;
        d.RegisterSet = D3DXRS_SAMPLER;
        d.RegisterIndex = static_cast<UINT>(samplerRegisters[k]);
        d.RegisterCount = 1;
        d.Class = D3DXPC_OBJECT;
        const spirv_cross::SPIRType& type = compiler.get_type(sampler.type_id);
        d.Type = type.image.dim == spv::DimCube ? D3DXPT_SAMPLERCUBE
                 : type.image.dim == spv::Dim3D ? D3DXPT_SAMPLER3D
                 : type.image.dim == spv::Dim1D ? D3DXPT_SAMPLER1D
                                                : D3DXPT_SAMPLER2D;
        d.Rows = d.Columns = d.Elements = 1;
        d.Bytes = 4;
        records.push_back(std::move(record));
    }
    return records;
}

std::string BindRegisterFile(std::string glsl, bool vertex, UINT registers) {
    static const std::regex& declaration = *new std::regex(R"(\nuniform vec4 (\w+)\[\d+\];)");
    std::smatch match;
    if (!std::regex_search(glsl, match, declaration)) return glsl;
    std::string replacement =
        "\nlayout(std140, binding = " + std::to_string(vertex ? kVertexConstantBinding : kPixelConstantBinding) +
        ") uniform " + (vertex ? "VertexRegisters" : "PixelRegisters") + " {\n    vec4 " + match[1].str() + "[" +
        std::to_string(registers) + "];\n};";
    return glsl.replace(static_cast<size_t>(match.position(0)), static_cast<size_t>(match.length(0)), replacement);
}

}  // namespace lumaret::platform
