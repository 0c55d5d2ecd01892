#pragma once
// The log, file-text, text-to-list, shell and scope primitives (the exports
// LOGOCALLER ... LOGOOPENLOG): writing the program log, reading and writing
// whole text files, turning text into lists, starting programs, running
// instructions inside an object and naming a calling procedure.

#include <string>
#include <string_view>

class TInterpreter;
class TStructure;

// Enters these primitives in the interpreter's export registry.
void InitLogoLibText(TInterpreter& in);

// The bytes a text file holds for the text: code-page text when every
// character has a byte in the page and reads back the same, else UTF-16LE
// after the byte-order mark, so that no character is lost.
std::string FileBytes(const TStructure& s, std::u16string_view text);
