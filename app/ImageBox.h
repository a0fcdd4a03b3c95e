#pragma once
// An image box: owns the picture of fixed size that the routines draw into
// and shows it scaled to the space the window gives it.
#include "common/Picture.h"

#include <QWidget>

class TImage : public QWidget {
    Q_OBJECT
public:
    TImage(int pictureWidth, int pictureHeight, QWidget* parent = nullptr);

    merkanix::Picture& picture() { return picture_; }
    const merkanix::Picture& picture() const { return picture_; }
    // Shows the picture's new content.
    void Repaint() { update(); }

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    merkanix::Picture picture_;
};
