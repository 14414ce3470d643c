// Writes the program's icon as a PNG of a given size, for the desktop's
// icon theme: the window's 32 x 32 image, smoothly reduced below 32. Larger
// sizes come from the drawing packaging/kxcheck.svg.
//
//   kxcheck_icon_png SIZE OUT.png
#include <QImage>
#include <QSaveFile>
#include <QString>
#include <cstdio>

namespace {

#include "ui/kxcheck.xpm"

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SIZE OUT.png\n", argv[0]);
    return 2;
  }
  bool is_number = false;
  const int size = QString(argv[1]).toInt(&is_number);
  if (!is_number || size < 1) {
    std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[1]);
    return 2;
  }
  QImage image = QImage(kxcheck_xpm).convertToFormat(QImage::Format_ARGB32);
  const Qt::TransformationMode mode = size % image.width() == 0
                                          ? Qt::FastTransformation
                                          : Qt::SmoothTransformation;
  image = image.scaled(size, size, Qt::IgnoreAspectRatio, mode);
  // Written beside the target and put in its place only when complete.
  QSaveFile out(QString::fromLocal8Bit(argv[2]));
  if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG") ||
      !out.commit()) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
    return 1;
  }
  return 0;
}
