#pragma once

// A drawing surface that keeps, in order, what the trace draws on it: every
// clear, every line with its colour, width and style, and every text with its
// position, size and colour. The text-position rule is the real one (it lives
// in DrawingSurface); only the height of a text line is chosen here: half a
// user unit per point, so that 8-point lines are 4 units apart.

#include <QColor>
#include <QPointF>
#include <QString>

#include <variant>
#include <vector>

#include "DrawingSurface.h"

class RecordingSurface : public display::DrawingSurface {
public:
    static constexpr qreal unitsPerPoint = 0.5;

    struct Cleared {};
    struct Line {
        QPointF from;
        QPointF to;
        QColor colour;
        int width;
        display::LineStyle style;
    };
    struct Text {
        QPointF at;
        QString text;
        qreal size;
        QColor colour;
    };
    using Op = std::variant<Cleared, Line, Text>;

    std::vector<Op> ops;

    void forget() { ops.clear(); }

    std::vector<Line> lines() const { return only<Line>(); }
    std::vector<Text> texts() const { return only<Text>(); }

protected:
    void paintClear() override { ops.emplace_back(Cleared{}); }
    void paintLine(QPointF from, QPointF to, const Pen& pen) override {
        ops.emplace_back(Line{from, to, pen.colour, pen.width, pen.style});
    }
    void paintText(QPointF topLeft, const QString& text, qreal pointSize,
                   const QColor& colour) override {
        ops.emplace_back(Text{topLeft, text, pointSize, colour});
    }
    qreal textLineHeight(qreal pointSize) const override { return pointSize * unitsPerPoint; }

private:
    template <typename T> std::vector<T> only() const {
        std::vector<T> result;
        for (const Op& op : ops) {
            if (const T* item = std::get_if<T>(&op))
                result.push_back(*item);
        }
        return result;
    }
};
