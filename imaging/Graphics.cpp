#include "imaging/Graphics.h"

#include "imaging/Exceptions.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <vector>

namespace {

struct TFileFormat {
    QString Extension; // lower case, no dot
    QString Description;
    TGraphicClass GraphicClass;
};

// Made on first use: classes register from start-up code of other files.
std::vector<TFileFormat>& Formats() {
    static std::vector<TFileFormat> formats;
    return formats;
}

QString Normalised(const QString& Extension) {
    return (Extension.startsWith(u'.') ? Extension.mid(1) : Extension).toLower();
}

const TFileFormat* Find(const QString& Extension) {
    const QString ext = Normalised(Extension);
    const auto& formats = Formats();
    const auto it = std::find_if(formats.begin(), formats.end(),
                                 [&ext](const TFileFormat& f) { return f.Extension == ext; });
    return it == formats.end() ? nullptr : &*it;
}

} // namespace

void TGraphic::LoadFromFile(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(QFileInfo(FileName).absoluteFilePath(), file.errorString());
    LoadFromStream(file);
}

void RegisterFileFormat(const QString& Extension, const QString& Description,
                        TGraphicClass GraphicClass) {
    const QString ext = Normalised(Extension);
    auto& formats = Formats();
    std::erase_if(formats, [&ext](const TFileFormat& f) { return f.Extension == ext; });
    formats.push_back({ext, Description, GraphicClass});
}

void UnregisterGraphicClass(TGraphicClass GraphicClass) {
    std::erase_if(Formats(),
                  [GraphicClass](const TFileFormat& f) { return f.GraphicClass == GraphicClass; });
}

TGraphicClass GraphicClassOf(const QString& Extension) {
    const TFileFormat* f = Find(Extension);
    return f ? f->GraphicClass : nullptr;
}

QString GraphicDescription(const QString& Extension) {
    const TFileFormat* f = Find(Extension);
    return f ? f->Description : QString();
}

QStringList GraphicFilters() {
    QStringList filters;
    std::vector<const TFileFormat*> firsts;
    for (const TFileFormat& f : Formats()) {
        const auto same = std::find_if(firsts.begin(), firsts.end(), [&f](const TFileFormat* g) {
            return g->GraphicClass == f.GraphicClass && g->Description == f.Description;
        });
        if (same == firsts.end()) {
            firsts.push_back(&f);
            filters.push_back(f.Description + QStringLiteral(" (*.") + f.Extension + u')');
        } else {
            QString& entry = filters[static_cast<qsizetype>(same - firsts.begin())];
            entry.insert(entry.size() - 1, QStringLiteral(" *.") + f.Extension);
        }
    }
    return filters;
}

std::unique_ptr<TGraphic> LoadGraphic(const QString& FileName) {
    const QString ext = QFileInfo(FileName).suffix();
    const TGraphicClass graphicClass = GraphicClassOf(ext);
    if (!graphicClass)
        throw EInvalidGraphic(QStringLiteral("Unknown picture file extension (.%1)").arg(ext));
    std::unique_ptr<TGraphic> graphic = graphicClass();
    graphic->LoadFromFile(FileName);
    return graphic;
}
