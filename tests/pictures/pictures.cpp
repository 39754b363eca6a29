// SPDX-License-Identifier: GPL-3.0-or-later
// The program's pictures on the demo data, for the README and for a look by eye:
//
//   allstats_pictures OUTDIR
//
// The README's four (main.png, report.png, schemes.png, trend.png, windows of
// 1024 by 640) are made through the real desktop: the main window opens the
// screens, in the Chinese locale and fonts the program uses. Every other
// picture of the screens, the grid, the host's windows and the printouts goes
// into OUTDIR too. scripts/screenshots.sh runs it offscreen and copies the
// README's four into doc/. Exits 1, naming it, when a picture could not be made.
#include "analysis/ui/w_pack.h"
#include "analysis/ui/w_trend.h"
#include "app/ui/desktop.h"
#include "app/ui/desktophost.h"
#include "app/ui/mainwindow.h"
#include "app/ui/w_message.h"
#include "app/ui/w_xmqxz.h"
#include "catalogue/d_guideline.h"
#include "catalogue/ui/w_guide_set.h"
#include "foundation/demo.h"
#include "foundation/fonts.h"
#include "foundation/gridprint.h"
#include "foundation/places.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "host/sqlhost.h"
#include "host/xlsxexport.h"
#include "menus/m_report.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/ui/regionbox.h"
#include "report/ui/w_xmjdzl.h"
#include "schemes/ui/w_zbfa_set.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

namespace {

// The demo's figures end here; the pictures stay the same from one run to the next.
const QString kPeriod = QStringLiteral("202611");
// The README's windows.
const QSize kWindow(1024, 640);

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

class Pictures final
{
public:
    explicit Pictures(const QString& folder) : m_folder(folder) {}

    // Saves what the widget shows as OUTDIR/<name>.png; a picture of one colour
    // only (nothing drawn) counts as a failure.
    void grab(QWidget* widget, const QString& name)
    {
        QCoreApplication::processEvents();
        save(widget->grab().toImage(), name);
    }
    void save(const QImage& image, const QString& name)
    {
        const QString path = file(name + QStringLiteral(".png"));
        if (image.isNull() || oneColour(image) || !image.save(path, "PNG", 0))
            fail(name + QStringLiteral(".png"), image.isNull() || oneColour(image)
                                                    ? QStringLiteral("nothing drawn")
                                                    : QStringLiteral("not written"));
        else
            ++m_made;
    }
    // A file the program wrote itself (a PDF, a spreadsheet): there and not empty.
    void expect(bool written, const QString& name)
    {
        if (!written || QFileInfo(file(name)).size() == 0)
            fail(name, QStringLiteral("not written"));
        else
            ++m_made;
    }
    void fail(const QString& name, const QString& why)
    {
        err() << "allstats_pictures: " << name << ": " << why << Qt::endl;
        m_failed = true;
    }
    QString file(const QString& name) const { return QDir(m_folder).filePath(name); }
    bool failed() const { return m_failed; }
    int made() const { return m_made; }

private:
    static bool oneColour(const QImage& image)
    {
        const QRgb first = image.pixel(0, 0);
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                if (image.pixel(x, y) != first)
                    return false;
        return true;
    }

