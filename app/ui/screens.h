// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <functional>

class ModuleWindow;
class QWidget;
class UiHost;

// The module's screens the host can open, by window name. A screen that has
// no factory yet is listed all the same and answers "该功能尚未提供".
struct ScreenEntry
{
    QString name;    // w_xmjdzl, w_zbfa_set, w_guide_set
    QString caption; // the entry of the 统计 menu
    std::function<ModuleWindow*(UiHost& host, QWidget* parent)> create;
};

// The screens in menu order.
QList<ScreenEntry>& screens();
const ScreenEntry* findScreen(const QString& name);
// Replaces (or adds) the factory of a screen; tests register their own.
void registerScreen(const QString& name, const QString& caption,
                    std::function<ModuleWindow*(UiHost& host, QWidget* parent)> create);
