// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop on a shared database: the sign-in dialog when the server asks
// for a password, "记住密码" through the secret store (or without one), a
// scoped user's region box, picker and refusals, and the database's refusal
// of a catalogue save shown in the user's words.
#include "analysis/ui/w_pack.h"
#include "app/ui/mainwindow.h"
#include "app/ui/secretstore.h"
#include "app/ui/w_login.h"
#include "app/ui/w_xmqxz.h"
#include "catalogue/ui/w_guide_set.h"
#include "foundation/dbname.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "menus/m_guide_set.h"
#include "report/ui/regionbox.h"
#include "report/ui/w_xmjdzl.h"
#include "support/testdb.h"
#include "support/testroles.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

namespace {

// A secret store in memory; `available` false is a desktop without one.
class MemoryStore final : public SecretStore
{
public:
    QHash<QString, QString> kept;
    bool available = true;
    Secret read(const QString& key) override
    {
        if (!available)
            return {Secret::Unavailable, QString(), QStringLiteral("no keyring")};
        return kept.contains(key) ? Secret{Secret::Found, kept.value(key), QString()} : Secret{};
    }
    bool write(const QString& key, const QString& secret, QString* error) override
    {
        if (!available) {
            *error = QStringLiteral("no keyring");
            return false;
        }
        kept.insert(key, secret);
        return true;
    }
    void remove(const QString& key) override { kept.remove(key); }
};

// The sign-in dialog's answers, one per question; the questions are kept.
struct ScriptedSignIn
{
    QList<SignInRequest> asked;
    QList<std::optional<SignInRequest>> answers; // nullopt: 取消
    SignInPrompt previous = signInPrompt();
    ScriptedSignIn()
    {
        signInPrompt() = [this](SignInRequest& request, QWidget*) {
            asked << request;
            if (answers.isEmpty() || !answers.first()) {
                if (!answers.isEmpty())
                    answers.removeFirst();
                return false;
            }
            const SignInRequest a = *answers.takeFirst();
            request.user = a.user;
            request.password = a.password;
            request.remember = a.remember;
            return true;
        };
    }
    ~ScriptedSignIn() { signInPrompt() = previous; }
};

class SignInTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (GetParam() != Backend::PostgreSQL)
            GTEST_SKIP() << "signing in is a PostgreSQL server's";
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        roles = std::make_unique<TestRoles>(*db);
        previousStore = setSecretStore(&store);
        storeSet = true;
        db->exec(QStringLiteral(
                     "INSERT INTO s_qybm (qybm, qymc) VALUES ('45', ?), ('450121', ?), ('450121101', ?), "
                     "('450121101001', ?), ('450121101002', ?), ('450122', ?), ('450122101', ?)"),
                 {QStringLiteral("青禾省"), QStringLiteral("云溪县"), QStringLiteral("白沙镇"),
                  QStringLiteral("金塬村"), QStringLiteral("银塬村"), QStringLiteral("安平县"),
                  QStringLiteral("双河镇")});
        db->exec(QStringLiteral(
                     "INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES ('0001', ?, ?, 1, 0)"),
                 {QStringLiteral("资金"), QStringLiteral("互助金总额")});
        db->exec(
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) VALUES "
                           "(1, 1, ?, 10, '0001', ?, ?, 1, 0)"),
            {QStringLiteral("月报"), QStringLiteral("资金"), QStringLiteral("互助金总额")});
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                                "('450121101001', '202409', '0001', 0, 0, 100), "
                                "('450122101001', '202409', '0001', 0, 0, 800)"));
    }
    void TearDown() override
    {
        if (storeSet)
            setSecretStore(previousStore);
        roles.reset();
        BackendTest::TearDown();
    }
    bool passwordsAsked()
    {
        return sqlca()
                   .selectValue(
                       QStringLiteral("SELECT count(*) FROM pg_hba_file_rules WHERE '+allstats_scram' = "
                                      "ANY (user_name)"))
                   .toInt() > 0;
    }

    ScriptedMessageService box;
    ScopedMessages scoped{&box};
    QTemporaryDir settingsDir;
    MemoryStore store;
    SecretStore* previousStore = nullptr;
    bool storeSet = false;
    std::unique_ptr<TestRoles> roles;
};

