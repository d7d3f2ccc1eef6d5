#include "ViewerWindow.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollArea>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "ChartExport.h"
#include "ChartWidget.h"
#include "CsvExport.h"
#include "Options.h"
#include "ReadingProblems.h"
#include "Report.h"
#include "SealBanner.h"
#include "Summary.h"
#include "SummaryPanel.h"
#include "SummaryText.h"
#include "TrailText.h"
#include "Verification.h"

namespace tkview {

namespace {

constexpr int recentCount = 10;
const QString recentKey = QStringLiteral("recent");

// The banner's list of unverified files, short enough for a tooltip.
QString listedText(const QStringList& files) {
    constexpr qsizetype shown = 30;
    QString text = files.mid(0, shown).join(QLatin1Char('\n'));
    if (files.size() > shown)
        text += QStringLiteral("\nand %1 more").arg(files.size() - shown);
    return text;
}

QSettings settings() {
    return QSettings(QStringLiteral("tkcontrol"), QStringLiteral("tkview"));
}

// Each file's seal, marked: a green tick when intact under a trusted key, a
// red cross otherwise.
QString sealMarks(const Timeline& timeline) {
    QString text = QStringLiteral("<b>Seals</b>");
    for (const SourceFile& file : timeline.files) {
        const sealing::Verdict& verdict = file.seal;
        text += QStringLiteral("<br><span style=\"color:%1\">%2</span> %3: %4")
                    .arg(verdict.verified() ? QStringLiteral("#1a7f1a") : QStringLiteral("#c00000"),
                         verdict.verified() ? QStringLiteral("\u2714") : QStringLiteral("\u2718"),
                         file.name.toHtmlEscaped(), sealing::verdictText(verdict).toHtmlEscaped());
    }
    return text;
}

} // namespace

ViewerWindow::ViewerWindow(QWidget* parent)
    : QMainWindow(parent), m_chart(new ChartWidget), m_summary(new SummaryPanel),
      m_seals(new QLabel), m_banner(new SealBanner) {
    setWindowTitle(QStringLiteral("TK840 TK960 Recordings"));
    setAcceptDrops(true);
    auto* splitter = new QSplitter(this);
    auto* chartSide = new QWidget;
    auto* chartLayout = new QVBoxLayout(chartSide);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->addWidget(m_banner);
    chartLayout->addWidget(m_chart, 1);
    splitter->addWidget(chartSide);
    auto* side = new QWidget;
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(m_summary);
    m_seals->setWordWrap(true);
    m_seals->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_seals->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A year of daily files must not make the window taller than the screen.
    auto* seals = new QScrollArea;
    seals->setWidget(m_seals);
    seals->setWidgetResizable(true);
    seals->setFrameShape(QFrame::NoFrame);
    seals->setMinimumHeight(80);
    sideLayout->addWidget(seals, 1);
    splitter->addWidget(side);
    splitter->setStretchFactor(0, 1);
    splitter->setCollapsible(0, false);
    setCentralWidget(splitter);
    buildMenus();
    m_summaryTimer.setSingleShot(true);
    m_summaryTimer.setInterval(40);
    connect(&m_summaryTimer, &QTimer::timeout, this, &ViewerWindow::updateSummary);
    connect(m_chart, &ChartWidget::windowChanged, this, [this] { m_summaryTimer.start(); });
    connect(m_summary, &SummaryPanel::bandChanged, this, &ViewerWindow::updateSummary);
    m_followTimer.setInterval(2000);
    connect(&m_followTimer, &QTimer::timeout, this, &ViewerWindow::followFiles);
    resize(1200, 700);
    statusBar()->showMessage(QStringLiteral("No recording open"));
}

ViewerWindow::~ViewerWindow() = default;

void ViewerWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Open files…"), QKeySequence::Open, this,
                    &ViewerWindow::openFiles);
    file->addAction(QStringLiteral("Open &folder…"), this, &ViewerWindow::openFolder);
    m_recentMenu = file->addMenu(QStringLiteral("Open &recent"));
    connect(m_recentMenu, &QMenu::aboutToShow, this, &ViewerWindow::fillRecentMenu);
    file->addAction(QStringLiteral("Re&load"), QKeySequence::Refresh, this, &ViewerWindow::reload);
    file->addSeparator();
    m_exportActions << file->addAction(QStringLiteral("Export chart as &PNG…"), this,
                                       [this] { exportChart(QStringLiteral("png")); });
    m_exportActions << file->addAction(QStringLiteral("Export chart as &SVG…"), this,
                                       [this] { exportChart(QStringLiteral("svg")); });
    m_exportActions << file->addAction(QStringLiteral("Export &report (PDF)…"), this,
                                       &ViewerWindow::exportReport);
    m_exportActions << file->addAction(QStringLiteral("Export for a spreadsheet"), this,
                                       &ViewerWindow::exportSpreadsheet);
    for (QAction* action : m_exportActions)
        action->setEnabled(false);
    file->addSeparator();
    file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, &QWidget::close);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QAction* power = view->addAction(QStringLiteral("Show &power"));
    power->setCheckable(true);
    power->setChecked(true);
    connect(power, &QAction::toggled, m_chart, &ChartWidget::setShowPower);
    view->addAction(QStringLiteral("Show &all"), QKeySequence(Qt::Key_Home), m_chart,
                    &ChartWidget::showAll);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About tkview"), this, [this] {
        QMessageBox::about(
            this, QStringLiteral("About tkview"),
            QStringLiteral("<p><b>tkview %1</b></p><p>Viewer for TK840 and TK960 recordings.</p>"
                           "<p>Wheel: zoom around the mouse. Drag: pan. Right drag or Shift "
                           "drag: zoom to a range. Keys + − ← → Home. Double click: show "
                           "all.</p>")
                .arg(versionNumber()));
    });
}