    QString m_folder;
    bool m_failed = false;
    int m_made = 0;
};

// Lets a window lay itself out, paint, and run what it started between events.
void settle(int rounds = 3)
{
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A run that goes on between the window's events (the trend, the pack): its
// end is noted from the moment this is made, so wait() never misses an end
// that came while the pictures before it were taken.
class RunEnd final
{
public:
    template <class Sender, class Signal> RunEnd(Sender* sender, Signal signal)
    {
        m_connection = QObject::connect(sender, signal, &m_loop, [this] {
            m_ended = true;
            m_loop.quit();
        });
    }
    ~RunEnd() { QObject::disconnect(m_connection); }
    RunEnd(const RunEnd&) = delete;
    RunEnd& operator=(const RunEnd&) = delete;

    bool ended() const { return m_ended; }
    bool wait(int seconds = 300)
    {
        if (!m_ended) {
            QTimer::singleShot(seconds * 1000, &m_loop, &QEventLoop::quit);
            m_loop.exec();
        }
        return m_ended;
    }

private:
    QEventLoop m_loop;
    QMetaObject::Connection m_connection;
    bool m_ended = false;
};

std::unique_ptr<Sqlca> connect(const QString& db, Pictures& p)
{
    QString error;
    auto sqlca = Sqlca::connect(db, &error);
    if (!sqlca)
        p.fail(db, error);
    return sqlca;
}

// ------------------------------------------------------------- the desktop

void mainWindowPictures(MainWindow& main, const QString& db, Pictures& p)
{
    main.resize(kWindow);
    main.show();
    p.grab(&main, QStringLiteral("main"));
    // The tile with keyboard focus shows it.
    main.activateWindow();
    if (QWidget* tile = main.findChild<QWidget*>(QStringLiteral("tb_w_zbfa_set")))
        tile->setFocus(Qt::TabFocusReason);
    p.grab(&main, QStringLiteral("main-focus"));

    w_xmqxz picker(main.host().sqlca(), QStringLiteral("450121101203"), &main);
    picker.show();
    p.grab(&picker, QStringLiteral("picker"));
    picker.setSearchText(QStringLiteral("桥"));
    p.grab(&picker, QStringLiteral("picker-search"));
    picker.hide();

    SessionDialog session(main.session(), &main.host(), &main);
    session.show();
    p.grab(&session, QStringLiteral("session"));
    session.hide();

    auto sqlca = connect(db, p);
    if (sqlca) {
        DesktopHost host(sqlca.get(), main.session().hooksDir);
        host.openWaitNotice(QStringLiteral("正在统计，请稍候……"));
        p.grab(host.waitNotice(), QStringLiteral("wait"));
        host.closeWaitNotice();
    }
}

void packPictures(MainWindow& main, Pictures& p)
{
    w_pack pack(main.host(), &main);
    pack.openFolder = [](const QString&) {};
    QTemporaryDir packed;
    pack.findChild<QLineEdit*>(QStringLiteral("sle_folder"))->setText(packed.path());
    pack.findChild<RegionBox*>(QStringLiteral("em_region"))->setText(QStringLiteral("450121101"));
    pack.show();
    p.grab(&pack, QStringLiteral("pack"));
    auto* level = pack.findChild<QComboBox*>(QStringLiteral("ddlb_level"));
    level->setCurrentIndex(level->findData(12));
    RunEnd end(&pack, &w_pack::finished);
    if (!pack.start()) {
        p.fail(QStringLiteral("pack-running.png"), QStringLiteral("the pack did not start"));
        return;
    }
    settle();
    p.grab(&pack, QStringLiteral("pack-running"));
    if (!end.wait())
        p.fail(QStringLiteral("pack-done.png"), QStringLiteral("the pack did not finish"));
    p.grab(&pack, QStringLiteral("pack-done"));
}

// The report of the province after a query, its preview, the query area hidden,
// the rows without colours, its 文件 menu, and a village's report.
void reportPictures(MainWindow& main, Pictures& p)
{
    auto* w = qobject_cast<w_xmjdzl*>(main.openScreen(QStringLiteral("w_xmjdzl")));
    if (!w) {
        p.fail(QStringLiteral("report.png"), QStringLiteral("the report screen did not open"));
        return;
    }
    w->resize(kWindow);
    w->ddlb_1->setCurrentText(kPeriod.left(4));
    w->ddlb_2->setCurrentText(QString::number(kPeriod.mid(4).toInt()));
    w->em_1->setText(QStringLiteral("45"));
    w->cb_1->click();
    if (w->findChild<GridView*>(QStringLiteral("dw_1"))->buffer().RowCount() == 0)
        p.fail(QStringLiteral("report.png"), QStringLiteral("the query gave no rows"));
    p.grab(w, QStringLiteral("report"));

    auto* menu = qobject_cast<m_report*>(w->menu());
    menu->m_preview->click();
    p.grab(w, QStringLiteral("report-preview"));
    menu->m_printvh->click();
    p.grab(w, QStringLiteral("report-preview-landscape"));
    menu->m_printvh->click();
    menu->m_preview->click();
    menu->m_yccxq->click();
    p.grab(w, QStringLiteral("report-query-area-hidden"));
    menu->m_yccxq->click();
    menu->m_rowbgcolor->click();
    p.grab(w, QStringLiteral("report-row-colours-off"));
    menu->m_rowbgcolor->click();
    if (auto* dropDown = w->findChild<QMenu*>(QStringLiteral("m_file"))) {
        dropDown->popup(w->mapToGlobal(QPoint(0, 20)));
        p.grab(dropDown, QStringLiteral("report-menu"));
        dropDown->hide();
    } else {
        p.fail(QStringLiteral("report-menu.png"), QStringLiteral("no 文件 menu"));
    }
    w->em_1->setText(main.host()
                         .sqlca()
                         .selectValue(QStringLiteral("SELECT min(qybm) FROM s_qybm WHERE length(qybm) = 12"))
                         .toString());
    w->cb_1->click();
    p.grab(w, QStringLiteral("report-village"));
    w->close();
}

// 石桥市 over the demo's 24 months with 逾期率 and 借款余额, then the villages
// of 白沙镇 ranked by 逾期率; the charts as PNG and the pages as PDF.
void trendPictures(MainWindow& main, Pictures& p)
{
    auto* w = qobject_cast<w_trend*>(main.openScreen(QStringLiteral("w_trend")));
    if (!w) {
        p.fail(QStringLiteral("trend.png"), QStringLiteral("the trend screen did not open"));
        return;
    }
    w->resize(kWindow);
    w->findChild<RegionBox*>(QStringLiteral("em_1"))->setText(QStringLiteral("4501"));
    auto* list = w->findChild<QListWidget*>(QStringLiteral("lb_zb"));
    for (int i = 0; i < list->count(); ++i) {
        const QString name = list->item(i)->text();
        list->item(i)->setCheckState(name == u"逾期率" || name == u"借款余额" ? Qt::Checked : Qt::Unchecked);
    }
    const QDate last(kPeriod.left(4).toInt(), kPeriod.mid(4).toInt(), 1);
    w->findChild<QDateEdit*>(QStringLiteral("em_from"))->setDate(last.addMonths(-23));
    w->findChild<QDateEdit*>(QStringLiteral("em_to"))->setDate(last);
    RunEnd trendEnd(w, &w_trend::runFinished);
    w->findChild<QPushButton*>(QStringLiteral("cb_1"))->click();
    if (!(w->running() || trendEnd.ended()) || !trendEnd.wait() || !w->trendTable()) {
        p.fail(QStringLiteral("trend.png"), QStringLiteral("the trend did not run"));
        return;
    }
    p.grab(w, QStringLiteral("trend"));
    w->findChild<QRadioButton*>(QStringLiteral("rb_bar"))->setChecked(true);
    p.grab(w, QStringLiteral("trend-bar"));
    w->findChild<QRadioButton*>(QStringLiteral("rb_line"))->setChecked(true);
    p.expect(w->savePng(p.file(QStringLiteral("trend-chart.png"))), QStringLiteral("trend-chart.png"));
    p.expect(w->savePdf(p.file(QStringLiteral("trend.pdf"))), QStringLiteral("trend.pdf"));
    w->setLandscape(false);
    p.expect(w->savePdf(p.file(QStringLiteral("trend-portrait.pdf"))), QStringLiteral("trend-portrait.pdf"));
    w->setLandscape(true);
    w->setPreview(true);
    p.grab(w, QStringLiteral("trend-preview"));
    w->setPreview(false);

    w->findChild<QTabWidget*>(QStringLiteral("tab_1"))->setCurrentIndex(1);
    w->findChild<RegionBox*>(QStringLiteral("em_1"))->setText(QStringLiteral("450121101"));
    w->findChild<QDateEdit*>(QStringLiteral("em_month"))->setDate(last);
    auto* indicator = w->findChild<QComboBox*>(QStringLiteral("ddlb_zb"));
    indicator->setCurrentIndex(indicator->findText(QStringLiteral("逾期率")));
    RunEnd rankEnd(w, &w_trend::runFinished);
    w->findChild<QPushButton*>(QStringLiteral("cb_rank"))->click();
    if (!(w->running() || rankEnd.ended()) || !rankEnd.wait() || !w->rankTable()) {
        p.fail(QStringLiteral("rank.png"), QStringLiteral("the ranking did not run"));
        return;
    }
    p.grab(w, QStringLiteral("rank"));
    p.expect(w->savePng(p.file(QStringLiteral("rank-chart.png"))), QStringLiteral("rank-chart.png"));
    p.expect(w->savePdf(p.file(QStringLiteral("rank.pdf"))), QStringLiteral("rank.pdf"));
    w->close();
}

// The scheme editor in its states: browsing, the selected rows only, adding a
// scheme, edited, saved, previewed. Last: it adds a scheme to the database.
void schemePictures(MainWindow& main, Pictures& p)
{
    auto* w = qobject_cast<w_zbfa_set*>(main.openScreen(QStringLiteral("w_zbfa_set")));
    if (!w) {
        p.fail(QStringLiteral("schemes.png"), QStringLiteral("the scheme editor did not open"));
        return;
    }
    w->resize(kWindow);
    p.grab(w, QStringLiteral("schemes"));
    w->rb_2->click();
    p.grab(w, QStringLiteral("schemes-selected-only"));
    w->rb_1->click();
    w->cb_1->click();
    p.grab(w, QStringLiteral("schemes-adding"));
    w->ddlb_1->setEditText(QStringLiteral("月报方案"));
    w->m_dw_1->buffer().SetText(3, QStringLiteral("hh"), 5);
    w->m_dw_1->buffer().SetText(2, QStringLiteral("xz"), 0);
    p.grab(w, QStringLiteral("schemes-adding-edited"));
    w->cb_2->click();
    p.grab(w, QStringLiteral("schemes-saved"));
    qobject_cast<m_report*>(w->menu())->m_preview->click();
    p.grab(w, QStringLiteral("schemes-preview"));
    qobject_cast<m_report*>(w->menu())->m_preview->click();
    w->close();
}

// ------------------------------------------------------------- grids and printouts

// The catalogue screen on a catalogue of `rows` indicators, its printout and spreadsheet.
void catalogueScreen(Sqlca& sqlca, const QString& hooks, const QString& name, Pictures& p)
{
    DesktopHost host(&sqlca, hooks);
    auto* w = new w_guide_set(host);
    if (!w->Open()) {
        p.fail(name + QStringLiteral(".png"), QStringLiteral("the catalogue screen did not open"));
        return;
    }
    w->resize(1200, 720);
    w->show();
    p.grab(w, name);
    QString error;
    p.expect(writePdf(w->m_dw_1->buffer(), p.file(name + QStringLiteral(".pdf")), &error),
             name + QStringLiteral(".pdf"));
    p.expect(writeXlsx(w->m_dw_1->buffer(), p.file(name + QStringLiteral(".xlsx"))).ok,
             name + QStringLiteral(".xlsx"));
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    delete w;
}

// The demo's catalogue, and a long one of 300 indicators in a database of its own.
void cataloguePictures(Sqlca& demo, const QString& hooks, const QString& work, Pictures& p)
{
    catalogueScreen(demo, hooks, QStringLiteral("catalogue"), p);

    QString error;
    auto sqlca =
        Sqlca::connect(QDir(work).filePath(QStringLiteral("catalogue.sqlite")), &error, OpenMode::Create);
    if (!sqlca || !schema::create(*sqlca, &error)) {
        p.fail(QStringLiteral("catalogue-300.png"), error);
        return;
    }
    const QString longText =
        QStringLiteral("期末尚未归还且已超过约定还款日期的借款本金合计，含展期后仍未归还的部分；") +
        QString(120 - 36, QChar(u'述'));
    for (int i = 1; i <= 300; ++i)
        sqlca->execute(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, zbms, flag1, flag2) "
                                      "VALUES (?, ?, ?, ?, 1, 0)"),
                       {QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')),
                        i % 3 ? QStringLiteral("借款发放") : QStringLiteral("借款质量"),
                        QStringLiteral("指标%1").arg(i),
                        i == 2 ? longText : QStringLiteral("说明%1").arg(i)});
    catalogueScreen(*sqlca, hooks, QStringLiteral("catalogue-300"), p);
}

