#include "app/ui/mainwindow.h"
#include "foundation/gridbuffer.h"
