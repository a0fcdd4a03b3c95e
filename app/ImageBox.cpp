#include "app/ImageBox.h"

#include <QImage>
#include <QPainter>

TImage::TImage(int pictureWidth, int pictureHeight, QWidget* parent)
    : QWidget(parent), picture_(pictureWidth, pictureHeight) {
    // An empty box shows white, as a fresh image box does.
    std::fill(picture_.bgr.begin(), picture_.bgr.end(), std::uint8_t{255});
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(pictureWidth / 4, pictureHeight / 4);
}

QSize TImage::sizeHint() const {
    return {picture_.width * 3 / 4, picture_.height * 3 / 4};
}

int TImage::heightForWidth(int width) const {
    return picture_.width > 0 ? width * picture_.height / picture_.width : width;
}

void TImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (picture_.Empty()) return;
    const QImage image(picture_.bgr.data(), picture_.width, picture_.height, picture_.width * 3,
                       QImage::Format_BGR888);
    // Whole picture, aspect kept, centred: the pixels are the picture's.
    QSize shown = image.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                       shown);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, shown.width() < picture_.width);
    painter.drawImage(target, image);
}
