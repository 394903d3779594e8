#include "app/Ormelix.h"

#include "app/Unit1.h"
#include "hid/HidPlatform.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <clocale>
#include <cstdio>
#include <cstdlib>

void PrepareOrmelixApplication(QApplication&) {
#ifndef _WIN32
    // Wine's Tahoma carries Cyrillic and lies outside fontconfig's folders; on Windows it is the
    // system's own.
    static const char* const tahoma = "/usr/share/wine/fonts/tahoma.ttf";
    if (QFile::exists(QString::fromLatin1(tahoma)))
        QFontDatabase::addApplicationFont(QString::fromLatin1(tahoma));
#endif
    // Numbers are shown with the user's decimal separator.
    std::setlocale(LC_NUMERIC, "");
}

bool DisplayAvailable(const char* ProgramPath) {
#ifdef _WIN32
    // Windows always has its desktop; there is no display to look for.
    (void)ProgramPath;
    return true;
#else
    const auto set = [](const char* Name) {
        const char* v = std::getenv(Name);
        return v && *v;
    };
    if (set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM")) return true;
    std::fprintf(stderr, "No display found: start the console under Xvfb with: xvfb-run -a %s\n",
                 ProgramPath ? ProgramPath : "ormelix");
    return false;
#endif
}

int OrmelixMain(int argc, char** argv) {
    if (!DisplayAvailable(argc > 0 ? argv[0] : nullptr)) return 1;
    QApplication app(argc, argv);
    PrepareOrmelixApplication(app);
    int code = 0;
    {
        TOrmelix_Control_Form form;
        form.show();
        code = app.exec();
    }
    SnapshotFolder.clear();
    return code;
}
