#include "app/ui/desktop.h"

#include "app/core/options.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QMainWindow>

int runDesktop(const QStringList& args)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    addSessionOptions(parser);
    parser.process(args);
    const SessionOptions o = readSessionOptions(parser);
    QMainWindow w;
    w.setWindowTitle(QStringLiteral("统计指标"));
    w.setCentralWidget(new QLabel(o.db));
    w.resize(800, 600);
    w.show();
    return QApplication::exec();
}
