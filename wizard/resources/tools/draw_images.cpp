// Draws the wizard's images and writes them as PNG files into the directory
// given: bitmap135.png (the welcome page's picture: a smart card and a
// certificate with its seal), icon128.png (the program's icon) and
// icon110.png (the PIN dialog's icon: a card's contact chip and a key).
// Run it again after changing a drawing; the files are compiled into the
// program as Qt resources.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>
#include <functional>

namespace {

void DrawChip(QPainter& p, const QRectF& r) {
  QLinearGradient gold(r.topLeft(), r.bottomRight());
  gold.setColorAt(0, QColor(0xF6, 0xE2, 0x7A));
  gold.setColorAt(1, QColor(0xC8, 0x9B, 0x2C));
  p.setPen(QPen(QColor(0x7A, 0x5A, 0x10), r.width() / 24));
  p.setBrush(gold);
  p.drawRoundedRect(r, r.width() / 8, r.width() / 8);
  // Contact fields.
  const qreal x1 = r.left() + r.width() * 0.36, x2 = r.left() + r.width() * 0.64;
  p.drawLine(QPointF(x1, r.top()), QPointF(x1, r.bottom()));
  p.drawLine(QPointF(x2, r.top()), QPointF(x2, r.bottom()));
  p.drawLine(QPointF(r.left(), r.center().y()), QPointF(x1, r.center().y()));
  p.drawLine(QPointF(x2, r.center().y()), QPointF(r.right(), r.center().y()));
  p.drawLine(QPointF(r.left(), r.top() + r.height() / 4), QPointF(x1, r.top() + r.height() / 4));
  p.drawLine(QPointF(x2, r.bottom() - r.height() / 4),
             QPointF(r.right(), r.bottom() - r.height() / 4));
}

void DrawCard(QPainter& p, const QRectF& r, const QColor& top, const QColor& bottom) {
  QLinearGradient body(r.topLeft(), r.bottomLeft());
  body.setColorAt(0, top);
  body.setColorAt(1, bottom);
  p.setPen(QPen(QColor(0x1B, 0x2F, 0x5E), r.width() / 60 + 0.5));
  p.setBrush(body);
  p.drawRoundedRect(r, r.width() / 14, r.width() / 14);
  DrawChip(p, QRectF(r.left() + r.width() * 0.12, r.top() + r.height() * 0.32, r.width() * 0.24,
                     r.height() * 0.30));
  // A stripe of printing.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawRect(QRectF(r.left() + r.width() * 0.12, r.bottom() - r.height() * 0.22, r.width() * 0.6,
                    r.height() * 0.06));
}

void DrawSeal(QPainter& p, const QPointF& centre, qreal radius) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xB0, 0x1E, 0x23));
  QPainterPath ribbons;
  ribbons.moveTo(centre + QPointF(-radius * 0.6, radius * 0.3));
  ribbons.lineTo(centre + QPointF(-radius * 0.9, radius * 1.9));
  ribbons.lineTo(centre + QPointF(-radius * 0.35, radius * 1.5));
  ribbons.lineTo(centre + QPointF(0, radius * 0.4));
  ribbons.lineTo(centre + QPointF(radius * 0.35, radius * 1.5));
  ribbons.lineTo(centre + QPointF(radius * 0.9, radius * 1.9));
  ribbons.lineTo(centre + QPointF(radius * 0.6, radius * 0.3));
  ribbons.closeSubpath();
  p.drawPath(ribbons);
  QRadialGradient wax(centre - QPointF(radius / 3, radius / 3), radius * 1.2);
  wax.setColorAt(0, QColor(0xF0, 0x5A, 0x50));
  wax.setColorAt(1, QColor(0x9A, 0x12, 0x18));
  p.setBrush(wax);
  p.drawEllipse(centre, radius, radius);
  p.setPen(QPen(QColor(255, 230, 200), radius / 7));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(centre, radius * 0.62, radius * 0.62);
}

