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

    // For boxes that show a grey frame with coloured marks drawn into it (edge
    // rows, centre crosses): shown smaller than the picture, smoothing would
    // blend those 1-pixel marks into the grey. With this the marks are laid
    // over the smoothed picture instead: a long mark (a row) along its scaled
    // length and one screen pixel thick, a small one (a cross) at its own
    // size. The picture's pixels are not changed.
    void KeepMarksVisible(bool keep = true);

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    merkanix::Picture picture_;
    bool keepMarks_ = false;
};
