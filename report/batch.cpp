#include "app/core/cli.h"

#include <QTextStream>

int runReport(const QStringList&)
{
    QTextStream(stderr) << "report: the batch report is not available yet" << Qt::endl;
    return ExitUsage;
}
