// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

class QuietHost;
class Pack;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class RegionBox;
class UiHost;

// 批量报表: the report of every region of a level under a region, written to a
// folder (scheme, period, region, level, format, folder). The folder proposed
// is a dated one of the pack's own under the documents folder
// (月报/202612-枫林镇/), made when the user agrees; files of an earlier pack
// of the same names are replaced only when the user agrees. Only the levels
// below the region are offered. Level, format and the folder the dated
// folders go into are remembered for the next time. The reports are made
// one at a time between the window's events, so the window stays responsive
// and the pack never runs beside another statistics run; 取消 stops after the
// report being made. At the end the dialog offers to open the folder.
class w_pack final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(w_pack)

public:
    explicit w_pack(UiHost& host, QWidget* parent = nullptr);
    ~w_pack() override;

    bool running() const { return m_pack != nullptr; }
    // Starts the pack with what the dialog shows; false when it refused.
    bool start();
    void cancel();

    // Opens the folder at the end; tests replace it.
    std::function<void(const QString& folder)> openFolder;

    // The folder proposed for the choices shown: <base>/<scheme>/<YYYYMM>-<region>.
    QString proposedFolder() const;

signals:
    void finished(int written);

protected:
    void reject() override;

private:
    void step();
    void end(const QString& message);
    void setLevels(int regionLength);
    void followRegion();
    void followChoices();
    void showFormatNote();
    void pickRegion();
    void chooseFolder();
    void setRunning(bool on);
    QString regionName() const;
    // The dated folder's part below the base: "月报/202612-枫林镇".
    QString datedPart() const;
    // The folder asked for exists, or the user had it made; false when not.
    bool folderReady(const QString& folder);
    // No earlier file is replaced unasked; false when the user keeps them.
    bool mayReplace(const QStringList& files);
    void remember(const QString& folder);

    UiHost& m_host;
    std::unique_ptr<QuietHost> m_quiet;
    std::unique_ptr<Pack> m_pack;
    bool m_cancelled = false;
    QString m_base;     // where the dated folders go
    QString m_proposed; // the folder last proposed; a folder typed or chosen is kept
    int m_preferredLevel = 0;

    QComboBox* ddlb_scheme;
    QComboBox* ddlb_year;
    QComboBox* ddlb_month;
    RegionBox* em_region;
    QPushButton* cb_region;
    QComboBox* ddlb_level;
    QComboBox* ddlb_format;
    QLabel* st_format;
    QLineEdit* sle_folder;
    QPushButton* cb_folder;
    QProgressBar* hpb_progress;
    QLabel* st_progress;
    QPushButton* cb_start;
    QPushButton* cb_close;
};
