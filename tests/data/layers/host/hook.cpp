#include "analysis/pack.h"
#include "foundation/sqlca.h"
