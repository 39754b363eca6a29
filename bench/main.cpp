#include "bench/benchdata.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString command = args.value(1);
    if (command == u"version") {
        out << benchdata::GeneratorVersion << Qt::endl;
        return 0;
    }
    if (command == u"load" && args.size() == 4) {
        const auto size = benchdata::sizeByName(args[2]);
        if (!size) {
            err << "unknown size " << args[2] << Qt::endl;
            return 2;
        }
        const Status s = benchdata::load(args[3], *size);
        if (!s) {
            err << s.error << Qt::endl;
            return 3;
        }
        return 0;
    }
    err << "usage: allstats_bench version | load SIZE DB" << Qt::endl;
    return 2;
}
