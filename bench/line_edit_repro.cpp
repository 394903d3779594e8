// The smallest program with the blank line edit of Qt's `windows` platform under Wine: one line
// edit with the application's font. It prints the font families Qt found, the application
// font's metrics, those of the laid-out line and the text's bounding rectangle, then the same
// for Tahoma. The line edit centres its line on the height of that rectangle: where it is
// larger than the font's (the GDI engine gives it the font's GDI text height), the text and
// the cursor are drawn above their place and clipped away.
//   line_edit_repro [-platform windows[:fontengine=freetype]] [--quit]
#include <QApplication>
#include <QFontDatabase>
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
    const QStringList families = QFontDatabase::families();
    std::printf("%lld font families:", static_cast<long long>(families.size()));
    for (const QString& family : families) std::printf(" [%s]", qPrintable(family));
    std::printf("\n");
    const QRect box = fm.boundingRect(edit.text());
    std::printf("bounding rectangle of the text: %d x %d at %d\n", box.width(), box.height(),
                box.y());
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(11);
    const QFontMetrics tm(tahoma);
    std::printf("%s 11 px: height %d, bounding rectangle of the text %d high at %d\n",
                qPrintable(QFontInfo(tahoma).family()), tm.height(),
                tm.boundingRect(edit.text()).height(), tm.boundingRect(edit.text()).y());
    std::fflush(stdout);
    if (argc > 1 && std::strcmp(argv[argc - 1], "--quit") == 0) return 0;
    edit.show();
    return app.exec();
}
