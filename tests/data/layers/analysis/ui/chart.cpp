#include "analysis/pack.h"
#include "report/statsrun.h"
#include "report/ui/regionbox.h"

#include <QWidget>
