// ormelix-replay: a recording or a snapshot series shown the way the console showed it.
#include "tools/replay/ReplayWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ormelix-replay"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows an ormelix-cli recording or a console snapshot series."));
    parser.addHelpOption();
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Start at record N (1 is the first)."),
                                    QStringLiteral("N"));
    const QCommandLineOption follow(QStringLiteral("follow"),
                                    QStringLiteral("Stay at the newest record as the file grows."));
    parser.addOption(record);
    parser.addOption(follow);
    parser.addPositionalArgument(QStringLiteral("path"),
                                 QStringLiteral("A recording (.csv), a series folder or a JPEG."),
                                 QStringLiteral("[path]"));
    parser.process(app);

    replay::ReplayWindow window;
    window.resize(560, 600);
    window.show();
    if (!parser.positionalArguments().isEmpty()) {
        if (!window.Open(parser.positionalArguments().first()))
            std::fprintf(stderr, "ormelix-replay: %s\n", qPrintable(window.Status()));
        if (parser.isSet(record)) {
            bool ok = false;
            const long n = parser.value(record).toLong(&ok);
            if (ok && n >= 1) window.Go(static_cast<size_t>(n - 1));
        }
        if (parser.isSet(follow)) window.SetFollow(true);
    }
    return QApplication::exec();
}
