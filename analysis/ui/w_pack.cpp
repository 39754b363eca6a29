#include "analysis/ui/w_pack.h"

#include "analysis/pack.h"
#include "foundation/places.h"
#include "foundation/sqlca.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/quiethost.h"
#include "foundation/ui/uihost.h"
#include "report/ui/regionbox.h"

#include <QComboBox>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString kNotice = QStringLiteral("提示信息");

struct Level
{
    const char16_t* caption;
    int length;
};
constexpr Level kLevels[] = {{u"村", 12}, {u"乡镇", 9}, {u"县", 6}, {u"市", 4}};

struct Format
{
    const char16_t* caption;
    const char* suffix;
};
constexpr Format kFormats[] = {
    {u"PDF（另附合订本）", "pdf"}, {u"Excel（另附汇总工作簿）", "xlsx"}, {u"CSV", "csv"}, {u"JSON", "json"}};

} // namespace

w_pack::w_pack(UiHost& host, QWidget* parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("w_pack"));
    setWindowTitle(QStringLiteral("批量报表"));
    openFolder = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };

    ddlb_scheme = new QComboBox(this);
    ddlb_scheme->setObjectName(QStringLiteral("ddlb_scheme"));
    ddlb_year = new QComboBox(this);
    ddlb_year->setObjectName(QStringLiteral("ddlb_year"));
    ddlb_month = new QComboBox(this);
    ddlb_month->setObjectName(QStringLiteral("ddlb_month"));
    em_region = new RegionBox(this);
    em_region->setObjectName(QStringLiteral("em_region"));
    cb_region = new QPushButton(QStringLiteral("..."), this);
    cb_region->setObjectName(QStringLiteral("cb_region"));
    cb_region->setToolTip(QStringLiteral("选择汇总区域"));
    cb_region->setFixedWidth(32);
    ddlb_level = new QComboBox(this);
    ddlb_level->setObjectName(QStringLiteral("ddlb_level"));
    ddlb_format = new QComboBox(this);
    ddlb_format->setObjectName(QStringLiteral("ddlb_format"));
    sle_folder = new QLineEdit(this);
    sle_folder->setObjectName(QStringLiteral("sle_folder"));
    cb_folder = new QPushButton(QStringLiteral("浏览…"), this);
    cb_folder->setObjectName(QStringLiteral("cb_folder"));
    hpb_progress = new QProgressBar(this);
    hpb_progress->setObjectName(QStringLiteral("hpb_progress"));
    hpb_progress->setRange(0, 1);
    hpb_progress->setValue(0);
    hpb_progress->setFormat(QStringLiteral("%v/%m"));
    hpb_progress->setTextVisible(false);
    st_progress = new QLabel(this);
    st_progress->setObjectName(QStringLiteral("st_progress"));
    st_progress->setMinimumWidth(360);
    cb_start = new QPushButton(QStringLiteral("开始(&S)"), this);
    cb_start->setObjectName(QStringLiteral("cb_start"));
    cb_start->setDefault(true);
    cb_close = new QPushButton(QStringLiteral("关闭(&C)"), this);
    cb_close->setObjectName(QStringLiteral("cb_close"));

    auto* period = new QHBoxLayout;
    period->addWidget(ddlb_year);
    period->addWidget(new QLabel(QStringLiteral("年"), this));
    period->addWidget(ddlb_month);
    period->addWidget(new QLabel(QStringLiteral("月"), this));
    period->addStretch();
    auto* region = new QHBoxLayout;
    region->addWidget(em_region, 1);
    region->addWidget(cb_region);
    auto* folder = new QHBoxLayout;
    folder->addWidget(sle_folder, 1);
    folder->addWidget(cb_folder);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("指标方案："), ddlb_scheme);
    form->addRow(QStringLiteral("报表期间："), period);
    form->addRow(QStringLiteral("汇总区域："), region);
    form->addRow(QStringLiteral("逐个报出："), ddlb_level);
    form->addRow(QStringLiteral("文件格式："), ddlb_format);
    form->addRow(QStringLiteral("保存到："), folder);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cb_start);
    buttons->addWidget(cb_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addSpacing(8);
    layout->addWidget(hpb_progress);
    layout->addWidget(st_progress);
    layout->addLayout(buttons);

    // The lists.
    Sqlca& sqlca = host.sqlca();
    if (const auto schemes =
            sqlca.selectAll(QStringLiteral("SELECT famc FROM s_zbfa WHERE falx = ? GROUP BY famc "
                                           "ORDER BY min(fabm)"),
                            {1}))
        for (const QVariantList& row : *schemes)
            ddlb_scheme->addItem(row.value(0).toString());
    const QVariant preferred = sqlca.selectValue(
        QStringLiteral("SELECT famc FROM s_zbfa WHERE falx = ? AND deffa = 1 GROUP BY famc ORDER BY famc"),
        {1});
    if (!preferred.isNull() && ddlb_scheme->findText(preferred.toString()) >= 0)
        ddlb_scheme->setCurrentText(preferred.toString());
    // The current period of the session.
    bool ok = false;
    const int year = host.gs_kjqj.left(4).toInt(&ok);
    const int lastYear = std::max(QDate::currentDate().year(), ok ? year : 0);
    for (int y = 2006; y <= lastYear; ++y)
        ddlb_year->addItem(QString::number(y));
    ddlb_year->setCurrentText(QString::number(ok ? year : QDate::currentDate().year()));
    for (int m = 1; m <= 12; ++m)
        ddlb_month->addItem(QString::number(m));
    const int month = host.gs_kjqj.right(2).toInt(&ok);
    if (ok && month >= 1 && month <= 12)
        ddlb_month->setCurrentText(QString::number(month));
    em_region->loadCodeTable(sqlca, host.regionScope);
    em_region->setText(host.gs_userqybm);
    for (const Level& l : kLevels)
        ddlb_level->addItem(QString::fromUtf16(l.caption), l.length);
    // The level below the user's region, villages by default.
    setLevelBelow(int(host.gs_userqybm.trimmed().size()));
    // A region chosen at or below the level shown moves it to the level below the region.
    connect(em_region, &QComboBox::currentTextChanged, this, &w_pack::followRegion);
    for (const Format& f : kFormats)
        ddlb_format->addItem(QString::fromUtf16(f.caption), QString::fromLatin1(f.suffix));
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty() || !QDir(documents).exists())
        documents = outputDir();
    sle_folder->setText(QDir::toNativeSeparators(documents));

    connect(cb_region, &QPushButton::clicked, this, &w_pack::pickRegion);
    connect(cb_folder, &QPushButton::clicked, this, &w_pack::chooseFolder);
    connect(cb_start, &QPushButton::clicked, this, [this] { start(); });
    connect(cb_close, &QPushButton::clicked, this, [this] {
        if (running())
            cancel();
        else
            reject();
    });
    resize(560, sizeHint().height());
}

