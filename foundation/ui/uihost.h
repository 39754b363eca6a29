// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

#include <QSize>
#include <QString>
#include <memory>

class QWidget;
class GridBuffer;
class GridView;

// The layout record a host keeps per window: made by uf_open, handed back to uf_resize.
struct stru_resize
{
    QSize designSize;                       // the window's size in layout units when opened
    QList<QPair<QWidget*, QRect>> controls; // each control's design geometry in layout units
};

// The desktop host: the core host's globals and routines plus its windows and
// layout routines. The application implements it in app/ui; tests use a recording fake.
class UiHost : public Host
{
public:
    // The grid the last opened screen registered (the catalogue menu acts on it).
    GridView* gdw_share = nullptr;

    // Layout: remembers every control's design geometry; uf_resize scales them.
    virtual stru_resize uf_open(QWidget* window) = 0;
    virtual void uf_resize(QWidget* window, const stru_resize& layout, int newWidth, int newHeight) = 0;
    // 1 takes the alternating row colour off, 0 puts it back.
    virtual void uf_bgcolor(GridView* grid, int flag) = 0;
    // Lets the user save the grid as a spreadsheet (asks for the file).
    virtual int f_dw2excel(GridView* grid) = 0;
    virtual void w_key() {}
    // The region picker: returns with the chosen code in message.stringParm (empty when cancelled).
    virtual void w_xmqxz(QWidget* parent) = 0;
    // Opens a module screen by name (w_zbfa_set, w_xmjdzl, w_guide_set) with message set.
    virtual QWidget* openScreen(const QString& name, QWidget* parent) = 0;
};
