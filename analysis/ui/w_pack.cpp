// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/ui/w_pack.h"

#include "analysis/pack.h"
#include "foundation/places.h"
#include "foundation/sqlca.h"
#include "foundation/ui/filedialogs.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/quiethost.h"
#include "foundation/ui/showfolder.h"
#include "foundation/ui/uihost.h"
#include "report/statsrun.h"
#include "report/ui/regionbox.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTimer>
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
    const char16_t* note; // what the pack writes in this format
};
constexpr Format kFormats[] = {
    {u"Excel 表格 (.xlsx)", "xlsx",
     u"每个区域一个 Excel 表格，另附汇总表格“…-全部.xlsx”（首页并列各区域的累计数）"},
    {u"PDF 文件 (.pdf)", "pdf", u"每个区域一个 PDF 文件，另附合订本“…-全部.pdf”（各区域的报表依次排列）"},
    {u"CSV 文本 (.csv)", "csv", u"每个区域一个 CSV 文本文件，可用表格程序打开"},
    {u"JSON 数据 (.json)", "json", u"每个区域一个 JSON 数据文件，供其他程序读取"},
};

// The settings the dialog remembers.
const QString kLevelKey = QStringLiteral("pack/level");
const QString kFormatKey = QStringLiteral("pack/format");
const QString kBaseKey = QStringLiteral("pack/folderBase");

// A part of a folder name: the characters file systems refuse become "_".
QString folderPart(const QString& text)
{
    QString s = text.trimmed();
    for (QChar& c : s)
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    while (s.endsWith(u'.'))
        s.chop(1);
    return s;
}

QString documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

} // namespace

w_pack::w_pack(UiHost& host, QWidget* parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("w_pack"));
    setWindowTitle(QStringLiteral("批量报表"));
    openFolder = [this](const QString& folder) { showFolder(folder, this); };

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
    st_format = new QLabel(this);
    st_format->setObjectName(QStringLiteral("st_format"));
    st_format->setForegroundRole(QPalette::PlaceholderText);
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
    form->addRow(QString(), st_format);
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
    // The choices of the last pack: level, format, and where its dated folder went.
    const QSettings remembered = userSettings(SettingsUse::Read);
    m_preferredLevel = remembered.value(kLevelKey).toInt();
    m_base = remembered.value(kBaseKey).toString();
    if (m_base.isEmpty() || !QFileInfo(m_base).isDir())
        m_base = documentsFolder();
    // Only the levels below the region; the one remembered, else the level just below.
    setLevels(int(em_region->GetData().trimmed().size()));
    for (const Format& f : kFormats) {
        ddlb_format->addItem(QString::fromUtf16(f.caption), QString::fromLatin1(f.suffix));
        ddlb_format->setItemData(ddlb_format->count() - 1, QString::fromUtf16(f.note), Qt::ToolTipRole);
    }
    if (const int at = ddlb_format->findData(remembered.value(kFormatKey).toString()); at >= 0)
        ddlb_format->setCurrentIndex(at);
    showFormatNote();
    followChoices();

    connect(em_region, &QComboBox::currentTextChanged, this, &w_pack::followRegion);
    connect(ddlb_scheme, &QComboBox::currentTextChanged, this, &w_pack::followChoices);
    connect(ddlb_year, &QComboBox::currentTextChanged, this, &w_pack::followChoices);
    connect(ddlb_month, &QComboBox::currentTextChanged, this, &w_pack::followChoices);
    connect(ddlb_format, &QComboBox::currentIndexChanged, this, &w_pack::showFormatNote);

    connect(cb_region, &QPushButton::clicked, this, &w_pack::pickRegion);
    connect(cb_folder, &QPushButton::clicked, this, &w_pack::chooseFolder);
    connect(cb_start, &QPushButton::clicked, this, [this] { start(); });
    connect(cb_close, &QPushButton::clicked, this, [this] {
        if (running())
            cancel();
        else
            reject();
    });
    resize(600, sizeHint().height());
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

void w_pack::setLevels(int regionLength)
{
    const int current = ddlb_level->currentData().toInt();
    const QSignalBlocker quiet(ddlb_level);
    ddlb_level->clear();
    for (const Level& l : kLevels)
        if (l.length > regionLength)
            ddlb_level->addItem(QString::fromUtf16(l.caption), l.length);
    // The level shown before, else the one remembered, else the one just below the region.
    for (const int wanted : {current, m_preferredLevel})
        if (const int at = ddlb_level->findData(wanted); wanted > 0 && at >= 0) {
            ddlb_level->setCurrentIndex(at);
            return;
        }
    ddlb_level->setCurrentIndex(ddlb_level->count() - 1);
}

void w_pack::followRegion()
{
    setLevels(int(em_region->GetData().trimmed().size()));
    followChoices();
}

