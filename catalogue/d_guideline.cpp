// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/d_guideline.h"

#include "catalogue/zbbmstore.h"
#include "foundation/gridbuffer.h"
#include "foundation/sqlca.h"

#include <QHash>
#include <memory>
#include <utility>

namespace {

GridColumn editableText(const QString& name, const QString& header, int width, int limit)
{
    GridColumn c;
    c.name = name;
    c.source = name;
    c.type = ColumnType::Text;
    c.header = header;
    c.width = width;
    c.updatable = true;
    c.editable = true;
    c.editLimit = limit;
    return c;
}

} // namespace

GridLayout d_guideline()
{
    GridLayout l;
    l.name = QStringLiteral("d_guideline");
    // No condition and no order: the rows as the database returns them.
    l.query = QStringLiteral("SELECT number, zblx, zbmc, zbms FROM s_zbbm");

    // Typing stops at 4, 50, 50 and 80 characters; a longer stored description
    // (the column holds 120) is shown and kept whole.
    l.columns << editableText(QStringLiteral("number"), QStringLiteral("编码"), 219, 4)
              << editableText(QStringLiteral("zblx"), QStringLiteral("指标类型"), 562, 50)
              << editableText(QStringLiteral("zbmc"), QStringLiteral("指标名称"), 1070, 50)
              << editableText(QStringLiteral("zbms"), QStringLiteral("指标描述"), 1719, 80);
    l.columns[0].key = true;
    // A screen 1024 wide shows every column: the description gives way.
    l.narrowColumn = QStringLiteral("zbms");
    l.updateTable = QStringLiteral("s_zbbm");
    l.keyColumns = {QStringLiteral("number")};

    l.rowNumber = true;
    l.rowNumberHeader = QStringLiteral("序号");
    l.rowNumberWidth = 174;

    // Rows 1, 3, … tinted 16772095, the others white.
    l.tintParity = 1;
    l.tint = qRgb(255, 235, 255);

    GridText title;
    title.name = QStringLiteral("t_1");
    title.text = QStringLiteral("禾岚统计指标");
    title.family = QStringLiteral("楷体_GB2312");
    title.pointSize = 18;
    title.bold = false;
    title.alignment = Qt::AlignHCenter;
    title.line = 0;
    l.texts << title;
    l.orientation = 2;
    return l;
}

QString guidelineCodeProblem(const GridBuffer& grid)
{
    const QString number = QStringLiteral("number");
    QHash<QString, long> firstRowOf;
    for (long row = 1; row <= grid.RowCount(); ++row) {
        const QString code = grid.GetItemString(row, number);
        if (code.trimmed().isEmpty()) {
            const QString name = grid.GetItemString(row, QStringLiteral("zbmc")).trimmed();
            const QString which = name.isEmpty()
                                      ? QStringLiteral("第%1行").arg(row)
                                      : QStringLiteral("第%1行（指标名称“%2”）").arg(row).arg(name);
            return QStringLiteral("%1没有填写编码。每个指标都要有编码，请填写后再保存。").arg(which);
        }
        if (const auto it = firstRowOf.constFind(code); it != firstRowOf.constEnd())
            return QStringLiteral("第%1行和第%2行的编码都是“%3”。编码不能重复，请修改后再保存。")
                .arg(*it)
                .arg(row)
                .arg(code);
        firstRowOf.insert(code, row);
    }
    return {};
}

void attachGuidelineChecks(GridBuffer& grid, std::function<bool()> namesFollow)
{
    // The schemes' copies to rewrite in this save, decided before it begins.
    auto follow = std::make_shared<QList<zbbm::Renamed>>();
    grid.updateStart = [&grid, namesFollow = std::move(namesFollow), follow] {
        follow->clear();
        if (QString why = guidelineCodeProblem(grid); !why.isEmpty())
            return why;
        Sqlca* sqlca = grid.transObject();
        if (!sqlca)
            return QString();
        if (QString why = zbbm::codeChangeRefusal(*sqlca, grid); !why.isEmpty())
            return why;
        const auto renamed = zbbm::renamedInSchemes(*sqlca, grid);
        if (!renamed)
            return sqlca->SQLErrText;
        // Asked once for the whole save, before anything is written.
        if (!renamed->isEmpty() && namesFollow && namesFollow())
            *follow = *renamed;
        return QString();
    };
    grid.updateWritten = [&grid, follow] {
        const QList<zbbm::Renamed> copies = std::exchange(*follow, {});
        Sqlca* sqlca = grid.transObject();
        if (copies.isEmpty() || !sqlca || zbbm::copyIntoSchemes(*sqlca, copies))
            return QString();
        return sqlca->SQLErrText;
    };
}