// The server asks: the dialog asks, says when the password was wrong, and
// 记住密码 keeps the password in the secret store (never in the settings
// file), so the next start signs in without asking. Without a secret store
// the sign-in works and says the password is not kept.
TEST_P(SignInTest, TheDialogAsksWhenTheServerDoesAndTheStoreRemembers)
{
    if (!passwordsAsked())
        GTEST_SKIP() << "the server signs everyone in without a password";
    sqlca().executeImmediate(QStringLiteral("CREATE ROLE allstats_scram NOLOGIN"));
    const QString password = QStringLiteral("p@ss:w/rd '\"\\ 密码");
    const QString town =
        roles->add(QStringLiteral("town"), QStringLiteral("450121101"), TestRoles::reportOnly(), password);
    db->exec(QStringLiteral("GRANT allstats_scram TO %1").arg(TestRoles::quote(town)));

    ScriptedSignIn signIn;
    signIn.answers << SignInRequest{QString(), QString(), town, QStringLiteral("wrong"), true}
                   << SignInRequest{QString(), QString(), town, password, true};
    QString used;
    auto sqlca = openDesktopDatabase(roles->url(town), nullptr, &used);
    ASSERT_NE(sqlca, nullptr);
    ASSERT_EQ(signIn.asked.size(), 2);
    EXPECT_EQ(signIn.asked[0].user, town);
    EXPECT_TRUE(signIn.asked[0].reason.contains(QStringLiteral("要求登录")))
        << signIn.asked[0].reason.toStdString();
    EXPECT_TRUE(signIn.asked[1].reason.contains(QStringLiteral("不正确")))
        << signIn.asked[1].reason.toStdString();
    EXPECT_FALSE(signIn.asked[1].reason.contains(QStringLiteral("wrong")));
    EXPECT_EQ(passwordOf(used), password);
    EXPECT_EQ(store.kept.value(serverKey(roles->url(town))), password);
    EXPECT_TRUE(box.shown().isEmpty());

    // Saved as the session: the URL without the password.
    SessionOptions session;
    session.db = used;
    saveSessionOptions(session);
    const QString ini = QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("allstats"),
                                  QStringLiteral("allstats"))
                            .fileName();
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << ini.toStdString();
    const QByteArray saved = file.readAll();
    EXPECT_TRUE(saved.contains(town.toUtf8()));
    EXPECT_FALSE(saved.contains("p@ss")) << saved.constData();
    EXPECT_FALSE(saved.contains("p%40ss")) << saved.constData();

    // The next start: the remembered password, no question.
    sqlca.reset();
    EXPECT_NE(openDesktopDatabase(roles->url(town), nullptr), nullptr);
    EXPECT_EQ(signIn.asked.size(), 2);

    // No secret store on this desktop: signed in all the same, and told the password is not kept.
    store.kept.clear();
    store.available = false;
    signIn.answers << SignInRequest{QString(), QString(), town, password, true};
    EXPECT_NE(openDesktopDatabase(roles->url(town), nullptr), nullptr);
    ASSERT_EQ(box.shown().size(), 1);
    EXPECT_TRUE(box.shown()[0].text.startsWith(QStringLiteral("无法记住密码")))
        << box.shown()[0].text.toStdString();

    // 取消: no connection and no message (the caller offers another database).
    box.clear();
    signIn.answers << std::nullopt;
    EXPECT_EQ(openDesktopDatabase(roles->url(town), nullptr), nullptr);
    EXPECT_TRUE(box.shown().isEmpty());
}

