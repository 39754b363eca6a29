#include "menus/m_report.h"
#include "report/ui/regionbox.h"
#include "schemes/ui/w_zbfa_set.h"
