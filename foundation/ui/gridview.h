// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/gridbuffer.h"

#include <QPointer>
#include <QWidget>

class QStackedLayout;
class QTableView;
class Sqlca;

namespace gridview_detail {
class GridModel;
class GridTable;
class TitleBand;
class PreviewPages;
} // namespace gridview_detail

// A grid control (dw_1, ...): shows the rows of its GridBuffer under the
// layout's title band and column headers, lets the user edit the editable
// cells, and while the buffer's preview is on shows the printed pages in place.
// It holds no data of its own: everything it shows is read from the buffer.
class GridView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GridView)

public:
    // controlName becomes the objectName ("dw_1").
    GridView(const QString& controlName, GridLayout layout, QWidget* parent = nullptr);
    ~GridView() override;

    GridBuffer& buffer() { return *m_buffer; }
    const GridBuffer& buffer() const { return *m_buffer; }

    // Short-hands for what the screens call most.
    void SetTransObject(Sqlca* sqlca) { m_buffer->SetTransObject(sqlca); }
    long Retrieve(const QVariantList& args = {}) { return m_buffer->Retrieve(args); }

    // Attributes by path: "DataWindow.Print.Preview" (yes/no), ".Preview.Outline",
    // ".Preview.Rulers", "DataWindow.Print.Orientation" (1 landscape, 2 portrait)
    // and "<text object>.Text". Returns the empty text on success, else what was wrong.
    QString Modify(const QString& path, const QVariant& value);
    QString Describe(const QString& path) const;

    // Alternating row colours on or off (the host's uf_bgcolor switches them).
    void setRowColors(bool on) { m_buffer->setRowColors(on); }

    // Prints every row to the system's default printer, without a dialog.
    // With no printer installed the pages go to a PDF file named fileTitle()
    // in the folder the user saved in last (else the documents folder), never
    // over an existing file; the notice names the file and offers to open its folder.
    // 1 success, -1 failure (with a notice saying why).
    int Print();
    // Where the last Print() went: the printer's name or the PDF file.
    QString lastPrintTarget() const { return m_lastPrintTarget; }
    // Tests and machines without a printer: every Print() writes a PDF into `folder`
    // (an empty folder restores printing to the default printer).
    static void setPrintFolder(const QString& folder);

    // The title the grid prints under (its largest title text).
    QString title() const;
    // The name (without suffix) its spreadsheets and printouts are offered under:
    // what the screen set (report, region, period), else the title.
    QString fileTitle() const;
    void setFileTitle(const QString& name) { m_fileTitle = name; }

    // Display order of the columns by grid column name; the tab order of the
    // editable cells keeps the layout's order.
    void setColumnOrder(const QStringList& columns);

    // Raises the control above its siblings and remembers it (BringToTop).
    void BringToTop();
    bool broughtToTop() const { return m_broughtToTop; }

    QTableView* table() const;
    bool previewShown() const;
    // Stores the value of the cell being edited, if an editor is open; false
    // when the typed value was refused (the editor stays open with it).
    bool commitOpenEditor();

signals:
    void printed(const QString& target);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void syncAppearance();
    void fitColumns();

    GridBuffer* m_buffer;
    QStackedLayout* m_stack = nullptr;
    gridview_detail::GridModel* m_model = nullptr;
    gridview_detail::GridTable* m_table = nullptr;
    gridview_detail::TitleBand* m_title = nullptr;
    gridview_detail::PreviewPages* m_pages = nullptr;
    QWidget* m_sheet = nullptr;
    QWidget* m_previewArea = nullptr;
    QString m_lastPrintTarget;
    QString m_fileTitle;
    int m_previewOrientation = 0;
    bool m_broughtToTop = false;
};
