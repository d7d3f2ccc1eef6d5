#pragma once

// tkview's window: the chart with the summary beside it, File ▸ Open (files or
// a folder), drag and drop, recent files and the exports. It shows and
// forwards; reading, summing up and drawing live in their own files.

#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include <memory>

#include "Recordings.h"

class QLabel;
class QMenu;
class QAction;

namespace tkview {

class ChartWidget;
class SealBanner;
class SummaryPanel;

class ViewerWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit ViewerWindow(QWidget* parent = nullptr);
    ~ViewerWindow() override;

    // Opens files and folders as one timeline, in place of what was open.
    void openPaths(const QStringList& paths);
    // Reads what is open again, keeping the view (or, when it showed the end,
    // following the records that came).
    void reload();
    ChartWidget* chart() const { return m_chart; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    // Reads paths; problems are said in a box when `quietly` is false and in
    // the status bar otherwise.
    void load(const QStringList& paths, bool quietly);
    void followFiles();
    void openFiles();
    void openFolder();
    static void rememberRecent(const QStringList& paths);
    void fillRecentMenu();
    void updateSummary();
    void exportChart(const QString& suffix);
    void exportReport();
    void exportSpreadsheet();
    // A file name to export to, next to the recordings; empty when cancelled.
    QString askExportName(const QString& title, const QString& suffix, const QString& filter);
    void reportResult(const QString& error, const QString& fileName);

    std::unique_ptr<Recordings> m_recordings;
    ChartWidget* m_chart;
    SummaryPanel* m_summary;
    QLabel* m_seals;      // each file's verdict
    SealBanner* m_banner; // over the chart when a file is not verified
    QMenu* m_recentMenu = nullptr;
    QList<QAction*> m_exportActions;
    QTimer m_summaryTimer; // one summary per burst of pans and zooms
    QTimer m_followTimer;  // looks at the open files' sizes, as a live recording grows
    QString m_filesState;  // what the open files looked like when read
};

} // namespace tkview
