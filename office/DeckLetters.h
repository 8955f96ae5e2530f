// The letters a deck prints, as the file check gathers them from its XML or
// its PowerPoint records.
#pragma once

#include <QList>
#include <QStringView>

#include <optional>
#include <set>

namespace pradelux::office {

// The letters beyond ASCII that a deck holds, in its text and in its
// bullets and numbering, each once; not known once something that draws
// letters of its own is met, or more than kMost of them.
class DeckLetters
{
public:
    static constexpr qsizetype kMost = 256;
    void add(QStringView text);
    // A part whose letters are not read: a metafile, a drawing, an object.
    void unknown() { m_known = false; }
    std::optional<QList<char32_t>> letters() const;

private:
    std::set<char32_t> m_seen;
    bool m_known = true;
};

inline void DeckLetters::add(QStringView text)
{
    for (const char32_t c : text.toUcs4()) {
        if (c < 0x80 || !m_known)
            continue;
        m_seen.insert(c);
        if (qsizetype(m_seen.size()) > kMost)
            unknown();
    }
}

inline std::optional<QList<char32_t>> DeckLetters::letters() const
{
    if (!m_known)
        return std::nullopt;
    return QList<char32_t>(m_seen.begin(), m_seen.end());
}

} // namespace pradelux::office
