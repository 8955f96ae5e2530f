// Our skin engine: a skin file is a Qt style sheet that it lays over a window.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace pradelux {

class SkinFramework : public QObject
{
    Q_OBJECT
public:
    explicit SkinFramework(QObject* parent = nullptr) : QObject(parent) {}

    // Reads the skin; throws a Failure when the file cannot be read.
    void LoadSkin(const QString& path, const QString& iniName);
    // Bit 0: skin the window's own frame and background too.
    int applyOptions() const { return m_options; }
    void setApplyOptions(int options) { m_options = options; }
    void setApplyMetrics(bool on) { m_metrics = on; }
    void setApplyColors(bool on) { m_colors = on; }
    // Applies the loaded skin to the window.
    void ApplyWindow(QWidget* window);

    bool loaded() const { return !m_styleSheet.isEmpty(); }

private:
    QString m_styleSheet;
    int m_options = 0;
    bool m_metrics = false;
    bool m_colors = false;
};

} // namespace pradelux
