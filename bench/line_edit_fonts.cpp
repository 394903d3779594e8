// Text of line edits against labels, font by font: one window, one row per font setting, each row
// a line edit and a label with the same text and font on the same white ground, and the same text
// drawn by a QPainter into an opaque and a transparent image. Looked at on Qt's `windows`
// platform under Wine (tools/demo/screenshot-windows.sh --fonts) to see which settings leave the
// line edit blank.
//   line_edit_fonts [-platform windows[:fontengine=freetype]]
#include <QApplication>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace {

struct Setting {
    const char* name;
    QFont::StyleStrategy strategy;
    QFont::HintingPreference hinting;
    int pixelSize; // 0: the application's font
};

QImage Drawn(const QFont& Font, QImage::Format Format, bool Clipped = false) {
    QImage image(80, 18, Format);
    image.fill(Qt::white);
    QPainter p(&image);
    if (Clipped) p.setClipRect(QRect(1, 1, 78, 16));
    p.setFont(Font);
    p.setPen(Qt::black);
    p.drawText(QRect(2, 0, 78, 18), Qt::AlignVCenter, QStringLiteral("12.345"));
    return image;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const Setting settings[] = {
        {"application font", QFont::PreferDefault, QFont::PreferDefaultHinting, 0},
        {"Tahoma 11 px (the console's)", QFont::PreferDefault, QFont::PreferDefaultHinting, 11},
        {"Tahoma 11 px NoAntialias", QFont::NoAntialias, QFont::PreferDefaultHinting, 11},
        {"Tahoma 11 px PreferAntialias", QFont::PreferAntialias, QFont::PreferDefaultHinting, 11},
        {"Tahoma 11 px NoSubpixelAntialias", QFont::NoSubpixelAntialias,
         QFont::PreferDefaultHinting, 11},
        {"Tahoma 11 px PreferNoHinting", QFont::PreferDefault, QFont::PreferNoHinting, 11},
        {"Tahoma 11 px PreferFullHinting", QFont::PreferDefault, QFont::PreferFullHinting, 11},
        {"Tahoma 16 px", QFont::PreferDefault, QFont::PreferDefaultHinting, 16},
    };
    QWidget window;
    window.setWindowTitle(QStringLiteral("line edit text"));
    auto* grid = new QGridLayout(&window);
    const char* heads[] = {"setting",     "QLineEdit",      "read-only",    "QLabel",
                           "image RGB32", "image ARGB32pm", "RGB32 clipped"};
    for (int c = 0; c < 7; ++c) grid->addWidget(new QLabel(QString::fromLatin1(heads[c])), 0, c);
    int row = 1;
    for (const Setting& s : settings) {
        QFont font = s.pixelSize == 0 ? QApplication::font() : QFont(QStringLiteral("Tahoma"));
        if (s.pixelSize != 0) font.setPixelSize(s.pixelSize);
        font.setStyleStrategy(s.strategy);
        font.setHintingPreference(s.hinting);
        grid->addWidget(new QLabel(QString::fromLatin1(s.name)), row, 0);
        auto* edit = new QLineEdit(QStringLiteral("12.345"));
        edit->setFont(font);
        grid->addWidget(edit, row, 1);
        auto* readOnly = new QLineEdit(QStringLiteral("12.345"));
        readOnly->setFont(font);
        readOnly->setReadOnly(true);
        grid->addWidget(readOnly, row, 2);
        auto* label = new QLabel(QStringLiteral("12.345"));
        label->setFont(font);
        label->setAutoFillBackground(true);
        QPalette pal = label->palette();
        pal.setColor(QPalette::Window, Qt::white);
        label->setPalette(pal);
        grid->addWidget(label, row, 3);
        auto* rgb = new QLabel;
        rgb->setPixmap(QPixmap::fromImage(Drawn(font, QImage::Format_RGB32)));
        grid->addWidget(rgb, row, 4);
        auto* argb = new QLabel;
        argb->setPixmap(QPixmap::fromImage(Drawn(font, QImage::Format_ARGB32_Premultiplied)));
        grid->addWidget(argb, row, 5);
        auto* clipped = new QLabel;
        clipped->setPixmap(QPixmap::fromImage(Drawn(font, QImage::Format_RGB32, true)));
        grid->addWidget(clipped, row, 6);
        ++row;
    }
    // A tall field: text drawn at a wrong height would show up in it.
    auto* tall = new QLineEdit(QStringLiteral("12.345 tall field"));
    tall->setFixedHeight(120);
    grid->addWidget(new QLabel(QStringLiteral("tall field, application font")), row, 0);
    grid->addWidget(tall, row, 1, 1, 2);
    window.show();
    return app.exec();
}
