#pragma once
// A disassembler for compiled code lists, for tests: one line per
// instruction, atoms in printed form, cells by their element.
//
// Line formats (operands separated by blanks):
//   span S E                 statement            pop
//   push ATOM                quote / valueof / period
//   call NAME L/R F:PARAM... (one flag:parameter pair per input)
//   print L/R   local L/R    dump L/R
//   make L/R @FIRST @LAST B  ob L/R @FIRST @LAST B
//   while JUMP               run / output / ifelse / repeat / if
//   whilecounter / repeatcounter / stop
//   primitive N              native N
//   end @NEXT                (@nil at the end of the list)
//   nop N                    (the other opcodes up to 33, which do nothing)
// L/R is an arity word: left inputs / right inputs. The empty list prints as
// "[]", a missing cell as "@nil". With indices, every line starts with the
// index of its opcode word and ": ".
//
// A list that is cut short inside an instruction, holds an unknown opcode or
// an identity of no atom, or runs on past ocEnd is malformed: decoding stops
// there and the last line reads "malformed: ...".

#include <cstdint>
#include <string>
#include <vector>

class TAtom;
class TStructure;

struct TCodeListing {
  std::vector<std::string> Lines;  // one per instruction, then the malformed note
  bool Malformed = false;
  bool EndsWithEnd = false;  // the last instruction is ocEnd and nothing follows
  // The lines joined with "\n".
  std::string Text() const;
};

TCodeListing DecodeCode(TStructure& s, const std::vector<int32_t>& code, bool withIndices = false);
// The listing text of the code list on a statement cell ("" when it has none).
std::string CodeListing(TStructure& s, const TAtom* cell, bool withIndices = false);
