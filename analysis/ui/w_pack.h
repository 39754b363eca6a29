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
// folder (scheme, period, region, level, format, folder). The reports are made
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

signals:
    void finished(int written);

protected:
    void reject() override;

private:
    void step();
    void end(const QString& message);
    void setLevelBelow(int regionLength);
    void followRegion();
    void pickRegion();
    void chooseFolder();
    void setRunning(bool on);

    UiHost& m_host;
    std::unique_ptr<QuietHost> m_quiet;
    std::unique_ptr<Pack> m_pack;
    bool m_cancelled = false;

    QComboBox* ddlb_scheme;
    QComboBox* ddlb_year;
    QComboBox* ddlb_month;
    RegionBox* em_region;
    QPushButton* cb_region;
    QComboBox* ddlb_level;
    QComboBox* ddlb_format;
    QLineEdit* sle_folder;
    QPushButton* cb_folder;
    QProgressBar* hpb_progress;
    QLabel* st_progress;
    QPushButton* cb_start;
    QPushButton* cb_close;
};
