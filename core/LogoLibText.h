#pragma once
// The log, file-text, text-to-list, shell and scope primitives (the exports
// LOGOCALLER ... LOGOOPENLOG): writing the program log, reading and writing
// whole text files, turning text into lists, starting programs, running
// instructions inside an object and naming a calling procedure.

class TInterpreter;

// Enters these primitives in the interpreter's export registry.
void InitLogoLibText(TInterpreter& in);
