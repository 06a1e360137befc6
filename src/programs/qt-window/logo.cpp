#include "programs/qt-window/logo.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace qvr::platform::qt {
namespace {

const QColor kNavy(16, 36, 84);
const QColor kSky(120, 180, 240);
const QColor kPanel(200, 214, 232);

// A small satellite: a body with two solar panels, tilted a little, and the waves it sends
// down to the right.
void drawSatellite(QPainter& painter, QPointF centre, qreal scale) {
  painter.save();
  painter.translate(centre);
  painter.rotate(-30);
  painter.scale(scale, scale);
  painter.setPen(Qt::NoPen);
  painter.setBrush(kPanel);
  painter.drawRect(QRectF(-11, -2.5, 7, 5));
  painter.drawRect(QRectF(4, -2.5, 7, 5));
  painter.setBrush(Qt::white);
  painter.drawRect(QRectF(-3.5, -3.5, 7, 7));
  painter.restore();

  painter.save();
  painter.setBrush(Qt::NoBrush);
  for (int i = 1; i <= 3; ++i) {
    QPen pen(kSky, 1.4);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    const qreal r = (3.0 + 4.0 * i) * scale;
    painter.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), -80 * 16, 60 * 16);
  }
  painter.restore();
}

}  // namespace

QPixmap drawLogo(QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);

  const QRectF frame = QRectF(image.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const qreal radius = size.height() / 5.0;
  painter.setPen(Qt::NoPen);
  painter.setBrush(kNavy);
  painter.drawRoundedRect(frame, radius, radius);

  // The text takes the left two thirds and stays readable at the control's 50 px height.
  const qreal h = size.height();
  const QRectF textBox(h * 0.2, 0, size.width() * 0.64 - h * 0.2, h * 0.72);
  QFont brand(QStringLiteral("Liberation Sans"));
  brand.setBold(true);
  brand.setPixelSize(qRound(h * 0.5));
  painter.setFont(brand);
  painter.setPen(Qt::white);
  painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("QVR"));

  QFont tag(QStringLiteral("Liberation Sans"));
  tag.setPixelSize(qMax(6, qRound(h * 0.18)));
  painter.setFont(tag);
  painter.setPen(kSky);
  const QRectF tagBox(h * 0.2, h * 0.62, size.width() * 0.64, h * 0.3);
  painter.drawText(tagBox, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("TIME & FREQUENCY"));

  drawSatellite(painter, QPointF(size.width() - h * 0.75, h * 0.42), h / 40.0);
  painter.end();
  return QPixmap::fromImage(image);
}

}  // namespace qvr::platform::qt
