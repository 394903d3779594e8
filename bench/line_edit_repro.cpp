// The smallest program with the blank line edit of Qt's `windows` platform under Wine: one line
// edit with the application's font. It prints the two ascents the line edit sets against each
// other to place its text (the font's, and that of the laid-out line of text); where they
// differ, the text and the cursor are drawn that far above their place and clipped away.
//   line_edit_repro [-platform windows[:fontengine=freetype]] [--quit]
#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTextLayout>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLineEdit edit(QStringLiteral("12.345"));
    QTextLayout layout(edit.text(), edit.font());
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    const QFontMetrics fm(edit.font());
    std::printf("%s %d px: font ascent %d, descent %d, height %d, leading %d; line ascent %g, "
                "descent %g, height %g\n",
                qPrintable(QFontInfo(edit.font()).family()), QFontInfo(edit.font()).pixelSize(),
                fm.ascent(), fm.descent(), fm.height(), fm.leading(), line.ascent(), line.descent(),
                line.height());
    std::fflush(stdout);
    if (argc > 1 && std::strcmp(argv[argc - 1], "--quit") == 0) return 0;
    edit.show();
    return app.exec();
}
