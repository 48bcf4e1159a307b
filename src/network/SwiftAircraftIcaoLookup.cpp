// Look-ups in the aircraft-type snapshot: designator candidates in a type
// text, normalisation and search.
#include "network/SwiftAircraftIcaoService.h"

#include <QDebug>
#include <QRegularExpression>

#include <algorithm>

namespace velk::network {

namespace {

bool isAsciiAlnum(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9');
}

QString alnumOnly(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (isAsciiAlnum(c)) {
            out.append(c);
        }
    }
    return out;
}

// 1200 equal, 900 prefix, 600 contained, 0 otherwise. Designators are at
// most four characters, so a plain scan beats the general string search.
int matchScore(QStringView designator, QStringView query) {
    const qsizetype n = designator.size();
    const qsizetype m = query.size();
    if (m > n) {
        return 0;
    }
    const auto at = [&](qsizetype offset) {
        return std::equal(query.begin(), query.end(), designator.begin() + offset);
    };
    if (at(0)) {
        return m == n ? 1200 : 900;
    }
    for (qsizetype offset = 1; offset + m <= n; ++offset) {
        if (at(offset)) {
            return 600;
        }
    }
    return 0;
}

} // namespace

QStringList SwiftAircraftIcaoService::designatorCandidates(const QString& text) const {
    QStringList out;
    // A flight-plan text may be tens of kilobytes long: duplicates are found
    // through a set, not by scanning the list.
    QSet<QStringView> seen;
    const auto add = [&](QStringView candidate) {
        if (candidate.size() >= 2 && candidate.size() <= 4 && !seen.contains(candidate)) {
            seen.insert(candidate);
            out.append(candidate.toString());
        }
    };
    add(text);

    // Runs of A-Z/0-9: the parts between separators.
    QList<QStringView> runs;
    const QStringView view(text);
    for (qsizetype i = 0; i < view.size();) {
        if (!isAsciiAlnum(view[i])) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < view.size() && isAsciiAlnum(view[end])) {
            ++end;
        }
        runs.append(view.mid(i, end - i));
        i = end;
    }
    for (QStringView run : runs) {
        add(run);
        add(run.left(4));
    }
    // Left-to-right chunks of two to four characters within each run.
    for (QStringView run : runs) {
        for (qsizetype i = 0; run.size() - i >= 2; i += 4) {
            add(run.mid(i, std::min<qsizetype>(4, run.size() - i)));
        }
    }
    const QString joined = alnumOnly(view);
    add(joined);
    add(QStringView(joined).left(4));
    return out;
}

DesignatorNormalization SwiftAircraftIcaoService::normalizeDesignator(const QString& designator) const {
    DesignatorNormalization result;
    result.input = designator;
    result.normalized = designator.trimmed().toUpper();
    if (result.normalized.isEmpty() || !ready) {
        return result;
    }
    for (const QString& candidate : designatorCandidates(result.normalized)) {
        if (designators.contains(candidate)) {
            result.exact = candidate == result.normalized;
            result.normalized = candidate;
            result.found = true;
            break;
        }
    }
    return result;
}

QList<AircraftIcaoRecord> SwiftAircraftIcaoService::recordsForDesignator(const QString& designator) const {
    return recordsByDesignator.value(designator.trimmed().toUpper());
}

QStringList SwiftAircraftIcaoService::searchDesignators(const QString& query, int limit) const {
    if (limit < 1 || !ready) {
        return {};
    }
    const QString upper = query.trimmed().toUpper();
    if (upper.isEmpty()) {
        return {};
    }
    const QString stripped = alnumOnly(upper);
    const bool useStripped = !stripped.isEmpty();

    struct Hit {
        int score;
        const QString* designator;
    };
    QList<Hit> hits;
    for (const QString& d : designators) {
        if (d.size() < 2 || d.size() > 4) {
            continue;
        }
        int score = matchScore(d, upper);
        if (useStripped) {
            score = std::max(score, matchScore(d, stripped));
        }
        if (score == 0) {
            continue;
        }
        if (d.size() == 4) {
            score += 40;
        }
        hits.append({score, &d});
    }
    const auto better = [](const Hit& a, const Hit& b) {
        if (a.score != b.score) {
            return a.score > b.score;
        }
        return *a.designator < *b.designator;
    };
    const qsizetype count = std::min<qsizetype>(limit, hits.size());
    std::partial_sort(hits.begin(), hits.begin() + count, hits.end(), better);
    QStringList out;
    out.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        out.append(*hits[i].designator);
    }
    return out;
}

} // namespace velk::network
