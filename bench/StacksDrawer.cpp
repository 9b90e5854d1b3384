// The stacks drawer as the application builds it, in a shelf panel, its cards drawing stored
// thumbnails: the first frame of a drawer holding 5,000 items in 2,000 turns and the frames while
// the wheel scrolls its strip continuously, beside the same figures for 50 items.
#include "DrawerBench.h"

#include "Platform/OpenSsl.h"

#include <QApplication>
#include <QFont>

using namespace ostrel;

int main(int argc, char** argv) {
    OpenSsl::init();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
    bench::reportDrawer("stacks", 5000, 2000, LayoutChoice::stacks);
    bench::reportDrawer("stacks", 50, 20, LayoutChoice::stacks);
    return 0;
}