// A scoped user's screens offer its region and below; a region typed outside
// it is refused before any run; a role the users table does not know is not let in.
TEST_P(SignInTest, AScopedUserIsOfferedAndMayQueryItsRegionOnly)
{
    const QString town =
        roles->add(QStringLiteral("town"), QStringLiteral("450121101"), TestRoles::reportOnly());
    SessionOptions session;
    session.db = roles->url(town);
    session.period = QStringLiteral("202409");
    session.userRegion = QStringLiteral("45"); // saved by another user: the users table wins
    session.grant = QString(9, u'1') + u'0';   // narrows: no catalogue
    auto connection = openDesktopDatabase(session.db, nullptr);
    ASSERT_NE(connection, nullptr);
    MainWindow main(session, std::move(connection));
    DesktopHost& host = main.host();
    EXPECT_EQ(host.regionScope, QStringLiteral("450121101"));
    EXPECT_EQ(host.gs_userqybm, QStringLiteral("450121101"));
    EXPECT_EQ(host.gs_usergrant, TestRoles::reportOnly());
    EXPECT_TRUE(main.findChild<QLabel*>(QStringLiteral("st_user"))->text().contains(town));

    // The report screen's region box and the picker: the town and its villages.
    auto* report = qobject_cast<w_xmjdzl*>(main.openScreen(QStringLiteral("w_xmjdzl")));
    ASSERT_NE(report, nullptr);
    auto* regions = report->findChild<RegionBox*>();
    ASSERT_NE(regions, nullptr);
    QStringList codes;
    for (const auto& [name, code] : regions->codeTable())
        codes << code;
    EXPECT_EQ(codes, (QStringList{QStringLiteral("450121101"), QStringLiteral("450121101001"),
                                  QStringLiteral("450121101002")}));
    w_xmqxz picker(host.sqlca(), host.gs_userqybm, nullptr, host.regionScope);
    EXPECT_EQ(picker.shownCount(), 3);
    EXPECT_FALSE(picker.select(QStringLiteral("450121")));

    // A county typed by hand: refused before any run.
    regions->setText(QStringLiteral("450121"));
    report->findChild<QPushButton*>(QStringLiteral("cb_1"))->click();
    ASSERT_FALSE(box.shown().isEmpty());
    EXPECT_TRUE(box.shown().last().text.startsWith(QStringLiteral("无权查询该区域“450121”")))
        << box.shown().last().text.toStdString();
    EXPECT_EQ(report->findChild<GridView*>()->buffer().RowCount(), 0);
    // Its own town runs.
    box.clear();
    regions->setText(QStringLiteral("450121101"));
    report->findChild<QPushButton*>(QStringLiteral("cb_1"))->click();
    EXPECT_TRUE(box.shown().isEmpty()) << box.shown().last().text.toStdString();
    GridBuffer& rows = report->findChild<GridView*>()->buffer();
    ASSERT_EQ(rows.RowCount(), 1);
    EXPECT_EQ(rows.GetItemDecimal(1, QStringLiteral("leiji")).value_or(Decimal()).toString(2),
              QStringLiteral("100.00"))
        << "the town's figure, not the other county's";

    // The pack's region choices.
    w_pack pack(host);
    auto* packRegions = pack.findChild<RegionBox*>();
    ASSERT_NE(packRegions, nullptr);
    EXPECT_EQ(packRegions->codeTable().size(), 3);

    // The catalogue is closed to it (the session narrowed the rights), and so
    // is a wider region in the session dialog.
    box.clear();
    EXPECT_EQ(main.openScreen(QStringLiteral("w_guide_set")), nullptr);
    SessionOptions wider = main.session();
    wider.userRegion = QStringLiteral("450121");
    EXPECT_FALSE(main.applySession(wider));
    EXPECT_TRUE(box.shown().last().text.startsWith(QStringLiteral("无权查询该区域")))
        << box.shown().last().text.toStdString();
    report->close();

    // A role without a row in the users table.
    const QString stranger = roles->name(QStringLiteral("stranger"));
    db->exec(QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2")
                 .arg(TestRoles::quote(stranger), TestRoles::quote(roles->groups().report)));
    box.clear();
    EXPECT_EQ(openDesktopDatabase(roles->url(stranger), nullptr), nullptr);
    ASSERT_EQ(box.shown().size(), 1);
    EXPECT_TRUE(box.shown()[0].text.contains(QStringLiteral("不是本系统的用户")))
        << box.shown()[0].text.toStdString();
}

// An editor whose right an administrator takes while the catalogue is open:
// the database refuses the save, and the screen says so in the user's words.
TEST_P(SignInTest, TheDatabasesRefusalOfASaveIsShownInTheUsersWords)
{
    const QString editor = roles->add(QStringLiteral("editor"), QStringLiteral("450121"), TestRoles::all());
    SessionOptions session;
    session.db = roles->url(editor);
    session.period = QStringLiteral("202409");
    MainWindow main(session, roles->connect(editor));
    auto* catalogue = qobject_cast<w_guide_set*>(main.openScreen(QStringLiteral("w_guide_set")));
    ASSERT_NE(catalogue, nullptr);
    ASSERT_TRUE(
        users::setUser(sqlca(), editor, {std::nullopt, TestRoles::reportOnly(), std::nullopt, std::nullopt}));
    GridBuffer& grid = catalogue->m_dw_1->buffer();
    ASSERT_EQ(grid.SetText(1, QStringLiteral("zbmc"), QStringLiteral("改过")), 1);
    box.clear();
    static_cast<m_guide_set*>(catalogue->menu())->m_save->click();
    // The renamed indicator is in the schemes: the question about their copies, then the refusal.
    ASSERT_EQ(box.shown().size(), 2);
    EXPECT_EQ(box.shown()[0].text, QStringLiteral("是否同时更新各方案中的指标名称？"));
    EXPECT_TRUE(box.shown()[1].text.contains(QStringLiteral("你无权限执行该操作,请询问系统管理员")))
        << box.shown()[1].text.toStdString();
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT zbmc FROM s_zbbm")).toString(),
              QStringLiteral("互助金总额"));
}

ALLSTATS_ON_ALL_BACKENDS(SignInTest);

} // namespace
