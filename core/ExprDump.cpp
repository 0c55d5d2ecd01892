// The structure dump views of the expression compiler.

#include "core/Expr.h"
