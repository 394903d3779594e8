#include "tools/replay/Export.h"

#include "imaging/Exceptions.h"
#include "imaging/jpeg.h"
#include "tools/replay/Series.h"

#include <QFileInfo>
#include <QImageWriter>
#include <map>

namespace replay {

SeriesPlan PlanSeries(const std::vector<std::pair<size_t, QDateTime>>& Times) {
    SeriesPlan plan;
    std::map<QString, size_t> slot; // name → place in Pictures
    for (const auto& [index, when] : Times) {
        if (!when.isValid()) {
            ++plan.Untimed;
            continue;
        }
        if (plan.Folder.isEmpty()) plan.Folder = SeriesFolderName(when);
        const QString name = PictureName(when);
        const auto found = slot.find(name);
        if (found != slot.end()) {
            plan.Pictures[found->second].first = index;
        } else {
            slot.emplace(name, plan.Pictures.size());
            plan.Pictures.emplace_back(index, name);
        }
    }
    return plan;
}

QString SavePicture(const QImage& Picture, const QString& Path) {
    const QString suffix = QFileInfo(Path).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) {
        try {
            TJPEGImage jpeg;
            jpeg.Assign(Picture);
            jpeg.SetQuality(50);
            jpeg.SaveToFile(Path);
            return {};
        } catch (const Exception& e) {
            return e.Message();
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
    }
    QImageWriter writer(Path, "png");
    if (!writer.write(Picture)) return writer.errorString();
    return {};
}

} // namespace replay
