// SPDX-License-Identifier: GPL-3.0-or-later
// The rights gate, one test over every place that guards itself with a
// character of gs_usergrant: the screens the host opens (the catalogue and the
// schemes at 10, the report and 指标趋势分析 at 25), the main window's way in
// to them and to 批量报表, the pack dialog, and the four batch commands (25).
// Only a "0" at the place's own position refuses: with the notice
// "你无权限执行该操作,请询问系统管理员" (a 系统提示 box, or the command's standard
// error and exit status 1), and nothing else happens. Every place runs on both backends.
#include "analysis/packbatch.h"
#include "analysis/trendbatch.h"
#include "analysis/ui/w_pack.h"
#include "analysis/ui/w_trend.h"
#include "app/ui/mainwindow.h"
#include "catalogue/ui/w_guide_set.h"
#include "foundation/ui/messages.h"
#include "host/exitcode.h"
#include "report/batch.h"
#include "report/ui/regionbox.h"
#include "report/ui/w_xmjdzl.h"
#include "schemes/ui/w_zbfa_set.h"
#include "support/commandline.h"
#include "support/files.h"
#include "support/seed.h"
#include "support/settings.h"
#include "testwindows.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

const QString kDenied = QStringLiteral("你无权限执行该操作,请询问系统管理员");

class RightsGateTest;

// A guarded place and how a user tries to get in; `enter` answers whether
// the try got past the gate.
struct Gate
{
    const char* name;
    int position;
    bool batch; // says no on standard error instead of a message box
    bool (*enter)(RightsGateTest& test, const QString& grant);
};

void PrintTo(const Gate& gate, std::ostream* os)
{
    *os << gate.name << " (position " << gate.position << ")";
}

class RightsGateTest : public ::testing::TestWithParam<std::tuple<Backend, Gate>>
{
public:
    void SetUp() override
    {
        if (std::get<0>(GetParam()) == Backend::PostgreSQL && !TestDb::postgresAvailable())
            GTEST_SKIP() << "no PostgreSQL test server (set ALLSTATS_TEST_PG, as `make test` does)";
        db = std::make_unique<TestDb>(std::get<0>(GetParam()));
        seed::monthlyReport(*db);
        host = std::make_unique<FakeHost>(db->sqlca());
        host->gs_kjqj = seed::kPeriod;
        host->gs_userqybm = QStringLiteral("41");
    }
    void TearDown() override
    {
        main.reset();
        host.reset();
        db.reset();
    }

    // The desktop's main window on the test database, made on first use.
    MainWindow& desktop()
    {
        if (!main) {
            SessionOptions session;
            session.db = db->url();
            session.period = seed::kPeriod;
            session.userRegion = QStringLiteral("41");
            main = std::make_unique<MainWindow>(session, db->connectAgain());
            main->show();
        }
        return *main;
    }
    bool noticeShown() const
    {
        for (const ScriptedMessageService::Shown& s : box.shown())
            if (s.text == kDenied)
                return true;
        return false;
    }

    IsolatedSettings settings;
    std::unique_ptr<TestDb> db;
    std::unique_ptr<FakeHost> host;
    std::unique_ptr<MainWindow> main;
    ScriptedMessageService box;
    ScopedMessages scoped{&box};
    QTemporaryDir out;
    QString said; // the last line a batch command wrote to standard error
};

// A screen opened by the host: refused, it closes and is gone before anything
// else of the open protocol ran; let in, the host laid it out.
template <class Screen> bool openScreen(RightsGateTest& t, const QString& grant)
{
    t.host->gs_usergrant = grant;
    t.host->message.numberParm = 1; // the scheme kind the report reads (w_zbfa_set)
    QPointer<Screen> w = new Screen(*t.host);
    const bool opened = w->Open();
    processDeletes();
    if (opened) {
        EXPECT_TRUE(w);
        EXPECT_TRUE(t.host->ran(QStringLiteral("uf_open")));
        delete w.data();
    } else {
        EXPECT_FALSE(w) << "a refused window is closed and gone";
        EXPECT_TRUE(t.host->calls.isEmpty())
            << "nothing else runs: " << t.host->calls.join(u' ').toStdString();
        EXPECT_EQ(t.host->gdw_share, nullptr);
    }
    return opened;
}

