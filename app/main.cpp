// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/trend.h"
#include "analysis/ui/trendchart.h"
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
        const QString command = QString::fromLocal8Bit(argv[1]);
        if (command == u"trend" || command == u"rank") {
            // Their PNG and PDF charts are drawn by the chart module, which
            // needs the widget application (still without any window).
            QApplication app(argc, argv);
            installFontSubstitutions();
            setTrendChartWriter(&writeTrendChart);
            setRankChartWriter(&writeRankChart);
            return runBatch(app.arguments());
        }
        QGuiApplication app(argc, argv);
        installFontSubstitutions();
        return runBatch(app.arguments());
    }
    {
        QStringList args;
        for (int i = 0; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        if (isInformationRequest(args)) {
            const QCoreApplication app(argc, argv);
            return runInformation(args);
        }
    }
    QApplication app(argc, argv);
    installFontSubstitutions();
    return runDesktop(app.arguments());
}
