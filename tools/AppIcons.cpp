// Writes the application icon as the PNGs a desktop's icon theme looks up, drawn by the same code
// as the icon inside the windows:
//   app-icons FOLDER     writes FOLDER/<n>x<n>/apps/ostrel.png for n = 48, 128 and 256
#include "Ostrel/Widgets/AppIcon.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTextStream>

int main(int argc, char** argv) {
    // Drawn into images alone, at build time: no application object, no screen.
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: app-icons FOLDER\n";
        return 2;
    }
    const QString out = QFile::decodeName(argv[1]);
    for (const int side : {48, 128, 256}) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(side);
        const QImage icon = ostrel::AppIcon::image().scaled(side, side, Qt::IgnoreAspectRatio,
                                                            Qt::SmoothTransformation);
        if (!QDir().mkpath(folder) || !icon.save(folder + QStringLiteral("/ostrel.png"), "PNG")) {
            err << "cannot write " << folder << "/ostrel.png\n";
            return 1;
        }
    }
    return 0;
}
