// SPDX-License-Identifier: GPL-3.0-or-later
// Golden cases of the report: one folder per case under tests/data/report/
// holding case.json (the rows of the tables, optional host routines as SQL
// hooks, and one or more runs of `allstats report`) and the expected JSON of
// each run. Every case runs on SQLite and on PostgreSQL through the batch
// command's own code, called as a function.
#include "report/batch.h"
#include "support/testdb.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

QString dataDir()
{
    return QStringLiteral(ALLSTATS_TEST_DATA "/report");
}

std::vector<std::string> caseNames()
{
    std::vector<std::string> names;
    const QDir dir(dataDir());
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (QFile::exists(dir.filePath(name + QStringLiteral("/case.json"))))
            names.push_back(name.toStdString());
    return names;
}

QJsonDocument readJson(const QString& path, QString* text = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    const QByteArray bytes = f.readAll();
    if (text)
        *text = QString::fromUtf8(bytes);
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        ADD_FAILURE() << path.toStdString() << ": " << error.errorString().toStdString();
    return doc;
}

QVariant bindValue(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Null:
        return QVariant();
    case QJsonValue::Bool:
        return v.toBool() ? 1 : 0;
    case QJsonValue::Double:
        return v.toInteger(); // figures are written as strings, so numbers are whole
    default:
        return v.toString();
    }
}

using Param = std::tuple<Backend, std::string>;

class ReportGolden : public ::testing::TestWithParam<Param>
{
protected:
    void SetUp() override
    {
        if (std::get<0>(GetParam()) == Backend::PostgreSQL && !TestDb::postgresAvailable())
            GTEST_SKIP() << "no PostgreSQL test server (set ALLSTATS_TEST_PG, as `make test` does)";
        db = std::make_unique<TestDb>(std::get<0>(GetParam()));
    }
    std::unique_ptr<TestDb> db;
};

TEST_P(ReportGolden, MatchesTheExpectedReport)
{
    const QString caseDir = dataDir() + u'/' + QString::fromStdString(std::get<1>(GetParam()));
    const QJsonObject testCase = readJson(caseDir + QStringLiteral("/case.json")).object();
    ASSERT_FALSE(testCase.isEmpty());

    // The tables' rows.
    const QJsonObject tables = testCase.value(QStringLiteral("tables")).toObject();
    for (auto t = tables.begin(); t != tables.end(); ++t) {
        const QJsonObject table = t.value().toObject();
        QStringList columns;
        for (const QJsonValue& c : table.value(QStringLiteral("columns")).toArray())
            columns << c.toString();
        const QString sql =
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(t.key(), columns.join(QStringLiteral(", ")),
                     QStringList(columns.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
        for (const QJsonValue& row : table.value(QStringLiteral("rows")).toArray()) {
            QVariantList binds;
            for (const QJsonValue& v : row.toArray())
                binds << bindValue(v);
            ASSERT_EQ(binds.size(), columns.size()) << t.key().toStdString();
            db->exec(sql, binds);
        }
    }

    // Host routines as SQL hooks; none unless the case gives them.
    QTemporaryDir hooks;
    const QJsonObject hookTexts = testCase.value(QStringLiteral("hooks")).toObject();
    for (auto h = hookTexts.begin(); h != hookTexts.end(); ++h) {
        QFile f(hooks.filePath(h.key() + QStringLiteral(".sql")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(h.value().toString().toUtf8());
    }

    const QJsonArray runs = testCase.value(QStringLiteral("runs")).toArray();
    ASSERT_FALSE(runs.isEmpty());
    int n = 0;
    for (const QJsonValue& runValue : runs) {
        const QJsonObject run = runValue.toObject();
        SCOPED_TRACE("run " + std::to_string(++n));
        const QString out = hooks.filePath(QStringLiteral("out-%1.json").arg(n));
        QStringList args = {QStringLiteral("allstats"), QStringLiteral("report"),
                            QStringLiteral("--db"),     db->url(),
                            QStringLiteral("--hooks"),  hooks.path(),
                            QStringLiteral("--format"), QStringLiteral("json"),
                            QStringLiteral("--out"),    out};
        for (const QJsonValue& a : run.value(QStringLiteral("args")).toArray())
            args << a.toString();
        const int expectedExit = run.value(QStringLiteral("exit")).toInt(0);
        ASSERT_EQ(runReport(args), expectedExit) << args.join(u' ').toStdString();
        if (expectedExit != 0)
            continue;
        QString actualText, expectedText;
        const QJsonDocument actual = readJson(out, &actualText);
        const QJsonDocument expected = readJson(
            caseDir + u'/' + run.value(QStringLiteral("expected")).toString(QStringLiteral("expected.json")),
            &expectedText);
        EXPECT_EQ(actual, expected) << "expected:\n"
                                    << expectedText.toStdString() << "actual:\n"
                                    << actualText.toStdString();
    }
}

std::string paramName(const ::testing::TestParamInfo<Param>& info)
{
    return std::string(std::get<0>(info.param) == Backend::SQLite ? "SQLite_" : "PostgreSQL_") +
           std::get<1>(info.param);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportGolden,
                         ::testing::Combine(::testing::ValuesIn(allBackends()),
                                            ::testing::ValuesIn(caseNames())),
                         paramName);

} // namespace
