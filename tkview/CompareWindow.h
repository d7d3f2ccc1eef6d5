#pragma once

// The window of runs laid over each other: the chart above, each run's
// summary side by side below, and the report to export. It shows and
// forwards; the comparison is made before it opens.

#include <QMainWindow>
#include <QWidget>

#include <memory>

#include "RunCompare.h"

namespace tkview {

class ComparisonChart : public QWidget {
    Q_OBJECT

public:
    explicit ComparisonChart(const Comparison& comparison, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Comparison& m_comparison;
};

class CompareWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit CompareWindow(Comparison comparison, QWidget* parent = nullptr);

private:
    void exportReport();

    Comparison m_comparison;
};

// The side-by-side summaries as a rich-text table.
QString comparisonHtml(const Comparison& comparison);

} // namespace tkview
