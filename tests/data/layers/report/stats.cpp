#include "foundation/sqlca.h"

#include <QString>
#include <QWidget>