void ViewerWindow::openFiles() {
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QStringLiteral("Open recordings"), QString(),
        QStringLiteral("Recordings (REC_*.csv *.csv);;All files (*)"));
    if (!files.isEmpty())
        openPaths(files);
}

void ViewerWindow::openFolder() {
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Open a folder of recordings"));
    if (!folder.isEmpty())
        openPaths({folder});
}

void ViewerWindow::openPaths(const QStringList& paths) {
    load(paths, false);
    rememberRecent(paths);
    m_followTimer.start();
}

void ViewerWindow::reload() {
    if (m_recordings)
        load(m_recordings->paths, false);
}

void ViewerWindow::followFiles() {
    if (m_recordings && recordingsState(m_recordings->paths) != m_filesState)
        load(m_recordings->paths, true);
}

void ViewerWindow::load(const QStringList& paths, bool quietly) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // What the view showed, kept across a reload of the same files.
    const bool again = m_recordings && m_recordings->paths == paths;
    const TimeWindow shown = m_chart->window();
    const bool atEnd = again && shown.toMs >= m_recordings->timeline.lastMs();
    const std::int64_t oldStart = again ? m_recordings->timeline.firstMs() : 0;
    m_filesState = recordingsState(paths);
    auto opened = openRecordings(paths);
    m_chart->setRecordings(nullptr);
    m_recordings = std::move(opened);
    const Timeline& timeline = m_recordings->timeline;
    m_chart->setRecordings(timeline.isEmpty() ? nullptr : m_recordings.get());
    if (again && !timeline.isEmpty() && !(shown.fromMs <= oldStart && atEnd))
        m_chart->setWindow(atEnd ? TimeWindow{timeline.lastMs() - shown.span(), timeline.lastMs()}
                                 : shown);
    QApplication::restoreOverrideCursor();
    for (QAction* action : m_exportActions)
        action->setEnabled(!timeline.isEmpty());
    QStringList names;
    for (const SourceFile& source : timeline.files)
        names << source.name;
    setWindowTitle(names.isEmpty()
                       ? QStringLiteral("TK840 TK960 Recordings")
                       : QStringLiteral("%1 – TK840 TK960 Recordings")
                             .arg(names.size() == 1
                                      ? names.front()
                                      : countText(names.size(), QStringLiteral("file"))));
    statusBar()->showMessage(
        countText(qint64(timeline.files.size()), QStringLiteral("file")) + QStringLiteral(", ") +
        countText(qint64(timeline.records.size()), QStringLiteral("record")) +
        QStringLiteral(", ") + countText(timeline.skippedCount, QStringLiteral("line")) +
        QStringLiteral(" skipped"));
    updateSummary();
    // The load and its events above the seals, when a trail is beside the files.
    m_seals->setText(timeline.files.empty()
                         ? QString()
                         : trailHtml(m_recordings->trail, timeline.zone) + sealMarks(timeline));
    m_banner->showText(sealBannerText(timeline, m_recordings->trail, BannerListing::InTheToolTip));
    m_banner->setToolTip(listedText(unverifiedFiles(timeline)));
    const QString problems = readingProblems(m_recordings->errors, m_recordings->warnings, timeline)
                                 .join(QLatin1Char('\n'));
    if (!problems.isEmpty() && quietly) {
        statusBar()->showMessage(QStringLiteral("Read again: ") +
                                 problems.section(QLatin1Char('\n'), 0, 0));
    } else if (!problems.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("tkview"),
                        timeline.isEmpty() ? QStringLiteral("Nothing could be read.")
                        : somethingLeftOut(m_recordings->errors, timeline)
                            ? QStringLiteral("Some lines or files could not be read; the rest "
                                             "is shown.")
                            : QStringLiteral("The recordings are shown, with a warning."),
                        QMessageBox::Ok, this);
        box.setDetailedText(problems);
        box.exec();
    }
}

