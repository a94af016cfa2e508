// Build-time tool: writes the program's icon as a PNG of the given size, for the freedesktop
// icon theme. The icon is drawn at 32x32: whole multiples keep its pixels sharp, other sizes
// are smoothed.
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s ICON.ico SIZE OUT.png\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // lets Qt find its image format plugins
    QImage icon(QString::fromLocal8Bit(argv[1]));
    int size = std::atoi(argv[2]);
    if (icon.isNull() || size <= 0) {
        std::fprintf(stderr, "%s: cannot read %s or bad size %s\n", argv[0], argv[1], argv[2]);
        return 1;
    }
    bool wholeMultiple = size >= icon.width() && size % icon.width() == 0;
    QImage scaled = icon.convertToFormat(QImage::Format_ARGB32)
                        .scaled(size, size, Qt::KeepAspectRatio,
                                wholeMultiple ? Qt::FastTransformation : Qt::SmoothTransformation);
    if (!scaled.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