void DrawCertificate(QPainter& p, const QRectF& r, qreal sealHeight) {
  p.setPen(QPen(QColor(0x8A, 0x7A, 0x55), r.width() / 70 + 0.5));
  p.setBrush(QColor(0xFF, 0xFB, 0xEE));
  p.drawRect(r);
  p.setPen(QPen(QColor(0xC9, 0xB0, 0x6E), r.width() / 50 + 0.5));
  p.drawRect(r.adjusted(r.width() * 0.06, r.width() * 0.06, -r.width() * 0.06, -r.width() * 0.06));
  p.setPen(QPen(QColor(0x55, 0x55, 0x66), r.height() / 60 + 0.5));
  for (int i = 0; i < 5; ++i) {
    const qreal y = r.top() + r.height() * (0.16 + i * 0.08);
    const qreal end = i == 0 ? 0.75 : (i % 2 ? 0.85 : 0.7);
    p.drawLine(QPointF(r.left() + r.width() * 0.15, y), QPointF(r.left() + r.width() * end, y));
  }
  DrawSeal(p, QPointF(r.right() - r.width() * 0.25, r.top() + r.height() * sealHeight),
           r.width() * 0.14);
}

QImage WelcomePicture() {
  QImage image(160, 180, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 180);
  sky.setColorAt(0, QColor(0x1F, 0x4E, 0x9A));
  sky.setColorAt(1, QColor(0x0B, 0x1F, 0x45));
  p.fillRect(image.rect(), sky);
  // Soft light behind the card.
  QRadialGradient glow(QPointF(80, 70), 90);
  glow.setColorAt(0, QColor(255, 255, 255, 70));
  glow.setColorAt(1, QColor(255, 255, 255, 0));
  p.fillRect(image.rect(), glow);
  DrawCertificate(p, QRectF(52, 14, 86, 104), 0.6);
  p.save();
  p.translate(22, 96);
  p.rotate(-8);
  DrawCard(p, QRectF(0, 0, 118, 74), QColor(0xF9, 0xF9, 0xFF), QColor(0xB8, 0xC8, 0xE8));
  p.restore();
  return image;
}

// An icon of size pixels on a transparent ground, drawn by draw in units of
// a 32-pixel icon.
QImage Icon(int size, const std::function<void(QPainter&)>& draw) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  draw(p);
  p.end();
  return image;
}

void DrawProgramIcon(QPainter& p) {
  DrawCertificate(p, QRectF(12, 1, 18, 22), 0.32);
  DrawCard(p, QRectF(1, 12, 26, 17), QColor(0xF9, 0xF9, 0xFF), QColor(0x9F, 0xB6, 0xE0));
}

void DrawPinIcon(QPainter& p) {
  DrawChip(p, QRectF(2, 4, 20, 16));
  // A key across the chip's corner.
  p.setPen(QPen(QColor(0x3A, 0x3A, 0x3A), 1.2));
  p.setBrush(QColor(0xD9, 0xA4, 0x21));
  p.drawEllipse(QPointF(22, 20), 6, 6);
  p.setBrush(QColor(0x3A, 0x3A, 0x3A));
  p.drawEllipse(QPointF(22, 20), 2, 2);
  p.setBrush(QColor(0xD9, 0xA4, 0x21));
  QPainterPath shaft;
  shaft.addRect(QRectF(13, 18.8, 5, 2.4));
  shaft.addRect(QRectF(4, 18.8, 9.5, 2.4));
  shaft.addRect(QRectF(5, 21.2, 2, 3));
  shaft.addRect(QRectF(8.5, 21.2, 2, 2));
  p.drawPath(shaft.simplified());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const bool ok = WelcomePicture().save(out.filePath("bitmap135.png")) &&
                  Icon(32, DrawProgramIcon).save(out.filePath("icon128.png")) &&
                  Icon(32, DrawPinIcon).save(out.filePath("icon110.png"));
  return ok ? 0 : 1;
}
