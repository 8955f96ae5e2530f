// Our skin engine.
#include "SkinFramework.h"

#include "Failure.h"

#include <QFile>
#include <QWidget>

namespace pradelux {

void SkinFramework::LoadSkin(const QString& path, const QString&)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw Failure(failure::kFileNotFound, QStringLiteral("The skin %1 cannot be read").arg(path));
    m_styleSheet = QString::fromUtf8(file.readAll());
}

void SkinFramework::ApplyWindow(QWidget* window)
{
    if (!window || m_styleSheet.isEmpty())
        return;
    // Without colours and metrics the skin would only change borders; the
    // window keeps its platform look then.
    if (m_colors || m_metrics || (m_options & 1))
        window->setStyleSheet(m_styleSheet);
}

} // namespace pradelux
