#include "account/ai_music_text_processor.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

namespace fotivela::AIMusicTextProcessor {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> seedTable{{
    {"voz suave", "melodia suave"},
    {"voz principal", "melodia principal"},
    {"lead vocal", "lead melody"},
    {"female vocal", "lead melody"},
    {"male vocal", "lead melody"},
}};

constexpr std::array<std::string_view, 5> removedSentences{
    "No vocals, no singer, no lyrics, no spoken words.",
    "No vocals, no singer, no lyrics, no spoken words",
    "No vocals, no lyrics, no spoken words.",
    "No vocals, no lyrics, no spoken words",
    "Instrumental only",
};

constexpr std::array<std::string_view, 21> removedPhrases{
    "no instrumentals", "no lead instrument", "no instrumental layers", "female vocals", "male vocals",
    "female vocal", "male vocal", "spanish lead vocal", "lead vocal", "main vocal", "vocal performance",
    "vocal hook", "vocal chorus", "vocals", "singer", "cantante", "voz femenina", "voz masculina",
    "voz principal", "palabras cantadas", "spoken words",
};

constexpr std::string_view defaultInstrumentalStyle =
    "Cinematic instrumental score, movie intro, orchestral textures, piano, strings, deep percussion, dramatic "
    "build, polished film production";
constexpr std::string_view enrichmentSuffix =
    ", cinematic instrumental score, movie intro atmosphere, orchestral textures, piano, strings, deep "
    "percussion, dramatic build, emotional tension, polished film production";

QString q(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string s(const QString& text)
{
    return text.toStdString();
}

// The text folded for matching (accents dropped, case folded), with the original position of each
// folded character and the end of the original character it came from. Plain ASCII text folds
// character for character, so its positions are its own and no table is kept.
struct FoldedText {
    QString text;
    bool isOneToOne = false;
    std::vector<qsizetype> starts;
    std::vector<qsizetype> ends;

    qsizetype size() const { return text.size(); }
    qsizetype start(qsizetype i) const { return isOneToOne ? i : starts[static_cast<std::size_t>(i)]; }
    qsizetype end(qsizetype i) const { return isOneToOne ? i + 1 : ends[static_cast<std::size_t>(i)]; }
};

bool isAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

FoldedText fold(const QString& original)
{
    FoldedText folded;
    if (isAscii(original)) {
        folded.text = original.toLower();
        folded.isOneToOne = true;
        return folded;
    }
    folded.text.reserve(original.size());
    folded.starts.reserve(static_cast<std::size_t>(original.size()));
    folded.ends.reserve(static_cast<std::size_t>(original.size()));
    qsizetype i = 0;
    while (i < original.size()) {
        const QChar first = original[i];
        // ASCII folds to its lower case alone; only the rest needs Unicode's tables.
        if (first.unicode() < 0x80) {
            folded.text.append(first.toLower());
            folded.starts.push_back(i);
            folded.ends.push_back(i + 1);
            ++i;
            continue;
        }
        const qsizetype width = first.isHighSurrogate() && i + 1 < original.size() ? 2 : 1;
        const QString decomposed = original.mid(i, width).normalized(QString::NormalizationForm_D);
        for (const QChar c : decomposed) {
            if (c.category() == QChar::Mark_NonSpacing)
                continue;
            for (const QChar f : QString(c).toCaseFolded()) {
                folded.text.append(f);
                folded.starts.push_back(i);
                folded.ends.push_back(i + width);
            }
        }
        i += width;
    }
    return folded;
}

// Whether the folded characters first to last cover whole original characters.
bool coversWholeCharacters(const FoldedText& folded, qsizetype first, qsizetype last)
{
    return (first == 0 || folded.start(first - 1) != folded.start(first)) &&
           (last + 1 == folded.size() || folded.start(last + 1) != folded.start(last));
}

QString foldedNeedle(std::string_view needle)
{
    return fold(q(needle)).text;
}

// Each match of needle in the folded text, in order and without overlaps, as original start and
// end. One folding and one scan: linear in the text.
std::vector<std::pair<qsizetype, qsizetype>> findAllInsensitive(const FoldedText& folded, const QString& needle)
{
    std::vector<std::pair<qsizetype, qsizetype>> matches;
    if (needle.isEmpty())
        return matches;
    qsizetype at = folded.text.indexOf(needle, 0);
    while (at >= 0) {
        const qsizetype last = at + needle.size() - 1;
        if (coversWholeCharacters(folded, at, last)) {
            matches.emplace_back(folded.start(at), folded.end(last));
            // Go on after the original character the match ended in.
            qsizetype next = last + 1;
            while (next < folded.size() && folded.start(next) < folded.end(last))
                ++next;
            at = folded.text.indexOf(needle, next);
        } else {
            at = folded.text.indexOf(needle, at + 1);
        }
    }
    return matches;
}

// The first match, as original start and end.
std::optional<std::pair<qsizetype, qsizetype>> findInsensitive(const QString& text, const QString& needle)
{
    if (needle.isEmpty())
        return std::nullopt;
    const FoldedText folded = fold(text);
    for (qsizetype at = folded.text.indexOf(needle); at >= 0; at = folded.text.indexOf(needle, at + 1)) {
        const qsizetype last = at + needle.size() - 1;
        if (coversWholeCharacters(folded, at, last))
            return std::make_pair(folded.start(at), folded.end(last));
    }
    return std::nullopt;
}

// A text and its folding, refolded only when a replacement has changed the text.
class FoldedTextEditor {
public:
    explicit FoldedTextEditor(QString text) : m_text(std::move(text)), m_folded(fold(m_text)) {}

    void replaceAll(std::string_view phrase, const QString& replacement)
    {
        const auto matches = findAllInsensitive(m_folded, foldedNeedle(phrase));
        if (matches.empty())
            return;
        QString result;
        result.reserve(m_text.size());
        qsizetype copied = 0;
        for (const auto& [start, end] : matches) {
            result.append(QStringView(m_text).mid(copied, start - copied));
            result.append(replacement);
            copied = end;
        }
        result.append(QStringView(m_text).mid(copied));
        m_text = std::move(result);
        m_folded = fold(m_text);
    }

    const QString& text() const { return m_text; }

private:
    QString m_text;
    FoldedText m_folded;
};

QString trimmedOf(const QString& text, const QString& set)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && set.contains(text[first]))
        ++first;
    while (last > first && set.contains(text[last - 1]))
        --last;
    return text.mid(first, last - first);
}

