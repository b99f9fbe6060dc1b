#pragma once
// A vertex array that feeds named attributes of one program from consecutive values of one buffer's rows.
// Attributes are laid out in the order they are added; one that fails its checks is skipped but keeps its
// bytes in the row.
#include <cstdint>

#include "client/r_buffer.h"
#include "client/r_glwrapper.h"
#include "client/r_program.h"
#include "platformlib/allocator/roalloc.h"

namespace tavrix::r {

class ProgramAttribs : public roAlloc {
public:
    // Neither is owned; both must outlive this object.
    ProgramAttribs(Program* program, Buffer* buffer);
    ~ProgramAttribs();
    ProgramAttribs(const ProgramAttribs&) = delete;
    ProgramAttribs& operator=(const ProgramAttribs&) = delete;

    // type is an rType.
    void addAttrib(const char* name, int32_t type);
    // Creates the vertex array and describes every attribute (a matrix column by column, at consecutive
    // locations); a second call is logged and ignored.
    void compile();
    void bind();

    // INVALID_ID until compiled.
    GLuint getVao() const { return vao; }

private:
    struct attribute {
        attribute* next;
        char* name;
        GLint location; // -1 when skipped
        int32_t type;
        uint8_t skipped;
    };

    // False (logged) when the program has no usable attribute of that name and type.
    bool checkAttrib(const char* name, int32_t type, GLint* location);

    GLuint vao;
    Program* program;
    Buffer* buffer;
    attribute* head;
    attribute* tail;
};

} // namespace tavrix::r
