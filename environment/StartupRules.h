#pragma once
// Rules of the environment's start, Qt-free: the machine id that a stored
// pixel format is tied to, and the ".zav" parameter that runs after the
// libraries.

#include <string>

struct EnvState;
struct StartupInput;

// The first eight hexadecimal digits of the machine-id file as a number in
// upper-case hexadecimal without leading zeros ("%X"); empty when the file
// cannot be read or is shorter, which never matches a stored id.
std::u16string GetMachineId(const std::string& machineIdFile = "/etc/machine-id");

// The stored pixel format when ZAVTAID equals machineId (logged as "Entering
// OpenGL mode #n"), else 0 with the "cannot be trusted" log line. A bad
// OPENGLMODE number gives 0.
int TrustedPixelFormat(EnvState& env, const std::u16string& machineId);

// True when the name ends in ".zav" in any letter case.
bool HasZavExtension(const std::u16string& name);

// The ".zav" parameter that runs after the libraries: the first parameter
// with that extension (empty and "!" ones passed over), taken against the
// launch folder first when relative, else located; "" when none exists or
// Ctrl was held.
std::u16string ForcedSourceFile(EnvState& env, const StartupInput& input);