const QString trimSet = QStringLiteral(" .,;\n\t");

} // namespace

std::string instrumentalStyleSeed(std::string_view text)
{
    FoldedTextEditor result(q(text).trimmed());
    for (const auto& [phrase, replacement] : seedTable)
        result.replaceAll(phrase, q(replacement));
    return s(result.text());
}

std::string enrichedInstrumentalStyle(std::string_view text)
{
    const QString trimmed = trimmedOf(q(text), trimSet);
    if (trimmed.isEmpty())
        return std::string(defaultInstrumentalStyle);
    return s(trimmed) + std::string(enrichmentSuffix);
}

std::string instrumentalStyle(std::string_view text, std::string_view fallback)
{
    FoldedTextEditor editor(q(instrumentalStyleSeed(text)));
    for (const auto sentence : removedSentences)
        editor.replaceAll(sentence, {});
    for (const auto phrase : removedPhrases)
        editor.replaceAll(phrase, {});
    QString style = editor.text();
    static const QRegularExpression negation(QStringLiteral("\\bno\\b\\s*[,.;-]*\\s*"),
                                             QRegularExpression::CaseInsensitiveOption |
                                                 QRegularExpression::UseUnicodePropertiesOption);
    while (style.contains(negation))
        style.remove(negation);
    style.replace(QStringLiteral("  "), QStringLiteral(" "));
    style.replace(QStringLiteral(" ,"), QStringLiteral(","));
    style.replace(QStringLiteral(", ,"), QStringLiteral(","));
    style.replace(QStringLiteral(" ."), QStringLiteral("."));
    style.replace(QStringLiteral(".."), QStringLiteral("."));

    const QString cleaned = trimmedOf(style, trimSet);
    const QString base = trimmedOf(q(instrumentalStyleSeed(fallback)), trimSet);
    static const QRegularExpression separators(QStringLiteral("[ ,.]"));
    const bool isGeneric = cleaned.toLower().remove(QLatin1Char(' ')) == QLatin1String("instrumentalonly");
    if (!cleaned.isEmpty() && !isGeneric && cleaned.split(separators, Qt::SkipEmptyParts).size() > 7)
        return s(cleaned);
    return enrichedInstrumentalStyle(s(base.isEmpty() ? cleaned : base));
}

GeneratedMusicText parseGeneratedMusicText(std::string_view input)
{
    QString text = q(input);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    QString styleBlock;
    QString before = text;
    for (const char* marker : {"Estilo musical:", "Estilo:", "Musical style:", "Style:", "[Style]"}) {
        if (const auto match = findInsensitive(text, foldedNeedle(marker))) {
            styleBlock = text.mid(match->second).trimmed();
            before = text.left(match->first).trimmed();
            break;
        }
    }

    QString lyrics = before;
    for (const char* label : {"Letra:", "Lyrics:"}) {
        const auto match = findInsensitive(before, foldedNeedle(label));
        if (match && before.left(match->first).trimmed().isEmpty()) {
            lyrics = before.mid(match->second).trimmed();
            break;
        }
    }

    QString style;
    for (const QString& line : styleBlock.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        style = line.trimmed();
        break;
    }
    return {s(lyrics), s(style)};
}

} // namespace fotivela::AIMusicTextProcessor
