#include "CompareWindow.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>

#include "CompareChart.h"

namespace tkview {

ComparisonChart::ComparisonChart(const Comparison& comparison, QWidget* parent)
    : QWidget(parent), m_comparison(comparison) {
    setMinimumSize(400, 250);
}

void ComparisonChart::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    paintComparison(painter, QRectF(rect()), m_comparison, font(), nullptr, true);
}

QString comparisonHtml(const Comparison& comparison) {
    QString html = QStringLiteral("<p>%1</p><table cellspacing=\"0\" cellpadding=\"3\">")
                       .arg(alignmentText(comparison.align).toHtmlEscaped());
    const QList<QStringList> rows = comparisonRows(comparison);
    for (const QStringList& row : rows) {
        const bool heading = &row == &rows.front();
        html += QStringLiteral("<tr><td style=\"color:#555\">%1</td>").arg(row.value(0));
        for (qsizetype i = 1; i < row.size(); ++i)
            html += (heading ? QStringLiteral("<td><b>%1</b></td>") : QStringLiteral("<td>%1</td>"))
                        .arg(row[i].toHtmlEscaped());
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

CompareWindow::CompareWindow(Comparison comparison, QWidget* parent)
    : QMainWindow(parent), m_comparison(std::move(comparison)) {
    setWindowTitle(QStringLiteral("Runs compared – TK840 TK960 Recordings"));
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(new ComparisonChart(m_comparison));
    auto* table = new QLabel(comparisonHtml(m_comparison));
    table->setTextInteractionFlags(Qt::TextSelectableByMouse);
    table->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* scroll = new QScrollArea;
    scroll->setWidget(table);
    scroll->setWidgetResizable(true);
    splitter->addWidget(scroll);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("Export &report (PDF)…"), this, &CompareWindow::exportReport);
    file->addSeparator();
    file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, &QWidget::close);
    resize(1200, 800);
    statusBar()->showMessage(m_comparison.problems.join(QStringLiteral("; ")));
}

void CompareWindow::exportReport() {
    QString folder;
    if (!m_comparison.runs.empty() && !m_comparison.runs.front().recordings->timeline.files.empty())
        folder = QFileInfo(m_comparison.runs.front().recordings->timeline.files.front().path)
                     .absolutePath() +
                 QStringLiteral("/comparison.pdf");
    QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Export a report"), folder,
                                                QStringLiteral("PDF documents (*.pdf)"));
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".pdf");
    const QString error = writeComparisonReport(name, m_comparison, QDateTime::currentDateTime());
    if (error.isEmpty())
        statusBar()->showMessage(QStringLiteral("Written: %1").arg(name), 10000);
    else
        QMessageBox::warning(this, QStringLiteral("tkview"), error);
}

} // namespace tkview
