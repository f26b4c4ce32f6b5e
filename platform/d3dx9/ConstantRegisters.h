// Direct3D 9 constant registers for a program's global constants.
//
// HLSL's global constants reach SPIRV-Cross as one block ($Global). Direct3D 9 gives each
// constant registers instead: register(cN) where the source says so, otherwise the lowest
// free registers in declaration order, each constant starting its own register. The block
// is laid out to match (member offset = 16 x register) and then read as an array of
// registers bound to the device's register file of the stage. Samplers take register(sN)
// where the source says so and the lowest free sampler registers otherwise. What "the
// source says" is the helper's reading of the preprocessed program (GlobalDeclarations.h),
// pins for another profile left out.
#pragma once

#include "d3dx9/ConstantTable.h"
#include "hlslfront/GlobalDeclarations.h"

#include <spirv_cross/spirv_glsl.hpp>

#include <deque>
#include <string>
#include <vector>

namespace lumaret::platform {

// Places the program's constants in registers and describes them (samplers too) for its
// constant table; throws ShaderCompileError when they do not fit the stage.
std::deque<ConstantRecord> AssignRegisters(spirv_cross::CompilerGLSL& compiler, const GlobalScan& globals,
                                           const std::string& profile, bool vertex);

// Replaces the flattened "uniform vec4 NAME[N];" of compiled GLSL with a block bound to the
// stage's register file of the given size.
std::string BindRegisterFile(std::string glsl, bool vertex, UINT registers);

}  // namespace lumaret::platform