// The grid view by itself: the catalogue grid and its previews, and the report's
// grid after a statistics run, with its preview.
void gridPictures(Sqlca& sqlca, const QString& hooks, Pictures& p)
{
    GridView grid(QStringLiteral("dw_1"), d_guideline());
    grid.SetTransObject(&sqlca);
    grid.Retrieve();
    grid.resize(1100, 640);
    grid.show();
    p.grab(&grid, QStringLiteral("grid"));
    grid.Modify(QStringLiteral("DataWindow.Print.Preview"), true);
    p.grab(&grid, QStringLiteral("grid-preview"));
    grid.Modify(QStringLiteral("DataWindow.Print.Orientation"), 1);
    grid.Modify(QStringLiteral("DataWindow.Print.Preview.Rulers"), true);
    p.grab(&grid, QStringLiteral("grid-preview-landscape"));
    grid.hide();

    GridView report(QStringLiteral("dw_1"), d_xmjdzl());
    report.SetTransObject(&sqlca);
    attachReportTidying(report.buffer());
    SqlHost host(sqlca, hooks);
    host.gs_kjqj = kPeriod;
    const RunOutcome run =
        runStatistics(host, report.buffer(),
                      {QStringLiteral("4501"), QStringLiteral("石桥市"), kPeriod.left(4),
                       QString::number(kPeriod.mid(4).toInt()), QStringLiteral("预设方案")});
    if (run.kind != RunOutcome::Done)
        p.fail(QStringLiteral("grid-report.png"), run.message);
    report.resize(1000, 560);
    report.show();
    p.grab(&report, QStringLiteral("grid-report"));
    report.Modify(QStringLiteral("DataWindow.Print.Preview"), true);
    p.grab(&report, QStringLiteral("grid-report-preview"));
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir work;
    // Offscreen, a desktop-sized screen: the windows open at the size they would
    // have on a user's desktop instead of filling the plugin's small default screen.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        QFile screen(QDir(work.path()).filePath(QStringLiteral("screen.json")));
        if (screen.open(QIODevice::WriteOnly))
            screen.write(R"({"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1600, "height": 1000,)"
                         R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screen.fileName()));
    }
    // Settings, the documents folder and the demo database stay in the work folder.
    qputenv("XDG_CONFIG_HOME", work.path().toUtf8());
    qputenv("XDG_DATA_HOME", work.path().toUtf8());
    QCoreApplication::setOrganizationName(QStringLiteral("allstats"));
    QCoreApplication::setApplicationName(QStringLiteral("allstats"));
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, work.path());
    installFontSubstitutions();
    installChinese();
    if (app.arguments().size() != 2) {
        err() << "usage: allstats_pictures OUTDIR" << Qt::endl;
        return 2;
    }
    const QString folder = app.arguments().at(1);
    if (!QDir().mkpath(folder)) {
        err() << "allstats_pictures: cannot make " << folder << Qt::endl;
        return 1;
    }
    Pictures p(folder);
    // Nothing asks a person: boxes take their first answer and are listed at the end.
    ScriptedMessageService boxes;
    ScopedMessages scoped(&boxes);
    GridView::setPrintFolder(work.path());
    w_trend::setPrintFolder(work.path());

    // The main window shows the database's path: one that reads the same in
    // every run while it is free, else the work folder's.
    const QString stable = QDir::temp().filePath(QStringLiteral("allstats-demo"));
    const bool ownStable = QDir().mkdir(stable);
    const QString db = QDir(ownStable ? stable : work.path()).filePath(QStringLiteral("demo.sqlite"));
    const auto removeStable = qScopeGuard([&] {
        if (ownStable)
            QDir(stable).removeRecursively();
    });
    {
        QString error;
        auto sqlca = Sqlca::connect(db, &error, OpenMode::Create);
        if (!sqlca || !schema::create(*sqlca, &error) || !demo::populate(*sqlca, kPeriod, &error)) {
            err() << "allstats_pictures: the demo database: " << error << Qt::endl;
            return 1;
        }
    }
    const QString hooks = defaultHooksDir();
    if (hooks.isEmpty())
        p.fail(QStringLiteral("hooks"), QStringLiteral("no hooks folder beside the program"));

    SessionOptions session;
    session.db = db;
    session.period = kPeriod;
    session.userRegion = QStringLiteral("45");
    session.hooksDir = hooks;
    {
        auto sqlca = connect(db, p);
        if (!sqlca)
            return 1;
        MainWindow main(session, std::move(sqlca));
        mainWindowPictures(main, db, p);
        packPictures(main, p);
        reportPictures(main, p);
        trendPictures(main, p);
        if (auto demo = connect(db, p)) {
            cataloguePictures(*demo, hooks, work.path(), p);
            gridPictures(*demo, hooks, p);
        }
        schemePictures(main, p);
        main.close();
    }

    for (const ScriptedMessageService::Shown& s : boxes.shown())
        err() << "allstats_pictures: a box said: " << s.title << " " << s.text << Qt::endl;
    err() << "allstats_pictures: " << p.made() << " files in " << folder << Qt::endl;
    return p.failed() ? 1 : 0;
}
