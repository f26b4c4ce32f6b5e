#include "d3d9/FixedFunction.h"

#include "d3d9/InternalUniforms.h"
#include "d3d9/VertexDeclaration.h"
#include "d3d9/ShaderBlob.h"

namespace lumaret::platform {

std::string FixedFunctionVertexSource(const VertexDeclaration& declaration) {
    std::string inputs, body;
    bool hasColor0 = false;
    for (const auto& a : declaration.attributes()) {
        std::string name = "attribute" + std::to_string(a.location);
        inputs += "layout(location = " + std::to_string(a.location) + ") in vec4 " + name + ";\n";
        int varying = -1;
        if (a.usage == D3DDECLUSAGE_TEXCOORD) varying = VaryingLocation("TEXCOORD", a.usageIndex);
        if (a.usage == D3DDECLUSAGE_COLOR) {
            varying = VaryingLocation("COLOR", a.usageIndex);
            hasColor0 |= a.usageIndex == 0;
        }
        if (varying >= 0) {
            inputs += "layout(location = " + std::to_string(varying) + ") out vec4 varying" + std::to_string(varying) +
                      ";\n";
            body += "    varying" + std::to_string(varying) + " = " + name + ";\n";
        }
    }
    if (!hasColor0) {
        inputs += "layout(location = 10) out vec4 varying10;\n";
        body += "    varying10 = vec4(1.0);\n";
    }
    std::string position;
    if (declaration.pretransformed()) {
        // x, y in target pixels (centres on integers), z in [0, 1], w holding 1 / w.
        position =
            "    vec4 p = attribute0;\n"
            "    float w = p.w != 0.0 ? 1.0 / p.w : 1.0;\n"
            "    gl_Position = vec4((p.x + 0.4921875) * lumaretTargetScale.x - 1.0,\n"
            "                       1.0 - (p.y + 0.4921875) * lumaretTargetScale.y, p.z, 1.0) * w;\n";
    } else {
        // No vertex shader and identity transforms: positions are already in clip space.
        position =
            "    gl_Position = vec4(attribute0.xyz, 1.0);\n"
            "    gl_Position.xy += lumaretPixelOffset.xy;\n";
    }
    return std::string("#version 450\n") + kInternalUniformsGlsl + "out gl_PerVertex { vec4 gl_Position; };\n" +
           inputs + "void main() {\n" + position + body + "}\n";
}

std::string FixedFunctionPixelSource() {
    return std::string("#version 450\n") + kInternalUniformsGlsl +
           "layout(location = 0) in vec4 texcoord0;\n"
           "layout(location = 10) in vec4 color0;\n"
           "layout(binding = 0) uniform sampler2D stage0;\n"
           "layout(location = 0) out vec4 result;\n"
           "void main() {\n"
           "    vec4 c = color0;\n"
           "    if (lumaretFlags.x > 0.5) c *= texture(stage0, texcoord0.xy);\n"
           "    result = c;\n"
           "}\n";
}

}  // namespace lumaret::platform
