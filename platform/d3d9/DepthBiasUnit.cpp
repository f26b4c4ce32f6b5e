#include "d3d9/DepthBiasUnit.h"

#include <cmath>

namespace lumaret::platform {
namespace {

constexpr float kSpecUnit24 = 1.0f / 16777216.0f;
constexpr float kOffsetUnits = 4096.0f;

// A triangle over the whole 1 x 1 target at depth 0.5; no fragment stage is needed for depth.
const char* const kVertexSource =
    "#version 450\n"
    "out gl_PerVertex { vec4 gl_Position; };\n"
    "void main() {\n"
    "    vec2 corner = vec2(float(gl_VertexID & 1) * 4.0 - 1.0, float(gl_VertexID >> 1) * 4.0 - 1.0);\n"
    "    gl_Position = vec4(corner, 0.5, 1.0);\n"
    "}\n";

float MeasureOne(GLenum internalFormat, GLuint pipeline, GLuint vertexArray) {
    GLuint renderbuffer = 0, framebuffer = 0;
    glCreateRenderbuffers(1, &renderbuffer);
    glNamedRenderbufferStorage(renderbuffer, internalFormat, 1, 1);
    glCreateFramebuffers(1, &framebuffer);
    bool stencil = internalFormat == GL_DEPTH24_STENCIL8 || internalFormat == GL_DEPTH32F_STENCIL8;
    glNamedFramebufferRenderbuffer(framebuffer, stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                   GL_RENDERBUFFER, renderbuffer);
    glNamedFramebufferDrawBuffer(framebuffer, GL_NONE);
    glNamedFramebufferReadBuffer(framebuffer, GL_NONE);
    float depth = 0.5f;
    if (glCheckNamedFramebufferStatus(framebuffer, GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glViewport(0, 0, 1, 1);
        glDepthRangef(0.0f, 1.0f);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_STENCIL_TEST);
        glDisable(GL_CULL_FACE);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_ALWAYS);
        glDepthMask(GL_TRUE);
        const float cleared = 0.0f;
        glClearNamedFramebufferfv(framebuffer, GL_DEPTH, 0, &cleared);
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(0.0f, kOffsetUnits);
        glBindProgramPipeline(pipeline);
        glBindVertexArray(vertexArray);
        glDrawArrays(GL_TRIANGLES, 0, 3);
        glDisable(GL_POLYGON_OFFSET_FILL);
        glReadPixels(0, 0, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &renderbuffer);
    // Units are powers of two; rounding keeps the buffer's own quantisation out.
    float unit = (depth - 0.5f) / kOffsetUnits;
    if (!(unit > 0.0f) || !std::isfinite(unit)) return kSpecUnit24;
    return std::exp2(std::round(std::log2(unit)));
}

}  // namespace

void DepthBiasUnits::Measure() {
    const char* source = kVertexSource;
    GLuint program = glCreateShaderProgramv(GL_VERTEX_SHADER, 1, &source);
    GLuint pipeline = 0, vertexArray = 0;
    glCreateProgramPipelines(1, &pipeline);
    glUseProgramStages(pipeline, GL_VERTEX_SHADER_BIT, program);
    glCreateVertexArrays(1, &vertexArray);
    for (GLenum format :
         {GL_DEPTH_COMPONENT16, GL_DEPTH24_STENCIL8, GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT32F, GL_DEPTH32F_STENCIL8})
        units_[format] = MeasureOne(format, pipeline, vertexArray);
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteProgramPipelines(1, &pipeline);
    glDeleteProgram(program);
}

float DepthBiasUnits::UnitOf(GLenum depthInternalFormat) const {
    auto found = units_.find(depthInternalFormat);
    return found != units_.end() ? found->second : kSpecUnit24;
}

}  // namespace lumaret::platform
