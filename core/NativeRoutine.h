#pragma once
/* The calling convention of routines in outside shared objects, which
   programs call through "dll.LIBRARY.ROUTINE" tokens. Include this header
   from C or C++ when writing such a library.

   The interpreter loads LIBRARY.so and looks the routine up under its name
   in upper case, so a library exports, for example:

     ZAVTA_NATIVE TAtom* MYROUTINE(TStructure* state) { return 0; }

   The routine gets the address of the interpreter state that runs it and
   returns an atom of that state, or null for the empty list. Any other
   address is refused with the error "native-result". */

#ifdef __cplusplus
class TAtom;
class TStructure;
#define ZAVTA_NATIVE extern "C" __attribute__((visibility("default")))
extern "C" {
#else
typedef struct TAtom TAtom;
typedef struct TStructure TStructure;
#define ZAVTA_NATIVE __attribute__((visibility("default")))
#endif

typedef TAtom* (*ZavtaNativeRoutine)(TStructure* state);

#ifdef __cplusplus
}
#endif
