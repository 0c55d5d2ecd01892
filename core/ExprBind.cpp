// The binding of external-call tokens ("dll.LIBRARY.ROUTINE").

#include "core/Trans.h"
