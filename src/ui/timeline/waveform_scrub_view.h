#pragma once

#include <QWidget>

#include <functional>

namespace fotivela {

// Transparent surface over the music lane: a press or a drag seeks to the time under the pointer.
class WaveformScrubView : public QWidget {

public:
    explicit WaveformScrubView(QWidget* parent = nullptr);

    double duration = 1;
    std::function<void(double)> onScrub;
    std::function<void(bool)> onEditingChanged;

    double timeAt(double x) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

} // namespace fotivela
