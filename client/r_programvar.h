#pragma once
// A handle on one uniform of a program, checked against the shader's declaration once, at construction.
// When the check fails the handle is inert: every setter does nothing.
#include <cstdint>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "client/r_glwrapper.h"
#include "client/r_program.h"

namespace tavrix::r {

class ProgramVar {
public:
    // type is an rType. The program is not owned and must outlive the handle.
    ProgramVar(Program* program, int32_t type, const char* name);
    ~ProgramVar() = default;

    // Each acts only on a handle of its own type: MAT4, SAMPLER2D and VEC3. The program must be current.
    void setMat4(const glm::mat4& matrix);
    void setInt(int32_t value);
    void setVec3(const glm::vec3& vector);

    // 0 when the handle is inert.
    int32_t getType() const { return type; }
    GLint getLocation() const { return location; }

private:
    Program* program;
    int32_t type;
    GLint location;
};

} // namespace tavrix::r
