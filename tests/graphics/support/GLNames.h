#pragma once
// Readable text for GL values in test logs and decoded recordings.

#include <GL/gl.h>

#include <cstdint>
#include <string>

// The GL name of an enumeration value this program uses ("GL_DEPTH_TEST"),
// else the value as "0x0B71". Values below 0x100 are ambiguous (GL_POINTS,
// GL_ZERO, GL_FALSE ...) and always print as hexadecimal.
std::string GLEnumName(uint32_t value);
// glBegin's mode: "GL_QUAD_STRIP", ..., else hexadecimal.
std::string GLPrimitiveName(uint32_t mode);
// Shortest text that reads back as the same number: "1", "2.5", "1e+06".
std::string NumberText(float value);
std::string NumberText(double value);
std::string HexText(uint32_t value);
