#include "TFormMain.h"

#include "BarrierPictures.h"

#include <QLabel>

bool TFormMain::BarrierOn(const QLabel* image)
{
    return image->property("tag").toInt() == 1;
}

void TFormMain::ImageLSClick(QLabel* image)
{
    const int tag = image->property("tag").toInt() ^ 1;
    image->setProperty("tag", tag);
    image->setPixmap(BarrierPicture(tag));
    image->update();
}
