#include "foundation/demo.h"

#include "foundation/sqlca.h"

namespace demo {

bool populate(Sqlca&, const QString&, QString* error)
{
    if (error)
        *error = QStringLiteral("the demo data is not available yet");
    return false;
}

} // namespace demo
