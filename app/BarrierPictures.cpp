#include "BarrierPictures.h"

#include <QPainter>

QPixmap BarrierPicture(int index)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = index == 0                     ? QColor(220, 0, 0)
                        : index == 1                   ? QColor(0, 160, 0)
                        : index == BarrierFaultPicture ? QColor(110, 110, 110)
                                                       : QColor(128, 128, 0);
    painter.setPen(QPen(fill.darker(150), 1));
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    if (index == 0)
        painter.drawRect(QRectF(7, 13, 18, 6));
    else if (index == 1)
        painter.drawRect(QRectF(13, 7, 6, 18));
    else if (index == BarrierFaultPicture) {
        painter.drawRect(QRectF(13.5, 6, 5, 14));
        painter.drawEllipse(QRectF(13.5, 22, 5, 5));
    }
    return pixmap;
}
