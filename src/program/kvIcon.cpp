// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvIcon.h"

#include "common/kvCommon.h"
#include "host/PeResources.h"
#include "inventory/kvApplication.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>

using namespace Qt::Literals::StringLiterals;

// The resource initialiser is declared at global scope by Q_INIT_RESOURCE.
static int registerIconResources()
{
    Q_INIT_RESOURCE(kvIcons);
    return 0;
}

namespace kelvane {

void InitIconResources()
{
    [[maybe_unused]] static const int registered = registerIconResources(); // once, thread-safe
}

namespace {

// Bumps the label's loader number on the GUI thread; the new loader is the
// only one whose result the label still takes.
qulonglong nextGeneration(QLabel *label)
{
    if (!label)
        return 0;
    Q_ASSERT_X(label->thread() == QThread::currentThread(), "TIconLoader", "constructed off the label's thread");
    const qulonglong generation = label->property(TIconLoader::GenerationProperty).toULongLong() + 1;
    label->setProperty(TIconLoader::GenerationProperty, generation);
    return generation;
}

// The picture's size: icons are read nearest 32 x 32, an odd size is scaled.
QImage fitted(QImage image)
{
    if (image.isNull())
        return image;
    if (image.width() != TIconLoader::IconSize || image.height() != TIconLoader::IconSize)
        image = image.scaled(TIconLoader::IconSize, TIconLoader::IconSize, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage readIcon(const QString &hostFile, int index)
{
    const std::optional<pe::IconImage> icon = pe::extractIconFromFile(hostFile, index);
    if (!icon)
        return {};
    return fitted(QImage::fromData(icon->ico, "ICO"));
}

} // namespace

TIconLoader::TIconLoader(std::shared_ptr<const TAppItem> item, const Target &target, QLabel *targetIcon,
                         bool useFallback)
    : m_iconSources(item ? item->IconPaths : QStringList())
    , m_drives(target.drives())
    , m_targetIcon(targetIcon)
    , m_useFallback(useFallback)
    , m_generation(nextGeneration(targetIcon))
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

QImage TIconLoader::fallbackIcon()
{
    InitIconResources();
    return fitted(QImage(u":/icons/noicon.png"_s));
}

void TIconLoader::run()
{
    Execute();
}

void TIconLoader::Execute()
{
    handOver(QImage());
    QImage icon;
    QStringList fields; // our own list: the GUI thread's lists are never touched here
    for (const QString &source : m_iconSources) {
        if (!icon.isNull() || isInterruptionRequested())
            break;
        SplitText(&fields, source, u',');
        if (fields.isEmpty() || fields.first().isEmpty())
            continue;
        const QString hostFile = m_drives.hostPath(fields.first());
        if (hostFile.isEmpty() || !QFileInfo(hostFile).isFile())
            continue;
        int index = 0;
        if (fields.size() >= 2) {
            // Surrounding blanks are tolerated ("app.exe, 0" is common); anything
            // else that is not a decimal integer ends the loader.
            bool ok = false;
            index = fields.at(1).toInt(&ok, 10);
            if (!ok)
                return; // the picture stays blank and the fallback is not applied
        }
        icon = readIcon(hostFile, index);
    }
    if (icon.isNull() && m_useFallback)
        icon = fallbackIcon();
    if (!icon.isNull())
        handOver(icon);
}

void TIconLoader::handOver(const QImage &image)
{
    // Queued to this object, which lives on the GUI thread and is deleted only
    // after finished(), so the call runs before it goes; the label is checked there.
    QMetaObject::invokeMethod(
        this,
        [this, image] {
            QLabel *label = m_targetIcon.data();
            if (!label || label->property(GenerationProperty).toULongLong() != m_generation)
                return; // a newer loader owns the picture
            label->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
        },
        Qt::QueuedConnection);
}

} // namespace kelvane
