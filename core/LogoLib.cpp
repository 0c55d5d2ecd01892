#include "core/LogoLib.h"

#include "core/Trans.h"

void InitLogoLib(TInterpreter&) {}
