// A horizontal bar on a fixed 0 to 100 range that keeps the exact single-precision value it was
// given and draws from it.
#pragma once

#include "layout/element_table.h"

#include <QWidget>

#include <stdexcept>

// Raised when a bar is given a value outside its range.
class InvalidPropertyValue : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

class ProgressBar : public QWidget {
    Q_OBJECT
public:
    static constexpr float Min = 0.0f;
    static constexpr float Max = 100.0f;

    explicit ProgressBar(layout::BarFill fill = layout::BarFill::Segmented,
                         QWidget* parent = nullptr);

    float value() const { return m_value; }
    // Values outside 0 to 100, and NaN, are refused with InvalidPropertyValue.
    void setValue(float value);

    layout::BarFill fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float m_value = Min;
    layout::BarFill m_fill;
};
