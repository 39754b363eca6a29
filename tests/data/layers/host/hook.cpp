#include "foundation/sqlca.h"
#include "report/ui/regionbox.h"