void ViewerWindow::rememberRecent(const QStringList& paths) {
    QSettings store = settings();
    QStringList recent = store.value(recentKey).toStringList();
    for (const QString& path : paths) {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        recent.removeAll(absolute);
        recent.prepend(absolute);
    }
    store.setValue(recentKey, recent.mid(0, recentCount));
}

void ViewerWindow::fillRecentMenu() {
    m_recentMenu->clear();
    const QStringList recent = settings().value(recentKey).toStringList();
    for (const QString& path : recent)
        m_recentMenu->addAction(path, this, [this, path] { openPaths({path}); });
    if (recent.isEmpty())
        m_recentMenu->addAction(QStringLiteral("(none)"))->setEnabled(false);
}

void ViewerWindow::updateSummary() {
    if (!m_recordings)
        return;
    const TimeWindow window = m_chart->window();
    m_summary->showSummary(
        summarize(m_recordings->timeline, window.fromMs, window.toMs, m_summary->band()),
        m_recordings->timeline.zone);
}

QString ViewerWindow::askExportName(const QString& title, const QString& suffix,
                                    const QString& filter) {
    QString folder;
    if (m_recordings && !m_recordings->timeline.files.empty())
        folder = QFileInfo(m_recordings->timeline.files.front().path).absolutePath();
    // Named after the first recording, beside it.
    if (m_recordings && !m_recordings->timeline.files.empty()) {
        const std::vector<SourceFile>& files = m_recordings->timeline.files;
        folder +=
            QLatin1Char('/') + QFileInfo(files.front().name).completeBaseName() +
            (files.size() > 1 ? QStringLiteral("_and_%1_more").arg(files.size() - 1) : QString()) +
            QLatin1Char('.') + suffix;
    }
    QString name = QFileDialog::getSaveFileName(this, title, folder, filter);
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += QLatin1Char('.') + suffix;
    return name;
}

void ViewerWindow::reportResult(const QString& error, const QString& fileName) {
    if (error.isEmpty())
        statusBar()->showMessage(QStringLiteral("Written: %1").arg(fileName), 10000);
    else
        QMessageBox::warning(this, QStringLiteral("tkview"), error);
}

void ViewerWindow::exportChart(const QString& suffix) {
    const QString name =
        askExportName(QStringLiteral("Export the chart"), suffix,
                      suffix == QLatin1String("png") ? QStringLiteral("PNG pictures (*.png)")
                                                     : QStringLiteral("SVG drawings (*.svg)"));
    if (name.isEmpty() || !m_recordings)
        return;
    const ChartView view{m_chart->window(), m_chart->showPower(), m_summary->band()};
    const QSize size = m_chart->size();
    reportResult(suffix == QLatin1String("png")
                     ? writeChartPng(name, *m_recordings, view, size * devicePixelRatio())
                     : writeChartSvg(name, *m_recordings, view, size),
                 name);
}

void ViewerWindow::exportReport() {
    const QString name = askExportName(QStringLiteral("Export a report"), QStringLiteral("pdf"),
                                       QStringLiteral("PDF documents (*.pdf)"));
    if (name.isEmpty() || !m_recordings)
        return;
    const ChartView view{m_chart->window(), m_chart->showPower(), m_summary->band()};
    reportResult(writeReport(name, *m_recordings, view, QDateTime::currentDateTime()), name);
}

void ViewerWindow::exportSpreadsheet() {
    const QString name = askExportName(QStringLiteral("Export for a spreadsheet"),
                                       QStringLiteral("csv"), QStringLiteral("CSV files (*.csv)"));
    if (name.isEmpty() || !m_recordings)
        return;
    const TimeWindow window = m_chart->window();
    // For this computer's spreadsheet: its decimal sign, and semicolons where
    // that is a comma.
    reportResult(writeCsv(name, m_recordings->timeline, window.fromMs, window.toMs,
                          csvFormFor(QLocale::system())),
                 name);
}

void ViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ViewerWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (!paths.isEmpty()) {
        event->acceptProposedAction();
        openPaths(paths);
    }
}

} // namespace tkview
