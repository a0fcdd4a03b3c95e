#include "app/ImageBox.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <vector>

using merkanix::Picture;

namespace {

// Up to this size (a centre cross is 5 x 5) a mark keeps its own size on
// screen; larger ones (an edge row across the frame) follow the scaling.
constexpr int kSmallMark = 15;

bool IsMark(const std::uint8_t* pixel) {
    return pixel[0] != pixel[1] || pixel[1] != pixel[2];
}

struct Mark {
    std::vector<QPoint> pixels;
    QRgb colour = 0;
    QRect bounds;
};

// The marks of a grey picture: its coloured pixels, joined into one mark
// where they touch (also diagonally) and have the same colour.
std::vector<Mark> FindMarks(const Picture& picture) {
    const int w = picture.width, h = picture.height;
    std::vector<std::uint8_t> seen(static_cast<std::size_t>(w) * h, 0);
    std::vector<Mark> marks;
    std::vector<QPoint> pending;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* start = picture.Pixel(x, y);
            if (seen[static_cast<std::size_t>(y) * w + x] || !IsMark(start)) continue;
            Mark& mark = marks.emplace_back();
            mark.colour = qRgb(start[2], start[1], start[0]);
            seen[static_cast<std::size_t>(y) * w + x] = 1;
            pending.push_back({x, y});
            while (!pending.empty()) {
                const QPoint p = pending.back();
                pending.pop_back();
                mark.pixels.push_back(p);
                mark.bounds |= QRect(p, QSize(1, 1));
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = p.x() + dx, ny = p.y() + dy;
                        if (!picture.Contains(nx, ny)) continue;
                        std::uint8_t& done = seen[static_cast<std::size_t>(ny) * w + nx];
                        const std::uint8_t* q = picture.Pixel(nx, ny);
                        if (done || !IsMark(q) || qRgb(q[2], q[1], q[0]) != mark.colour) continue;
                        done = 1;
                        pending.push_back({nx, ny});
                    }
            }
        }
    return marks;
}

// Lays the marks of `picture` over `shown`, its reduction: each picture
// pixel lands on the shown pixel under its centre.
void LayMarks(const Picture& picture, QImage& shown) {
    const qint64 w = picture.width, h = picture.height;
    const qint64 sw = shown.width(), sh = shown.height();
    const auto put = [&](qint64 x, qint64 y, QRgb colour) {
        if (x >= 0 && y >= 0 && x < sw && y < sh)
            reinterpret_cast<QRgb*>(shown.scanLine(static_cast<int>(y)))[x] = colour;
    };
    const std::vector<Mark> marks = FindMarks(picture);
    // Long marks first, so that a cross on an edge row stays whole.
    for (bool small : {false, true})
        for (const Mark& mark : marks) {
            if ((mark.bounds.width() <= kSmallMark && mark.bounds.height() <= kSmallMark) != small)
                continue;
            const QPoint centre = mark.bounds.center();
            const qint64 cx = (2 * centre.x() + 1) * sw / (2 * w);
            const qint64 cy = (2 * centre.y() + 1) * sh / (2 * h);
            for (const QPoint& p : mark.pixels) {
                if (small)
                    put(cx + p.x() - centre.x(), cy + p.y() - centre.y(), mark.colour);
                else
                    put((2 * p.x() + 1) * sw / (2 * w), (2 * p.y() + 1) * sh / (2 * h),
                        mark.colour);
            }
        }
}

} // namespace

TImage::TImage(int pictureWidth, int pictureHeight, QWidget* parent)
    : QWidget(parent), picture_(pictureWidth, pictureHeight) {
    // An empty box shows white, as a fresh image box does.
    std::fill(picture_.bgr.begin(), picture_.bgr.end(), std::uint8_t{255});
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(pictureWidth / 4, pictureHeight / 4);
}

void TImage::KeepMarksVisible(bool keep) {
    keepMarks_ = keep;
    update();
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
    const QSize shown = image.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                       shown);
    const bool reduced = shown.width() < picture_.width;
    if (!keepMarks_ || !reduced || shown.isEmpty()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, reduced);
        painter.drawImage(target, image);
        return;
    }
    // Reduced as above, in screen pixels, then the marks laid over it.
    const qreal ratio = devicePixelRatioF();
    QImage screen((QSizeF(shown) * ratio).toSize(), QImage::Format_RGB32);
    {
        QPainter scaler(&screen);
        scaler.setRenderHint(QPainter::SmoothPixmapTransform);
        scaler.drawImage(screen.rect(), image);
    }
    LayMarks(picture_, screen);
    screen.setDevicePixelRatio(ratio);
    painter.drawImage(target.topLeft(), screen);
}