// Any window of the module on its own position: a small screen guarded at 25.
bool openTestScreen(RightsGateTest& t, const QString& grant)
{
    t.host->gs_usergrant = grant;
    QPointer<TestScreen> w = new TestScreen(*t.host, 25, ModuleWindow::ShareOrder::MenuThenShare);
    const bool opened = w->Open();
    processDeletes();
    if (opened) {
        EXPECT_EQ(t.host->gdw_share, w->grid);
        delete w.data();
    } else {
        EXPECT_FALSE(w);
        EXPECT_TRUE(t.host->calls.isEmpty()) << "nothing runs, not even the close query";
        EXPECT_EQ(t.host->gdw_share, nullptr);
    }
    return opened;
}

// The report from the main window's 统计 menu: refused, no window, the main window carries on.
bool openFromTheMainWindow(RightsGateTest& t, const QString& grant)
{
    MainWindow& main = t.desktop();
    main.host().gs_usergrant = grant;
    QWidget* screen = main.openScreen(QStringLiteral("w_xmjdzl"));
    processDeletes();
    EXPECT_TRUE(main.isVisible());
    if (!screen) {
        EXPECT_EQ(main.findChild<w_xmjdzl*>(), nullptr);
        return false;
    }
    EXPECT_TRUE(screen->isWindow());
    screen->close();
    processDeletes();
    return true;
}

// 统计 → 批量报表…: refused, no dialog.
bool packFromTheMainWindow(RightsGateTest& t, const QString& grant)
{
    MainWindow& main = t.desktop();
    main.host().gs_usergrant = grant;
    main.findChild<QAction*>(QStringLiteral("m_pack"))->trigger();
    auto* dialog = main.findChild<w_pack*>();
    if (!dialog)
        return false;
    EXPECT_TRUE(dialog->isVisible());
    dialog->close();
    processDeletes();
    EXPECT_EQ(main.findChild<w_pack*>(), nullptr);
    return true;
}

