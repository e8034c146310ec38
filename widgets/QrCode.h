#pragma once

#include <QImage>
#include <QString>

// A QR code of the text (UTF-8, error correction level M) as a black-on-white
// image, one pixel per module plus a quiet zone of four modules; a null image
// when the text is too long for a QR code.
QImage QrCodeImage(const QString& text);
