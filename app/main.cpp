#include "app/cli.h"
#include "app/ui/desktop.h"
#include "foundation/fonts.h"

#include <QApplication>
#include <QGuiApplication>

int main(int argc, char** argv)
{
    QCoreApplication::setOrganizationName(QStringLiteral("allstats"));
    QCoreApplication::setApplicationName(QStringLiteral("allstats"));
    // Ties the windows to the menu entry allstats.desktop (its name and icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("allstats"));
    if (argc > 1 && isCommandWord(QString::fromLocal8Bit(argv[1]))) {
        // Batch commands paint PDFs but never open a window.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        installFontSubstitutions();
        return runBatch(app.arguments());
    }
    QApplication app(argc, argv);
    installFontSubstitutions();
    return runDesktop(app.arguments());
}
