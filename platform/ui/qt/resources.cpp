#include "platform/ui/qt/resources.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <map>
#include <memory>
#include <mutex>

namespace ui {
namespace {

QByteArray ReadEmbedded(const QString& name) {
    QFile file(QStringLiteral(":/app/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

const rc::Script& AppResources() {
    static rc::Script script;
    static std::once_flag once;
    std::call_once(once, [] {
        rc::Symbols symbols = rc::BuiltinSymbols();
        rc::ReadHeader(ReadEmbedded(QStringLiteral("resource.h")).toStdString(), symbols);
        const QByteArray text = ReadEmbedded(QStringLiteral("app.rc"));
        if (text.isEmpty()) {
            qWarning("no resource script is embedded in the program");
            return;
        }
        std::string error;
        if (!rc::ReadScript(text.toStdString(), symbols, script, &error)) {
            qWarning("resource script: %s", error.c_str());
        }
    });
    return script;
}

const IconData* LoadAppIcon(int id) {
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<IconData>> cache;
    std::lock_guard lock(mutex);
    if (const auto it = cache.find(id); it != cache.end()) {
        return it->second.get();
    }
    const auto file = AppResources().icons.find(id);
    if (file == AppResources().icons.end()) {
        return nullptr;
    }
    // The script names the file as the resource compiler sees it ("res\\x.ico"); it is
    // embedded under its bare name.
    std::string name = file->second;
    if (const size_t slash = name.find_last_of("/\\"); slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    QByteArray bytes = ReadEmbedded(QString::fromStdString(name));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "ico");
    auto icon = std::make_unique<IconData>();
    for (int i = 0; i < std::max(1, reader.imageCount()); ++i) {
        if (!reader.jumpToImage(i) && i > 0) {
            break;
        }
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        if (image.width() == 32 && image.height() == 32) {
            icon->large = image;
        } else if (image.width() == 16 && image.height() == 16) {
            icon->small = image;
        }
    }
    if (icon->large.isNull() && icon->small.isNull()) {
        return nullptr;
    }
    if (icon->large.isNull()) {
        icon->large = icon->small.scaled(32, 32);
    }
    if (icon->small.isNull()) {
        icon->small = icon->large.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return (cache[id] = std::move(icon)).get();
}

}  // namespace ui

HICON CWinApp::LoadIcon(UINT id) const {
    return ui::ToHicon(ui::LoadAppIcon(static_cast<int>(id)));
}