w_pack::~w_pack()
{
    if (m_pack)
        m_pack->stop();
}

void w_pack::pickRegion()
{
    m_host.message.clear();
    m_host.w_xmqxz(this);
    const QString picked = m_host.message.stringParm;
    if (!picked.isEmpty()) {
        em_region->setText(picked);
        followRegion();
    }
}

void w_pack::setLevelBelow(int regionLength)
{
    for (int i = int(std::size(kLevels)) - 1; i >= 0; --i)
        if (kLevels[i].length > regionLength) {
            ddlb_level->setCurrentIndex(i);
            return;
        }
}

void w_pack::followRegion()
{
    const int length = int(em_region->GetData().trimmed().size());
    if (length >= ddlb_level->currentData().toInt())
        setLevelBelow(length);
}

void w_pack::chooseFolder()
{
    const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("保存到"), sle_folder->text());
    if (!dir.isEmpty())
        sle_folder->setText(QDir::toNativeSeparators(dir));
}

void w_pack::setRunning(bool on)
{
    for (QWidget* w :
         std::initializer_list<QWidget*>{ddlb_scheme, ddlb_year, ddlb_month, em_region, cb_region, ddlb_level,
                                         ddlb_format, sle_folder, cb_folder, cb_start})
        w->setEnabled(!on);
    cb_close->setText(on ? QStringLiteral("取消(&C)") : QStringLiteral("关闭(&C)"));
}