QString w_pack::regionName() const
{
    const QString code = em_region->GetData().trimmed();
    for (const auto& [name, c] : em_region->codeTable())
        if (c == code)
            return name;
    return em_region->text().trimmed();
}

QString w_pack::datedPart() const
{
    const QString period = reportPeriod(ddlb_year->currentText(), ddlb_month->currentText());
    const QString scheme = folderPart(ddlb_scheme->currentText());
    const QString region = folderPart(regionName());
    QString dated = region.isEmpty() ? period : period + u'-' + region;
    return scheme.isEmpty() ? dated : scheme + u'/' + dated;
}

QString w_pack::proposedFolder() const
{
    return QDir::cleanPath(m_base + u'/' + datedPart());
}

void w_pack::followChoices()
{
    // The proposal follows the choices until the user types or chooses a folder of their own.
    const QString shown = QDir::fromNativeSeparators(sle_folder->text().trimmed());
    if (!shown.isEmpty() && QDir::cleanPath(shown) != m_proposed)
        return;
    m_proposed = proposedFolder();
    sle_folder->setText(QDir::toNativeSeparators(m_proposed));
}

void w_pack::showFormatNote()
{
    st_format->setText(ddlb_format->currentData(Qt::ToolTipRole).toString());
}

void w_pack::chooseFolder()
{
    // The dialog opens at the nearest folder that exists.
    QString start = QDir::fromNativeSeparators(sle_folder->text().trimmed());
    while (!start.isEmpty() && !QFileInfo(start).isDir() && QFileInfo(start).absolutePath() != start)
        start = QFileInfo(start).absolutePath();
    const QString dir = filedialogs::folder(this, QStringLiteral("保存到"), start);
    if (!dir.isEmpty())
        sle_folder->setText(QDir::toNativeSeparators(dir));
}

bool w_pack::folderReady(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    const QString shown = QDir::toNativeSeparators(folder);
    if (info.exists()) {
        messages().MessageBox(kNotice, QStringLiteral("“%1”不是文件夹，请另选保存的位置。").arg(shown),
                              msg::Icon::Warning);
        return false;
    }
    if (messages().MessageBox(kNotice, QStringLiteral("文件夹不存在：\n%1\n\n创建该文件夹吗？").arg(shown),
                              msg::Icon::Question, msg::Buttons::YesNo) != msg::Yes)
        return false;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        messages().MessageBox(kNotice, QStringLiteral("无法创建文件夹：\n%1").arg(shown), msg::Icon::Warning);
        return false;
    }
    return true;
}

bool w_pack::mayReplace(const QStringList& files)
{
    QStringList there;
    for (const QString& f : files)
        if (QFileInfo::exists(f))
            there << QFileInfo(f).fileName();
    if (there.isEmpty())
        return true;
    constexpr int kNamed = 5;
    QString names = there.mid(0, kNamed).join(u'\n');
    if (there.size() > kNamed)
        names += QStringLiteral("\n……等 %1 个文件").arg(there.size());
    return messages().MessageBox(
               kNotice,
               QStringLiteral(
                   "文件夹中已有 %1 个同名的文件（以前的批量报表）：\n%2\n\n用这次的报表替换它们吗？")
                   .arg(there.size())
                   .arg(names),
               msg::Icon::Question, msg::Buttons::YesNo) == msg::Yes;
}

void w_pack::remember(const QString& folder)
{
    // The dated folder's base: where the folder proposed would have gone, or
    // the folder above one of the user's own.
    const QString clean = QDir::cleanPath(folder);
    const QString dated = u'/' + datedPart();
    m_base = clean.endsWith(dated) ? clean.chopped(dated.size()) : QFileInfo(clean).absolutePath();
    if (m_base.isEmpty())
        m_base = QStringLiteral("/");
    m_preferredLevel = ddlb_level->currentData().toInt();
    QSettings settings = userSettings(SettingsUse::Write);
    settings.setValue(kLevelKey, m_preferredLevel);
    settings.setValue(kFormatKey, ddlb_format->currentData().toString());
    settings.setValue(kBaseKey, m_base);
    m_proposed = clean;
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
    if (ddlb_level->count() == 0 || request.codeLength <= 0) {
        messages().MessageBox(kNotice, QStringLiteral("“%1”下没有可以逐个报出的下级区域，请另选汇总区域。")
                                           .arg(em_region->text().trimmed()));
        return false;
    }
    if (request.folder.isEmpty()) {
        messages().MessageBox(kNotice, QStringLiteral("请选择保存报表的文件夹"));
        return false;
    }
    if (!folderReady(request.folder))
        return false;
    request.regionName = regionName();
    if (request.regionName.isEmpty() || request.regionName == request.region)
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
    if (!mayReplace(m_pack->plannedFiles())) {
        m_pack.reset();
        st_progress->setText(QStringLiteral("未开始：文件夹中已有的文件保持不变。"));
        return false;
    }
    remember(request.folder);
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