// The pack dialog asks again when it starts (the session may have changed since
// it opened): refused, nothing is written.
bool startAPack(RightsGateTest& t, const QString& grant)
{
    w_pack dialog(*t.host);
    dialog.openFolder = [](const QString&) {};
    dialog.findChild<RegionBox*>(QStringLiteral("em_region"))->setText(QStringLiteral("410101001"));
    auto* level = dialog.findChild<QComboBox*>(QStringLiteral("ddlb_level"));
    level->setCurrentIndex(level->findData(12));
    auto* format = dialog.findChild<QComboBox*>(QStringLiteral("ddlb_format"));
    format->setCurrentIndex(format->findData(QStringLiteral("json")));
    QTemporaryDir folder;
    dialog.findChild<QLineEdit*>(QStringLiteral("sle_folder"))->setText(folder.path());
    int written = -1;
    QObject::connect(&dialog, &w_pack::finished, [&](int n) { written = n; });
    t.host->gs_usergrant = grant;
    if (!dialog.start()) {
        EXPECT_FALSE(dialog.running());
        EXPECT_TRUE(filesIn(folder.path()).isEmpty());
        return false;
    }
    for (int i = 0; i < 2000 && written < 0; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(written, 2) << "the two villages of 须水镇";
    return true;
}

// A batch command in this process, its standard error caught: refused, exit
// status 1 and no file; let in, the command does its work.
bool command(RightsGateTest& t, int (*run)(const QStringList&), CommandLine line, const QString& grant,
             bool folder = false)
{
    const QString file = t.out.filePath(QStringLiteral("out"));
    if (folder)
        QDir(t.out.path()).mkdir(QStringLiteral("out"));
    line.add(QStringLiteral("--out"), file);
    if (!grant.isNull())
        line.add(QStringLiteral("--grant"), grant);
    int code = -1;
    {
        CapturedStandardError err;
        code = run(line);
        const QStringList lines = err.text().trimmed().split(u'\n');
        t.said = lines.last().trimmed();
    }
    if (code == ExitRefused) {
        EXPECT_TRUE(folder ? filesIn(file).isEmpty() : !QFileInfo::exists(file)) << "nothing is written";
        return false;
    }
    EXPECT_EQ(code, ExitDone) << t.said.toStdString();
    QDir(file).removeRecursively();
    QFile::remove(file);
    return true;
}

bool reportCommand(RightsGateTest& t, const QString& grant)
{
    return command(t, runReport, seed::report(*t.db, t.out.path()), grant);
}

bool packCommand(RightsGateTest& t, const QString& grant)
{
    return command(t, runPack,
                   batchCommand(QStringLiteral("pack"), t.db->url(), t.out.path(), seed::kPeriod)
                       .add(QStringLiteral("--scheme"), seed::kScheme)
                       .add(QStringLiteral("--year"), seed::kYear)
                       .add(QStringLiteral("--month"), seed::kMonth)
                       .add(QStringLiteral("--region"), QStringLiteral("410101001"))
                       .add(QStringLiteral("--level"), QStringLiteral("village")),
                   grant, true);
}

bool trendCommand(RightsGateTest& t, const QString& grant)
{
    return command(t, runTrend,
                   batchCommand(QStringLiteral("trend"), t.db->url(), t.out.path(), seed::kPeriod)
                       .add(QStringLiteral("--scheme"), seed::kScheme)
                       .add(QStringLiteral("--region"), seed::kRegion)
                       .add(QStringLiteral("--from"), QStringLiteral("202408"))
                       .add(QStringLiteral("--to"), seed::kPeriod)
                       .add(QStringLiteral("--format"), QStringLiteral("json")),
                   grant);
}

bool rankCommand(RightsGateTest& t, const QString& grant)
{
    return command(t, runRank,
                   batchCommand(QStringLiteral("rank"), t.db->url(), t.out.path(), seed::kPeriod)
                       .add(QStringLiteral("--scheme"), seed::kScheme)
                       .add(QStringLiteral("--region"), QStringLiteral("410101001"))
                       .add(QStringLiteral("--year"), seed::kYear)
                       .add(QStringLiteral("--month"), seed::kMonth)
                       .add(QStringLiteral("--indicator"), QStringLiteral("0001"))
                       .add(QStringLiteral("--format"), QStringLiteral("json")),
                   grant);
}

const Gate kGates[] = {
    {"catalogue", 10, false, openScreen<w_guide_set>},
    {"schemes", 10, false, openScreen<w_zbfa_set>},
    {"report", 25, false, openScreen<w_xmjdzl>},
    {"trend", 25, false, openScreen<w_trend>},
    {"anyScreen", 25, false, openTestScreen},
    {"reportFromTheMainWindow", 25, false, openFromTheMainWindow},
    {"packFromTheMainWindow", 25, false, packFromTheMainWindow},
    {"packDialog", 25, false, startAPack},
    {"reportCommand", 25, true, reportCommand},
    {"packCommand", 25, true, packCommand},
    {"trendCommand", 25, true, trendCommand},
    {"rankCommand", 25, true, rankCommand},
};

TEST_P(RightsGateTest, OnlyAZeroAtItsPositionRefusesWithTheNotice)
{
    const Gate& gate = std::get<1>(GetParam());
    const int p = gate.position;
    const auto repeat = [](int n, char16_t c) { return QString(n, QChar(c)); };
    struct Case
    {
        const char* what;
        QString grant;
        bool letIn;
    };
    const QList<Case> cases = {
        {"a 0 at the position", repeat(p - 1, u'1') + u'0' + repeat(3, u'1'), false},
        {"a 0 at the position, the last character", repeat(p - 1, u'1') + u'0', false},
        {"no rights string (null)", QString(), true},
        {"an empty rights string", QStringLiteral(""), true},
        {"shorter than the position", repeat(p - 1, u'0'), true},
        {"every right", repeat(p, u'1'), true},
        {"0 everywhere else", repeat(p - 1, u'0') + u'1' + repeat(3, u'0'), true},
        {"any other character at the position", repeat(p - 1, u'0') + u'x', true},
        {"a 0 just before the position", repeat(p - 2, u'1') + u'0' + u'1', true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": \"" + c.grant.toStdString() + '"');
        box.clear();
        host->calls.clear();
        host->gdw_share = nullptr;
        said.clear();
        EXPECT_EQ(gate.enter(*this, c.grant), c.letIn);
        if (c.letIn) {
            EXPECT_FALSE(noticeShown());
            EXPECT_NE(said, kDenied);
        } else if (gate.batch) {
            EXPECT_EQ(said, kDenied);
            EXPECT_TRUE(box.shown().isEmpty());
        } else {
            ASSERT_EQ(box.shown().size(), 1);
            EXPECT_EQ(box.shown()[0].title, QStringLiteral("系统提示"));
            EXPECT_EQ(box.shown()[0].text, kDenied);
            EXPECT_EQ(box.shown()[0].icon, msg::Icon::Information);
            EXPECT_EQ(box.shown()[0].buttons, msg::Buttons::Ok);
        }
    }
}

std::string gateName(const ::testing::TestParamInfo<std::tuple<Backend, Gate>>& info)
{
    return std::string(std::get<1>(info.param).name) +
           (std::get<0>(info.param) == Backend::SQLite ? "_SQLite" : "_PostgreSQL");
}

INSTANTIATE_TEST_SUITE_P(Places, RightsGateTest,
                         ::testing::Combine(::testing::ValuesIn(allBackends()), ::testing::ValuesIn(kGates)),
                         gateName);

} // namespace
