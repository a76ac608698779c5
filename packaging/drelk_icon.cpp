// Writes the wizard's own icon as a PNG file, for the desktop entry of the installed program.
#include "GUI2/g_gui.hpp"
#include "wizard/drelk_art.hpp"

#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: drelk_icon FILE.png\n", stderr);
        return 2;
    }
    QGuiApplication app(argc, argv);
    drelk_register_images();
    QPixmap icon = g_load_image(drelk_icon_id);
    if (icon.isNull() || !icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "drelk_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
