// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush())
        ADD_FAILURE() << "cannot write " << path.toStdString() << ": " << f.errorString().toStdString();
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

ToolRun runTool(const QString& tool, const QStringList& args)
{
    ToolRun r;
    const QString exe = QStandardPaths::findExecutable(tool);
    if (exe.isEmpty()) {
        ADD_FAILURE() << tool.toStdString() << " is not installed: run scripts/install-deps.sh";
        return r;
    }
    QProcess p;
    p.start(exe, args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << tool.toStdString() << " did not finish: " << args.join(u' ').toStdString();
        return r;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!r.ok)
        ADD_FAILURE() << tool.toStdString() << " " << args.join(u' ').toStdString() << " failed ("
                      << p.exitCode() << "): " << r.err.toStdString();
    return r;
}

QByteArray zipParts(const QString& zip, const QStringList& parts)
{
    return runTool(QStringLiteral("unzip"), QStringList{QStringLiteral("-p"), zip} + parts).out;
}

QByteArray zipPart(const QString& zip, const QString& part)
{
    return zipParts(zip, {part});
}

QString pdfText(const QString& pdf, bool layout)
{
    QStringList args;
    if (layout)
        args << QStringLiteral("-layout");
    args << pdf << QStringLiteral("-");
    return QString::fromUtf8(runTool(QStringLiteral("pdftotext"), args).out);
}

int pdfPages(const QString& pdf)
{
    const ToolRun info = runTool(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)\\s*$"), QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(info.out));
    if (!info.ok || !m.hasMatch()) {
        if (info.ok)
            ADD_FAILURE() << "pdfinfo names no page count for " << pdf.toStdString();
        return -1;
    }
    return m.captured(1).toInt();
}
