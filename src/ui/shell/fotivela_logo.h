#pragma once

#include <QWidget>

namespace fotivela {

// The horizontal logo: a film-frame mark in the accent and the wordmark, scaled to fit its
// frame and aligned to the leading edge.
class FotivelaLogo : public QWidget {
    Q_OBJECT

public:
    FotivelaLogo(QSize size, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace fotivela
