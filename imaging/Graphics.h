// The generic picture: what every picture class offers, and the registry that maps file
// extensions to picture classes, so that a picture file can be opened without knowing its kind.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QIODevice;
class QPainter;
class QRect;

class TGraphic {
public:
    TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;
    virtual ~TGraphic() = default;

    virtual void LoadFromStream(QIODevice& Stream) = 0;
    // EFOpenError when the file cannot be opened for reading.
    virtual void LoadFromFile(const QString& FileName);
    virtual void SaveToStream(QIODevice& Stream) = 0;
    virtual void SaveToFile(const QString& FileName) = 0;
    // Scales the picture into Rect.
    virtual void Draw(QPainter& Painter, const QRect& Rect) = 0;

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const = 0;
};

// Makes a new, empty picture of one class; the registry keys classes by this function.
using TGraphicClass = std::unique_ptr<TGraphic> (*)();

// Extension without the dot, any case. A later registration of an extension replaces the earlier.
void RegisterFileFormat(const QString& Extension, const QString& Description,
                        TGraphicClass GraphicClass);
// Forgets every extension of that class.
void UnregisterGraphicClass(TGraphicClass GraphicClass);

// nullptr when no class is registered for the extension (with or without its dot).
TGraphicClass GraphicClassOf(const QString& Extension);
QString GraphicDescription(const QString& Extension);
// For file dialogs, one entry per class in registration order: "JPEG Image File (*.jpeg *.jpg)".
QStringList GraphicFilters();

// A picture of the class registered for the file's extension, loaded from the file.
// EInvalidGraphic "Unknown picture file extension (.ext)" when none is registered.
std::unique_ptr<TGraphic> LoadGraphic(const QString& FileName);