bool w_pack::start()
{
    if (m_pack)
        return false;
    if (rightsDenied(m_host.gs_usergrant, 25)) {
        messages().MessageBox(QStringLiteral("系统提示"),
                              QStringLiteral("你无权限执行该操作,请询问系统管理员"));
        return false;
    }
    PackRequest request;
    request.scheme = ddlb_scheme->currentText();
    request.year = ddlb_year->currentText();
    request.month = ddlb_month->currentText();
    request.region = em_region->GetData().trimmed();
    request.regionName = em_region->text().trimmed();
    request.codeLength = ddlb_level->currentData().toInt();
    request.format = ddlb_format->currentData().toString();
    request.folder = QDir::fromNativeSeparators(sle_folder->text().trimmed());
    if (request.region.isEmpty()) {
        messages().MessageBox(kNotice, QStringLiteral("请选择查询区域"));
        return false;
    }
    if (request.scheme.isEmpty()) {
        messages().MessageBox(kNotice, QStringLiteral("请选择指标方案"));
        return false;
    }
    if (request.folder.isEmpty() || !QDir(request.folder).exists()) {
        messages().MessageBox(kNotice, QStringLiteral("文件夹不存在：%1").arg(sle_folder->text()));
        return false;
    }
    // The region must be one of s_qybm: a typed code that names nothing is refused.
    const auto known = m_host.sqlca().selectValue(
        QStringLiteral("SELECT count(*) FROM s_qybm WHERE trim(qybm) = ?"), {request.region});
    if (known.toInt() < 1) {
        messages().MessageBox(kNotice, QStringLiteral("没有区域代码为“%1”的区域").arg(request.region));
        return false;
    }
    if (const Status may = m_host.mayQuery(request.region); !may) {
        messages().MessageBox(kNotice, may.error);
        return false;
    }
    if (request.regionName == request.region)
        request.regionName =
            m_host.sqlca()
                .selectValue(QStringLiteral("SELECT min(trim(qymc)) FROM s_qybm WHERE trim(qybm) = ?"),
                             {request.region})
                .toString();

    m_quiet = std::make_unique<QuietHost>(m_host);
    m_pack = std::make_unique<Pack>(*m_quiet, request);
    m_cancelled = false;
    const Pack::Step prepared = m_pack->prepare();
    if (prepared.kind != Pack::Written) {
        m_pack.reset();
        messages().MessageBox(prepared.kind == Pack::Refused ? kNotice : QString(), prepared.message);
        return false;
    }
    hpb_progress->setRange(0, int(m_pack->regions().size()));
    hpb_progress->setValue(0);
    hpb_progress->setTextVisible(true);
    st_progress->setText(QStringLiteral("正在统计，请稍候……"));
    setRunning(true);
    QTimer::singleShot(0, this, &w_pack::step);
    return true;
}

void w_pack::cancel()
{
    if (m_pack)
        m_cancelled = true;
}

void w_pack::reject()
{
    // Closing the window while a pack runs stops it first.
    if (running()) {
        cancel();
        return;
    }
    QDialog::reject();
}

void w_pack::step()
{
    if (!m_pack)
        return;
    if (m_cancelled) {
        const qsizetype done = m_pack->done();
        m_pack->stop();
        end(QStringLiteral("已取消：完成 %1 / %2 个报表。").arg(done).arg(m_pack->regions().size()));
        return;
    }
    if (m_pack->atEnd()) {
        const Pack::Step finished = m_pack->finish();
        if (finished.kind != Pack::Written) {
            end(finished.message);
            return;
        }
        end(QString());
        return;
    }
    const PackRegion region = m_pack->regions().at(m_pack->done());
    const Pack::Step s = m_pack->next();
    if (s.kind != Pack::Written) {
        m_pack->stop();
        end(s.message);
        return;
    }
    hpb_progress->setValue(int(m_pack->done()));
    st_progress->setText(
        QStringLiteral("%1/%2 %3").arg(m_pack->done()).arg(m_pack->regions().size()).arg(region.name));
    // One report per turn of the event loop: the window keeps answering.
    QTimer::singleShot(0, this, &w_pack::step);
}

void w_pack::end(const QString& message)
{
    const int written = int(m_pack->files().size());
    const QString folder = QDir::toNativeSeparators(QDir::fromNativeSeparators(sle_folder->text().trimmed()));
    const bool cancelled = m_cancelled;
    m_pack.reset();
    m_quiet.reset();
    setRunning(false);
    if (cancelled) {
        st_progress->setText(message);
    } else if (!message.isEmpty()) {
        st_progress->setText(QStringLiteral("出错：") + message);
        messages().MessageBox(QString(), message);
    } else {
        st_progress->setText(QStringLiteral("完成：%1 个文件已写入 %2").arg(written).arg(folder));
        if (messages().MessageBox(
                kNotice,
                QStringLiteral("已写入 %1 个文件到：\n%2\n\n打开该文件夹吗？").arg(written).arg(folder),
                msg::Icon::Question, msg::Buttons::YesNo) == msg::Yes)
            openFolder(QDir::fromNativeSeparators(folder));
    }
    emit finished(written);
}
