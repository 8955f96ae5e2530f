// How the jobs of --jobs share the rows out.
#include "ClaimPlan.h"

#include "ExportRun.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <numeric>

namespace pradelux {

QString ClaimKey(const QString& row, const QHash<QString, QString>& subfolders)
{
    return subfolders.value(row) + QLatin1Char('/') + OutputFileName(row).toCaseFolded();
}

ClaimPlan PlanClaims(const QStringList& rows, const QHash<QString, QString>& subfolders, int jobs)
{
    // A row costs its bytes and a part that every row costs, whatever its
    // size (its opening, its PDF's count and copy).
    constexpr qint64 kRowCost = 32 * 1024;
    const qsizetype n = rows.size();
    QStringList folder(n), key(n);
    QList<qint64> cost(n);
    QHash<QString, qint64> folderCost;
    QHash<QString, qsizetype> folderFirst;
    qint64 total = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QFileInfo file(rows[i]);
        folder[i] = file.path();
        key[i] = ClaimKey(rows[i], subfolders);
        cost[i] = file.size() + kRowCost;
        folderCost[folder[i]] += cost[i];
        folderFirst.insert(folder[i], folderFirst.value(folder[i], i));
        total += cost[i];
    }
    const qint64 share = total / qMax(1, jobs);
    // A folder more than a job's share is cut into its rows, which the jobs
    // take side by side; so are the smallest folders, up to half a share,
    // which the jobs take last, so that they end close together.
    QSet<QString> cut;
    QStringList bySize = folderCost.keys();
    std::sort(bySize.begin(), bySize.end(), [&](const QString& a, const QString& b) {
        return folderCost.value(a) != folderCost.value(b) ? folderCost.value(a) < folderCost.value(b)
                                                          : folderFirst.value(a) > folderFirst.value(b);
    });
    qint64 filler = 0;
    for (const QString& f : std::as_const(bySize)) {
        if (folderCost.value(f) > share || (filler += folderCost.value(f)) <= share / 2)
            cut.insert(f);
    }
    // The units a job claims: rows of one PDF, and every row of a folder
    // not cut; a unit larger than a share has its folders cut.
    QList<qsizetype> unit(n);
    const auto find = [&](qsizetype i) {
        while (unit[i] != i)
            i = unit[i] = unit[unit[i]];
        return i;
    };
    for (;;) {
        std::iota(unit.begin(), unit.end(), 0);
        QHash<QString, qsizetype> byKey, byFolder;
        for (qsizetype i = 0; i < n; ++i) {
            unit[find(i)] = find(byKey.value(key[i], i));
            byKey.insert(key[i], i);
            if (!cut.contains(folder[i])) {
                unit[find(i)] = find(byFolder.value(folder[i], i));
                byFolder.insert(folder[i], i);
            }
        }
        QHash<qsizetype, qint64> unitCost;
        for (qsizetype i = 0; i < n; ++i)
            unitCost[find(i)] += cost[i];
        bool more = false;
        for (qsizetype i = 0; i < n; ++i) {
            if (unitCost.value(find(i)) > share && !cut.contains(folder[i])) {
                cut.insert(folder[i]);
                more = true;
            }
        }
        if (!more)
            break;
    }
    // The units that hold a whole folder first, largest first, each in the
    // order its rows are listed; then the rows of cut folders, a folder's
    // together, the largest folders and rows first.
    QHash<qsizetype, qint64> wholeCost;
    for (qsizetype i = 0; i < n; ++i) {
        if (!cut.contains(folder[i]))
            wholeCost.insert(find(i), 0);
    }
    for (qsizetype i = 0; i < n; ++i) {
        if (wholeCost.contains(find(i)))
            wholeCost[find(i)] += cost[i];
    }
    QList<qsizetype> order(n);
    std::iota(order.begin(), order.end(), 0);
    QHash<qsizetype, qsizetype> unitFirst;
    for (qsizetype i = n - 1; i >= 0; --i)
        unitFirst.insert(find(i), i);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const qsizetype ua = find(a), ub = find(b);
        const bool wa = wholeCost.contains(ua), wb = wholeCost.contains(ub);
        if (wa != wb)
            return wa;
        if (wa) {
            if (ua == ub)
                return false;
            return wholeCost.value(ua) != wholeCost.value(ub) ? wholeCost.value(ua) > wholeCost.value(ub)
                                                              : unitFirst.value(ua) < unitFirst.value(ub);
        }
        if (folder[a] != folder[b]) {
            const qint64 x = folderCost.value(folder[a]), y = folderCost.value(folder[b]);
            return x != y ? x > y : folderFirst.value(folder[a]) < folderFirst.value(folder[b]);
        }
        return cost[a] > cost[b];
    });
    // Rows that write one PDF keep the places the sort gave them, but take
    // them in the order the run lists them: the one job that claims them
    // writes them in that order, and the last listed is the PDF that stays.
    QHash<QString, QList<qsizetype>> places;
    for (qsizetype at = 0; at < n; ++at)
        places[key[order[at]]] << at;
    ClaimPlan plan;
    plan.order.resize(n);
    for (const QList<qsizetype>& at : std::as_const(places)) {
        QList<qsizetype> listed;
        for (qsizetype place : at)
            listed << order[place];
        std::sort(listed.begin(), listed.end());
        for (qsizetype k = 0; k < at.size(); ++k)
            plan.order[at[k]] = rows[listed[k]];
    }
    for (qsizetype i = 0; i < n; ++i)
        plan.units.insert(rows[i], QStringLiteral("unit-%1").arg(find(i)));
    return plan;
}

bool WritePairs(const QString& path, const QHash<QString, QString>& pairs)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (auto it = pairs.cbegin(); it != pairs.cend(); ++it)
        file.write(QFile::encodeName(it.key()) + '\0' + QFile::encodeName(it.value()) + '\0');
    return file.flush();
}

QHash<QString, QString> ReadPairs(const QString& path)
{
    QFile file(path);
    QHash<QString, QString> pairs;
    if (!file.open(QIODevice::ReadOnly))
        return pairs;
    const QList<QByteArray> fields = file.readAll().split('\0');
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2)
        pairs.insert(QFile::decodeName(fields[i]), QFile::decodeName(fields[i + 1]));
    return pairs;
}

} // namespace pradelux
