// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/mainwindow.h"

#include "analysis/ui/w_pack.h"
#include "app/ui/screens.h"
#include "app/ui/secretstore.h"
#include "app/ui/w_login.h"
#include "app/ui/w_message.h"
#include "foundation/dbname.h"
#include "foundation/demo.h"
#include "foundation/gridprint.h"
#include "foundation/places.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"
#include "foundation/ui/filedialogs.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/modulewindow.h"
#include "foundation/users.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

// The resources of the static UI library are registered explicitly.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

const QString kNotice = QStringLiteral("提示信息");

QString periodText(const QString& period)
{
    if (period.size() != 6)
        return period;
    return QStringLiteral("%1年%2月").arg(period.left(4)).arg(period.mid(4).toInt());
}

QIcon pictureIcon(const QString& file, QStyle::StandardPixmap fallback)
{
    const QString dir = pictureDir();
    const QString path = QDir(dir).filePath(file);
    if (!dir.isEmpty() && QFileInfo::exists(path))
        return QIcon(path);
    return QApplication::style()->standardIcon(fallback);
}

// The trend screen's tile: a small line chart over a baseline.
QIcon trendIcon()
{
    QPixmap pm(40, 40);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x0F, 0x4F, 0x39), 2));
    p.drawLine(QPointF(4, 4), QPointF(4, 36));
    p.drawLine(QPointF(4, 36), QPointF(37, 36));
    p.setPen(QPen(QColor(0x1f, 0x77, 0xb4), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF line[] = {{8, 29}, {16, 21}, {23, 25}, {30, 13}, {36, 9}};
    p.drawPolyline(line, 5);
    p.setPen(QPen(QColor(0xd6, 0x27, 0x28), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF ratio[] = {{8, 17}, {16, 19}, {23, 15}, {30, 24}, {36, 27}};
    p.drawPolyline(ratio, 5);
    return QIcon(pm);
}

// The database as messages name it: a server URL without its password.
QString shownDatabase(const QString& db)
{
    return Sqlca::shownDatabase(db);
}

// Creates the tables, and the demo data when asked; says what failed.
bool setUpDatabase(Sqlca& sqlca, bool withDemo, QString* error)
{
    if (!schema::create(sqlca, error))
        return false;
    return !withDemo || demo::populate(sqlca, currentPeriod(), error);
}

// Connects to a PostgreSQL server, signing in where the connection needs it:
// a password kept by "记住密码" is tried first (for a URL that names its user
// but no password); when the server asks for a password that is not at hand,
// or refuses the one given, the sign-in dialog asks for user name and
// password until the connection works or the user cancels (*cancelled).
// *used is the URL that connected, password included (for this session only).
std::unique_ptr<Sqlca> signInToServer(const QString& db, QWidget* parent, QString* used, bool* cancelled,
                                      QString* error)
{
    QString attempt = db;
    QString rememberedKey;
    SignInRequest request;
    request.user = userOf(db);
    if (const auto name = parseDatabaseName(db, error))
        request.server = QStringLiteral("%1:%2/%3").arg(name->host).arg(name->port).arg(name->database);
    if (passwordOf(db).isEmpty() && !request.user.isEmpty()) {
        const SecretStore::Secret kept = secretStore().read(serverKey(db));
        if (kept.state == SecretStore::Secret::Found) {
            attempt = withPassword(db, kept.text);
            rememberedKey = serverKey(db);
            request.remember = true;
        }
    }
    bool asked = false;
    for (;;) {
        auto sqlca = Sqlca::connect(attempt, error);
        if (sqlca) {
            if (asked) {
                const QString key = serverKey(attempt);
                if (request.remember) {
                    QString why;
                    if (!secretStore().write(key, request.password, &why))
                        messages().MessageBox(
                            kNotice,
                            QStringLiteral("无法记住密码：这台电脑没有可用的密码存储（%1）。\n"
                                           "本次登录不受影响，下次启动时需要重新输入密码。")
                                .arg(why),
                            msg::Icon::Warning);
                } else if (key == rememberedKey) {
                    secretStore().remove(key);
                }
            }
            *used = attempt;
            return sqlca;
        }
        const Sqlca::SignInProblem problem = Sqlca::signInProblem(attempt);
        if (problem == Sqlca::SignInProblem::None)
            return nullptr;
        // The server's own words, without the "cannot open the database …:" in front.
        const QString server = error->section(QStringLiteral(": "), 1);
        request.reason = problem == Sqlca::SignInProblem::PasswordNeeded
                             ? QStringLiteral("数据库服务器要求登录，请输入用户名和密码。")
                             : QStringLiteral("用户名或密码不正确，请重新输入。\n（服务器：%1）").arg(server);
        request.password.clear();
        if (!signInPrompt()(request, parent)) {
            *cancelled = true;
            return nullptr;
        }
        asked = true;
        attempt = withPassword(withUser(db, request.user), request.password);
    }
}

} // namespace

std::unique_ptr<Sqlca> openDesktopDatabase(const QString& db, QWidget* parent, QString* usedDb)
{
    if (usedDb)
        *usedDb = db;
    QString error;
    const bool demoDb = QDir::cleanPath(db) == QDir::cleanPath(demoDatabasePath());
    if (demoDb && !QFileInfo::exists(db)) {
        // First start: the demo database is made in the user's data folder.
        QDir().mkpath(QFileInfo(db).absolutePath());
        w_message notice(parent);
        notice.showText(QStringLiteral("正在创建演示数据库，请稍候……"));
        // A name of this process's own: two first starts at once each build
        // theirs, and the one that finishes second uses the other's.
        const QString partial = db + QStringLiteral(".new-%1").arg(QCoreApplication::applicationPid());
        QFile::remove(partial);
        bool ok = false;
        {
            auto sqlca = Sqlca::connect(partial, &error, OpenMode::Create);
            ok = sqlca && setUpDatabase(*sqlca, true, &error);
        }
        notice.hide();
        QFile::remove(partial + QStringLiteral("-wal"));
        QFile::remove(partial + QStringLiteral("-shm"));
        const bool made = ok && (QFile::rename(partial, db) || QFileInfo::exists(db));
        QFile::remove(partial);
        if (!made) {
            messages().MessageBox(kNotice, QStringLiteral("无法创建演示数据库 %1：\n%2").arg(db, error),
                                  msg::Icon::Warning);
            return nullptr;
        }
    }

    // The common mistakes said in the user's words; the driver's own text otherwise.
    const std::optional<DatabaseName> name = parseDatabaseName(db, &error);
    if (!name) {
        messages().MessageBox(kNotice,
                              QStringLiteral("无法打开数据库 %1：\n%2").arg(shownDatabase(db), error),
                              msg::Icon::Warning);
        return nullptr;
    }
    if (!name->isPostgres()) {
        const QFileInfo file(name->path);
        QString why;
        if (!file.absoluteDir().exists())
            why = QStringLiteral("文件夹 %1 不存在。").arg(QDir::toNativeSeparators(file.absolutePath()));
        else if (file.exists() && !file.isFile())
            why = QStringLiteral("%1 不是一个文件。").arg(QDir::toNativeSeparators(file.absoluteFilePath()));
        if (!why.isEmpty()) {
            messages().MessageBox(kNotice, QStringLiteral("无法打开数据库 %1：\n%2").arg(db, why),
                                  msg::Icon::Warning);
            return nullptr;
        }
    }
    std::unique_ptr<Sqlca> sqlca;
    if (name->isPostgres()) {
        bool cancelled = false;
        QString used;
        sqlca = signInToServer(db, parent, &used, &cancelled, &error);
        if (cancelled)
            return nullptr;
        if (sqlca && usedDb)
            *usedDb = used;
    } else {
        sqlca = Sqlca::connect(db, &error);
    }
    if (!sqlca) {
        messages().MessageBox(kNotice,
                              QStringLiteral("无法打开数据库 %1：\n%2").arg(shownDatabase(db), error),
                              msg::Icon::Warning);
        return nullptr;
    }
    const QStringList missing = schema::missingTables(*sqlca);
    if (sqlca->SQLCode == -1) {
        messages().MessageBox(
            kNotice, QStringLiteral("无法读取数据库 %1：\n%2").arg(shownDatabase(db), sqlca->SQLErrText),
            msg::Icon::Warning);
        return nullptr;
    }
    if (!missing.isEmpty()) {
        const int answer =
            messages().MessageBox(kNotice,
                                  QStringLiteral("数据库 %1 缺少数据表：%2。\n\n现在创建这些数据表吗？\n"
                                                 "（是：创建数据表；否：不创建，另选数据库）")
                                      .arg(sqlca->description(), missing.join(QStringLiteral("、"))),
                                  msg::Icon::Question, msg::Buttons::YesNo);
        if (answer != msg::Yes)
            return nullptr;
        if (!schema::create(*sqlca, &error)) {
            messages().MessageBox(kNotice, QStringLiteral("创建数据表失败：\n%1").arg(error),
                                  msg::Icon::Warning);
            return nullptr;
        }
        // A new, empty database: the demo data make it usable at once.
        if (sqlca->selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt() == 0 &&
            messages().MessageBox(kNotice, QStringLiteral("数据库中还没有区域和统计数据。填入演示数据吗？"),
                                  msg::Icon::Question, msg::Buttons::YesNo) == msg::Yes) {
            if (!demo::populate(*sqlca, currentPeriod(), &error))
                messages().MessageBox(kNotice, QStringLiteral("填入演示数据失败：\n%1").arg(error),
                                      msg::Icon::Warning);
        }
    }
    // On a shared database the role must be one of its users.
    const users::SignIn who = users::signIn(*sqlca);
    if (who.kind == users::SignIn::Failed) {
        messages().MessageBox(kNotice, QStringLiteral("无法读取用户表 s_yhqx：\n%1").arg(who.error),
                              msg::Icon::Warning);
        return nullptr;
    }
    if (who.kind == users::SignIn::NotAUser) {
        messages().MessageBox(kNotice,
                              QStringLiteral("数据库用户“%1”不是本系统的用户（用户表中没有该用户），"
                                             "请询问系统管理员。")
                                  .arg(who.user.role),
                              msg::Icon::Warning);
        return nullptr;
    }
    return sqlca;
}

// ---------------------------------------------------------------- main window

MainWindow::MainWindow(const SessionOptions& session, std::unique_ptr<Sqlca> sqlca, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_sqlca(std::move(sqlca)),
      m_host(std::make_unique<DesktopHost>(m_sqlca.get(), session.hooksDir))
{
    initResources();
    setObjectName(QStringLiteral("w_main"));
    setWindowTitle(QStringLiteral("村级互助资金管理 — 统计指标"));
    // Every window of the application, the screens included, carries the icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/allstats/icons/allstats.png")));
    buildMenus();
    buildCentre();
    applyGlobals();
    refreshInfo();
    // A screen may have added schemes or indicators, or refreshed a period's figures.
    m_host->setScreenClosed([this] { refreshInfo(); });
    resize(900, 620);
    fitToScreen(this, false);
}

QString MainWindow::aboutText() const
{
    return QStringLiteral("村级互助资金管理 — 统计指标\n版本 %1\n\n"
                          "统计指标管理、统计指标方案、项目进度及借款质量表、指标趋势分析。\n\n"
                          "数据库：%2\nQt 版本：%3")
        .arg(QStringLiteral(ALLSTATS_VERSION),
             m_sqlca ? shownDatabase(m_sqlca->description()) : QStringLiteral("（未打开）"),
             QString::fromLatin1(qVersion()));
}

MainWindow::~MainWindow()
{
    // The screens use the host and its connection: they go first.
    m_host->setScreenClosed({});
    for (const QPointer<QWidget>& w : std::as_const(m_screens))
        delete w.data();
    qDeleteAll(findChildren<w_pack*>(Qt::FindDirectChildrenOnly));
}

void MainWindow::buildMenus()
{
    QMenu* system = menuBar()->addMenu(QStringLiteral("系统(&S)"));
    system->setObjectName(QStringLiteral("m_system"));
    QAction* session = system->addAction(QStringLiteral("会话设置(&E)…"), this, &MainWindow::editSession);
    session->setObjectName(QStringLiteral("m_session"));
    system->addSeparator();
    QAction* exit = system->addAction(QStringLiteral("退出(&X)"), this, &QWidget::close);
    exit->setObjectName(QStringLiteral("m_exit"));

    QMenu* stats = menuBar()->addMenu(QStringLiteral("统计(&T)"));
    stats->setObjectName(QStringLiteral("m_stat"));
    for (const ScreenEntry& e : screens()) {
        QAction* a = stats->addAction(e.caption);
        a->setObjectName(e.name);
        const QString name = e.name;
        connect(a, &QAction::triggered, this, [this, name] { openScreen(name); });
    }
    stats->addSeparator();
    QAction* pack = stats->addAction(QStringLiteral("批量报表…"), this, [this] {
        if (rightsDenied(m_host->gs_usergrant, 25)) {
            messages().MessageBox(QStringLiteral("系统提示"),
                                  QStringLiteral("你无权限执行该操作,请询问系统管理员"));
            return;
        }
        auto* dialog = new w_pack(*m_host, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QObject::destroyed, this, [this] { m_host->screenClosed(); });
        dialog->show();
    });
    pack->setObjectName(QStringLiteral("m_pack"));

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    QAction* about = help->addAction(QStringLiteral("关于(&A)"), this, [this] {
        messages().MessageBox(QStringLiteral("关于 统计指标"), aboutText());
    });
    about->setObjectName(QStringLiteral("m_about"));
}

void MainWindow::buildCentre()
{
    auto* centre = new QWidget(this);
    centre->setObjectName(QStringLiteral("centre"));
    centre->setStyleSheet(QStringLiteral(
        "#centre { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #F4FAF8, stop:1 #E2F0EC); }"
        "QGroupBox { background: white; border: 1px solid #9CC9BC; border-radius: 6px; margin-top: 14px; "
        "padding: 12px; font-weight: bold; color: #0F4F39; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 4px; }"
        "QGroupBox QLabel { font-weight: normal; color: #1A1A1A; }"
        "QToolButton { background: white; border: 1px solid #9CC9BC; border-radius: 6px; padding: 10px; "
        "color: #0F4F39; }"
        "QToolButton:hover { background: #EAF6F2; border-color: #1E7B5A; }"
        "QToolButton:focus { border: 2px solid #1E7B5A; background: #EAF6F2; }"));
    QFont base(QStringLiteral("宋体"));
    base.setPointSize(11);
    centre->setFont(base);

    auto* layout = new QVBoxLayout(centre);
    layout->setContentsMargins(36, 24, 36, 24);
    layout->setSpacing(18);

    auto* heading = new QHBoxLayout;
    auto* logo = new QLabel(centre);
    logo->setPixmap(QIcon(QStringLiteral(":/allstats/icons/allstats.png")).pixmap(64, 64));
    auto* title = new QLabel(QStringLiteral("村级互助资金管理 — 统计指标"), centre);
    title->setObjectName(QStringLiteral("st_title"));
    QFont tf(QStringLiteral("楷体_GB2312"));
    tf.setPointSize(22);
    tf.setBold(true);
    title->setFont(tf);
    title->setStyleSheet(QStringLiteral("color: #0F4F39;"));
    heading->addWidget(logo);
    heading->addSpacing(10);
    heading->addWidget(title);
    heading->addStretch(1);
    layout->addLayout(heading);

    auto* info = new QGroupBox(QStringLiteral("当前会话"), centre);
    auto* form = new QFormLayout(info);
    form->setLabelAlignment(Qt::AlignRight);
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(8);
    m_dbInfo = new QLabel(info);
    m_dbInfo->setObjectName(QStringLiteral("st_db"));
    m_dbInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_dbInfo->setWordWrap(true);
    m_regionInfo = new QLabel(info);
    m_regionInfo->setObjectName(QStringLiteral("st_region"));
    m_periodInfo = new QLabel(info);
    m_periodInfo->setObjectName(QStringLiteral("st_period"));
    m_grantInfo = new QLabel(info);
    m_grantInfo->setObjectName(QStringLiteral("st_grant"));
    m_userInfo = new QLabel(info);
    m_userInfo->setObjectName(QStringLiteral("st_user"));
    m_infoForm = form;
    form->addRow(QStringLiteral("数据库："), m_dbInfo);
    form->addRow(QStringLiteral("登录用户："), m_userInfo);
    form->addRow(QStringLiteral("用户区域："), m_regionInfo);
    form->addRow(QStringLiteral("当前期间："), m_periodInfo);
    form->addRow(QStringLiteral("权限："), m_grantInfo);
    m_dataInfo = new QLabel(info);
    m_dataInfo->setObjectName(QStringLiteral("st_data"));
    form->addRow(QStringLiteral("数据："), m_dataInfo);
    auto* change = new QPushButton(QStringLiteral("会话设置…"), info);
    change->setObjectName(QStringLiteral("cb_session"));
    connect(change, &QPushButton::clicked, this, &MainWindow::editSession);
    auto* changeRow = new QHBoxLayout;
    changeRow->addStretch(1);
    changeRow->addWidget(change);
    form->addRow(changeRow);
    layout->addWidget(info);

    auto* shortcuts = new QGroupBox(QStringLiteral("统计"), centre);
    auto* row = new QHBoxLayout(shortcuts);
    row->setSpacing(16);
    const QList<QPair<QString, QIcon>> icons = {
        {QStringLiteral("w_xmjdzl"),
         pictureIcon(QStringLiteral("BALLOON.ico"), QStyle::SP_FileDialogContentsView)},
        {QStringLiteral("w_zbfa_set"), style()->standardIcon(QStyle::SP_FileDialogDetailedView)},
        {QStringLiteral("w_guide_set"), style()->standardIcon(QStyle::SP_FileDialogListView)},
        {QStringLiteral("w_trend"), trendIcon()},
    };
    for (const ScreenEntry& e : screens()) {
        auto* b = new QToolButton(shortcuts);
        b->setObjectName(QStringLiteral("tb_") + e.name);
        b->setText(e.caption);
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setIconSize(QSize(40, 40));
        b->setMinimumSize(140, 96);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        b->setFocusPolicy(Qt::StrongFocus);
        QIcon icon = style()->standardIcon(QStyle::SP_FileIcon);
        for (const auto& [name, i] : icons)
            if (name == e.name)
                icon = i;
        b->setIcon(icon);
        const QString name = e.name;
        connect(b, &QToolButton::clicked, this, [this, name] { openScreen(name); });
        row->addWidget(b);
    }
    layout->addWidget(shortcuts);
    layout->addStretch(1);
    setCentralWidget(centre);

    m_dbStatus = new QLabel(this);
    m_dbStatus->setObjectName(QStringLiteral("sb_db"));
    m_regionStatus = new QLabel(this);
    m_regionStatus->setObjectName(QStringLiteral("sb_region"));
    m_periodStatus = new QLabel(this);
    m_periodStatus->setObjectName(QStringLiteral("sb_period"));
    // A long database path is cut, not a reason for a window wider than the screen.
    for (QLabel* l : {m_dbInfo, m_dbStatus})
        l->setMinimumWidth(120);
    statusBar()->addWidget(m_dbStatus, 1);
    statusBar()->addPermanentWidget(m_regionStatus);
    statusBar()->addPermanentWidget(m_periodStatus);
}

QString MainWindow::regionName(const QString& code)
{
    if (!m_sqlca || code.trimmed().isEmpty())
        return {};
    return m_sqlca->selectValue(QStringLiteral("SELECT qymc FROM s_qybm WHERE qybm = ?"), {code.trimmed()})
        .toString()
        .trimmed();
}

QString MainWindow::dataSummary()
{
    if (!m_sqlca)
        return {};
    // A user of a shared database without the report's right may not read the
    // figures: the periods are left out rather than refused.
    const bool scoped = m_user.kind == users::SignIn::Scoped;
    const bool figures = !scoped || !rightsDenied(m_user.user.rights, 25);
    // A scoped user counts the villages of its own region.
    const QString scope = scoped ? m_user.user.region : QString();
    const auto row = m_sqlca->selectRow(
        QStringLiteral("SELECT (SELECT count(*) FROM s_qybm WHERE length(qybm) = 12 AND %1 = ?), "
                       "(SELECT count(*) FROM s_zbbm), "
                       "(SELECT count(*) FROM (SELECT DISTINCT falx, fabm FROM s_zbfa) x), %2")
            .arg(m_sqlca->dialect().left(QStringLiteral("qybm"), QString::number(scope.size())),
                 figures ? QStringLiteral("(SELECT min(kjqj) FROM H_stat), (SELECT max(kjqj) FROM H_stat)")
                         : QStringLiteral("NULL, NULL")),
        {scope.isNull() ? QStringLiteral("") : scope});
    if (!row)
        return m_sqlca->SQLCode == -1 ? m_sqlca->SQLErrText : QString();
    QString text = QStringLiteral("%1 个村 · %2 项指标 · %3 个方案")
                       .arg(row->value(0).toInt())
                       .arg(row->value(1).toInt())
                       .arg(row->value(2).toInt());
    const QString first = row->value(3).toString().trimmed();
    const QString last = row->value(4).toString().trimmed();
    if (!first.isEmpty())
        text += QStringLiteral(" · 数据期间 %1—%2").arg(periodText(first), periodText(last));
    else if (figures)
        text += QStringLiteral(" · 尚无统计数据");
    return text;
}

void MainWindow::applyGlobals()
{
    DesktopHost& h = *m_host;
    h.setSqlca(m_sqlca.get());
    h.setHooksDir(m_session.hooksDir);
    h.gs_kjqj = m_session.period.isEmpty() ? currentPeriod() : m_session.period;
    h.gs_usergrant = m_session.grant;
    h.gs_userqybm = m_session.userRegion.trimmed();
    // On a shared database the users table bounds the session: its region and
    // rights, narrowed (never widened) by the session's own.
    m_user = m_sqlca ? users::signIn(*m_sqlca) : users::SignIn{};
    // The files written from now on name the signed-in user as their author.
    setDocumentAuthor(m_sqlca ? users::authorName(*m_sqlca, m_user) : QString());
    h.signedInRole = QString();
    h.regionScope = QString();
    if (m_user.kind == users::SignIn::Scoped) {
        h.signedInRole = m_user.user.role;
        h.regionScope = m_user.user.region;
        h.gs_usergrant = users::narrowRights(m_user.user.rights, m_session.grant);
        if (!regionInScope(h.regionScope, h.gs_userqybm) || h.gs_userqybm.isEmpty())
            h.gs_userqybm = h.regionScope;
    }
    // Without a region of their own the user starts at the top of the region tree.
    if (h.gs_userqybm.isEmpty() && m_sqlca) {
        const QVariant top = m_sqlca->selectValue(
            QStringLiteral("SELECT qybm FROM s_qybm ORDER BY length(qybm), qybm LIMIT 1"));
        h.gs_userqybm = top.toString().trimmed();
    }
}

void MainWindow::refreshInfo()
{
    const DesktopHost& h = *m_host;
    const QString db = m_sqlca ? m_sqlca->description() : QStringLiteral("（未打开）");
    const QString name = regionName(h.gs_userqybm);
    const QString region = h.gs_userqybm.isEmpty() ? QStringLiteral("（未设置）")
                                                   : QStringLiteral("%1  %2").arg(h.gs_userqybm, name);
    m_dbInfo->setText(db);
    const bool server = m_sqlca && m_sqlca->backend() == Backend::PostgreSQL;
    if (server) {
        const QString role = m_sqlca->signedInRole();
        m_userInfo->setText(
            m_user.kind == users::SignIn::Scoped
                ? (m_user.user.name.isEmpty() ? role : QStringLiteral("%1（%2）").arg(m_user.user.name, role))
                : role);
    }
    m_infoForm->setRowVisible(m_userInfo, server);
    m_regionInfo->setText(region);
    m_periodInfo->setText(periodText(h.gs_kjqj));
    // An empty rights string denies nothing, like a missing one.
    m_grantInfo->setText(h.gs_usergrant.isEmpty() ? QStringLiteral("不限") : h.gs_usergrant);
    m_dataInfo->setText(dataSummary());
    m_dbStatus->setText(QStringLiteral("数据库：%1").arg(db));
    m_dbStatus->setToolTip(db);
    m_dbInfo->setToolTip(db);
    m_regionStatus->setText(QStringLiteral("区域：%1").arg(region));
    m_periodStatus->setText(QStringLiteral("期间：%1").arg(periodText(h.gs_kjqj)));
}

QWidget* MainWindow::openScreen(const QString& name)
{
    m_host->message.clear();
    // The scheme editor opened from the host edits the report's kind.
    if (name == u"w_zbfa_set")
        m_host->message.numberParm = 1;
    QWidget* w = m_host->openScreen(name, this);
    m_screens.removeAll(nullptr);
    if (w)
        m_screens.append(w);
    return w;
}

bool MainWindow::closeScreens()
{
    for (const QPointer<QWidget>& w : std::as_const(m_screens))
        if (w)
            w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_screens.removeAll(nullptr);
    for (const QPointer<QWidget>& w : std::as_const(m_screens))
        if (w && w->isVisible())
            return false;
    return true;
}

bool MainWindow::applySession(const SessionOptions& next)
{
    SessionOptions o = next;
    if (o.period.isEmpty())
        o.period = currentPeriod();
    const bool newDb = o.db.trimmed() != m_session.db.trimmed() || !m_sqlca;
    std::unique_ptr<Sqlca> fresh;
    if (newDb) {
        if (!closeScreens()) {
            messages().MessageBox(kNotice, QStringLiteral("请先关闭已打开的统计窗口，再更换数据库。"),
                                  msg::Icon::Warning);
            return false;
        }
        const QString db = o.db.trimmed().isEmpty() ? demoDatabasePath() : o.db.trimmed();
        QString used;
        fresh = openDesktopDatabase(db, this, &used);
        if (!fresh)
            return false;
        if (!o.db.trimmed().isEmpty())
            o.db = used; // signed in as the dialog said
    }
    // The user's region must be one of the database's regions: every report and
    // the print setting are keyed on it.
    const QString region = o.userRegion.trimmed();
    Sqlca& target = fresh ? *fresh : *m_sqlca;
    // A scoped user may narrow the region, never widen it.
    if (const users::SignIn who = users::signIn(target);
        who.kind == users::SignIn::Scoped && !region.isEmpty() && !regionInScope(who.user.region, region)) {
        messages().MessageBox(kNotice, regionRefusal(region, who.user.region), msg::Icon::Warning);
        return false;
    }
    if (!region.isEmpty() &&
        target.selectValue(QStringLiteral("SELECT count(*) FROM s_qybm WHERE qybm = ?"), {region}).toInt() ==
            0) {
        messages().MessageBox(
            kNotice,
            target.SQLCode == -1
                ? QStringLiteral("无法读取区域表 s_qybm：\n%1").arg(target.SQLErrText)
                : QStringLiteral("区域表 s_qybm 中没有区域编码“%1”，请另选用户区域。").arg(region),
            msg::Icon::Warning);
        return false;
    }
    if (fresh) {
        m_host->setSqlca(fresh.get());
        m_sqlca = std::move(fresh);
    }
    m_session = o;
    saveSessionOptions(m_session);
    applyGlobals();
    refreshInfo();
    return true;
}

void MainWindow::editSession()
{
    SessionDialog dialog(m_session, m_host.get(), this);
    while (dialog.exec() == QDialog::Accepted) {
        if (applySession(dialog.options()))
            return;
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!closeScreens()) {
        event->ignore();
        return;
    }
    event->accept();
}

// ---------------------------------------------------------------- session dialog

SessionDialog::SessionDialog(const SessionOptions& session, DesktopHost* host, QWidget* parent)
    : QDialog(parent), m_base(session), m_host(host), m_db(new QLineEdit(this)),
      m_password(new QLineEdit(this)), m_passwordLabel(new QLabel(QStringLiteral("密码："), this)),
      m_region(new QLineEdit(this)), m_year(new QSpinBox(this)), m_month(new QComboBox(this)),
      m_limitRights(new QCheckBox(QStringLiteral("限制权限"), this)), m_grant(new QLineEdit(this)),
      m_hooks(new QLineEdit(this))
{
    setObjectName(QStringLiteral("w_session"));
    setWindowTitle(QStringLiteral("会话设置"));

    m_db->setObjectName(QStringLiteral("sle_db"));
    // A server's password is never shown: it has a field of its own.
    m_db->setText(hidePassword(session.db));
    m_password->setObjectName(QStringLiteral("sle_password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setText(passwordOf(session.db));
    m_password->setToolTip(QStringLiteral("数据库服务器的密码；只在本次运行中使用，不保存在设置文件里"));
    // A URL typed with its password: the password moves into its field at once.
    connect(m_db, &QLineEdit::editingFinished, this, [this] {
        const QString text = m_db->text().trimmed();
        if (!hasPassword(text))
            return;
        const QString password = passwordOf(text);
        if (!password.isEmpty())
            m_password->setText(password);
        m_db->setText(hidePassword(text));
    });
    auto showPassword = [this] {
        const bool server =
            m_db->text().trimmed().startsWith(QStringLiteral("postgres"), Qt::CaseInsensitive);
        m_password->setVisible(server);
        m_passwordLabel->setVisible(server);
    };
    connect(m_db, &QLineEdit::textChanged, this, showPassword);
    m_db->setPlaceholderText(QStringLiteral("演示数据库：%1").arg(demoDatabasePath()));
    m_db->setToolTip(QStringLiteral("SQLite 数据库文件，或 postgresql://用户@主机:端口/数据库"));
    auto* browse = new QPushButton(QStringLiteral("浏览…"), this);
    browse->setObjectName(QStringLiteral("cb_browse"));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file =
            filedialogs::openFile(this, QStringLiteral("选择数据库"), m_db->text(),
                                  QStringLiteral("SQLite 数据库 (*.sqlite *.db);;所有文件 (*)"));
        if (!file.isEmpty())
            m_db->setText(file);
    });
    auto* dbRow = new QHBoxLayout;
    dbRow->addWidget(m_db, 1);
    dbRow->addWidget(browse);

    m_region->setObjectName(QStringLiteral("sle_region"));
    m_region->setText(session.userRegion);
    m_region->setPlaceholderText(QStringLiteral("区域编码，村级用户为 12 位"));
    auto* pick = new QPushButton(QStringLiteral("选择…"), this);
    pick->setObjectName(QStringLiteral("cb_qy"));
    pick->setEnabled(host && host->connected());
    connect(pick, &QPushButton::clicked, this, [this] {
        const QString before = m_host->gs_userqybm;
        m_host->gs_userqybm = m_region->text().trimmed();
        m_host->w_xmqxz(this);
        m_host->gs_userqybm = before;
        if (!m_host->message.stringParm.isEmpty())
            m_region->setText(m_host->message.stringParm);
    });
    auto* regionRow = new QHBoxLayout;
    regionRow->addWidget(m_region, 1);
    regionRow->addWidget(pick);

    const QString period = isValidPeriod(session.period) ? session.period : currentPeriod();
    m_year->setObjectName(QStringLiteral("em_year"));
    m_year->setRange(2000, 2100);
    m_year->setValue(period.left(4).toInt());
    m_year->setSuffix(QStringLiteral(" 年"));
    m_month->setObjectName(QStringLiteral("ddlb_month"));
    for (int m = 1; m <= 12; ++m)
        m_month->addItem(QStringLiteral("%1 月").arg(m), m);
    m_month->setCurrentIndex(period.mid(4).toInt() - 1);
    auto* thisMonth = new QPushButton(QStringLiteral("本月"), this);
    connect(thisMonth, &QPushButton::clicked, this, [this] {
        m_year->setValue(QDate::currentDate().year());
        m_month->setCurrentIndex(QDate::currentDate().month() - 1);
    });
    auto* periodRow = new QHBoxLayout;
    periodRow->addWidget(m_year);
    periodRow->addWidget(m_month);
    periodRow->addWidget(thisMonth);
    periodRow->addStretch(1);

    m_limitRights->setObjectName(QStringLiteral("cbx_grant"));
    m_limitRights->setChecked(!session.grant.isNull());
    m_grant->setObjectName(QStringLiteral("sle_grant"));
    m_grant->setText(session.grant);
    m_grant->setEnabled(m_limitRights->isChecked());
    m_grant->setToolTip(
        QStringLiteral("每个字符对应一个功能，“0”表示无权限（第10位：指标与方案，第25位：报表）"));
    connect(m_limitRights, &QCheckBox::toggled, m_grant, &QWidget::setEnabled);
    auto* grantRow = new QHBoxLayout;
    grantRow->addWidget(m_limitRights);
    grantRow->addWidget(m_grant, 1);

    m_hooks->setObjectName(QStringLiteral("sle_hooks"));
    m_hooks->setText(session.hooksDir);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("数据库："), dbRow);
    form->addRow(m_passwordLabel, m_password);
    showPassword();
    form->addRow(QStringLiteral("用户区域："), regionRow);
    form->addRow(QStringLiteral("当前期间："), periodRow);

    // What most users never change, folded away unless it holds something of its own.
    auto* advancedToggle = new QToolButton(this);
    advancedToggle->setObjectName(QStringLiteral("tb_advanced"));
    advancedToggle->setText(QStringLiteral("高级"));
    advancedToggle->setCheckable(true);
    advancedToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    advancedToggle->setAutoRaise(true);
    auto* advanced = new QGroupBox(this);
    advanced->setObjectName(QStringLiteral("gb_advanced"));
    auto* advancedForm = new QFormLayout(advanced);
    auto explain = [advanced](const QString& text) {
        auto* line = new QLabel(text, advanced);
        line->setWordWrap(true);
        line->setStyleSheet(QStringLiteral("color: #555;"));
        return line;
    };
    advancedForm->addRow(QStringLiteral("权限："), grantRow);
    advancedForm->addRow(
        QString(),
        explain(QStringLiteral("每个字符对应一项功能，“0”表示无权限：第10位管统计指标与方案，第25位管报表。"
                               "不限制时所有功能都可使用。")));
    advancedForm->addRow(QStringLiteral("例程目录："), m_hooks);
    advancedForm->addRow(QString(),
                         explain(QStringLiteral(
                             "报表统计时运行的 SQL 例程（uf_zzye.sql、uf_update_report.sql 等）所在的文件夹；"
                             "缺少某个例程文件时，该例程什么也不做。")));
    const bool ownAdvanced =
        !session.grant.isNull() || QDir::cleanPath(session.hooksDir) != QDir::cleanPath(defaultHooksDir());
    auto showAdvanced = [this, advanced, advancedToggle](bool on) {
        advanced->setVisible(on);
        advancedToggle->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
        adjustSize();
    };
    connect(advancedToggle, &QToolButton::toggled, this, showAdvanced);
    advancedToggle->setChecked(ownAdvanced);
    showAdvanced(ownAdvanced);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("cb_ok"));
    ok->setDefault(true);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cb_cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SessionDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(advancedToggle, 0, Qt::AlignLeft);
    layout->addWidget(advanced);
    layout->addWidget(buttons);
    resize(620, sizeHint().height());
}

SessionOptions SessionDialog::options() const
{
    SessionOptions o = m_base;
    // The session connects with the password; saving the options leaves it out.
    const QString db = m_db->text().trimmed();
    const QString password = m_password->text().isEmpty() ? passwordOf(db) : m_password->text();
    o.db = withPassword(db, password);
    o.userRegion = m_region->text().trimmed();
    o.period = QStringLiteral("%1%2")
                   .arg(m_year->value(), 4, 10, QLatin1Char('0'))
                   .arg(m_month->currentData().toInt(), 2, 10, QLatin1Char('0'));
    o.grant = m_limitRights->isChecked() ? m_grant->text() : QString();
    if (m_limitRights->isChecked() && o.grant.isNull())
        o.grant = QStringLiteral("");
    o.hooksDir = m_hooks->text().trimmed();
    return o;
}
