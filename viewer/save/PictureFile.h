#ifndef KORVANE_PICTUREFILE_H
#define KORVANE_PICTUREFILE_H

#include <QImage>
#include <string>

class ViewState;

// The view as shown, at 100 %: the whole picture in its colours and display ranges, with the scale bar
// in its corner when the view shows one. Null for a null picture.
QImage pictureAsShown(const ViewState& aState, const QImage& aPicture);

// Writes the picture as PNG to aPath (bytes, as the system names files) through a temporary file beside
// it, which takes the name only when complete. An existing file is replaced only with aReplace. Throws
// std::runtime_error, leaving nothing behind.
void writePng(const QImage& aPicture, const std::string& aPath, bool aReplace);

#endif
